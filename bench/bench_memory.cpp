// Peak resident memory of one process of a large job: the preparation of a generated
// alignment and tree, then the work of one phase as a process does it (the ML rate of the first
// sites, as a worker computes them, and the master's check pass, every site's log-likelihood
// at its rate). Prints the times, VmHWM after the preparation and at the end, and a checksum of
// every computed value's bits, which must not change when only the storage does.
//
// Usage: bench_memory [sequences] [sites] [ML sites]   (default 1000 5000 20)
#include "alignment.h"
#include "sitelikelihood.h"
#include "sitework.h"
#include "vantrel.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::mt19937 rng(2026);

double uniform() {
    return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
}

std::string name(int i) {
    return "seq" + std::to_string(i);
}

std::string length() {
    return ":" + std::to_string(0.02 + 0.3 * uniform());
}

// Leaves lo..hi-1 split at a random point, so that the depths vary as in a real tree.
std::string subtree(int lo, int hi) {
    if (hi - lo == 1) return name(lo) + length();
    int cut = lo + 1 + static_cast<int>(uniform() * (hi - lo - 1));
    return "(" + subtree(lo, cut) + "," + subtree(cut, hi) + ")" + length();
}

void writeTree(const std::string& path, int n) {
    std::ofstream out(path);
    out << "(" << subtree(0, n / 3) << "," << subtree(n / 3, 2 * n / 3) << "," << subtree(2 * n / 3, n)
        << ");\n";
}

// Columns from one ancestral residue per site, each letter keeping it with the site's own
// probability; one site in five has gaps, each sequence gapped there with probability 0.2.
void writeAlignment(const std::string& path, int n, int L) {
    const char* aa = "ARNDCQEGHILKMFPSTWYV";
    std::vector<double> keep(L), gapped(L);
    std::vector<char> ancestor(L);
    for (int s = 0; s < L; s++) {
        keep[s] = uniform();
        ancestor[s] = aa[static_cast<int>(uniform() * 20)];
        gapped[s] = uniform() < 0.2 ? 0.2 : 0.0;
    }
    std::ofstream out(path);
    std::string line;
    for (int i = 0; i < n; i++) {
        line = name(i) + "   ";
        for (int s = 0; s < L; s++) {
            if (uniform() < gapped[s])
                line += '-';
            else
                line += uniform() < keep[s] ? ancestor[s] : aa[static_cast<int>(uniform() * 20)];
        }
        out << line << '\n';
    }
}

long peakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmHWM:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
    return -1;
}

double secondsSince(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

// FNV-1a over the bits of a value.
void mix(uint64_t& hash, double x) {
    unsigned char bytes[sizeof x];
    std::memcpy(bytes, &x, sizeof x);
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ull;
}

} // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    int L = argc > 2 ? std::atoi(argv[2]) : 5000;
    int mlSites = argc > 3 ? std::atoi(argv[3]) : 20;
    if (n < 4 || L < 11 || mlSites < 0) {
        std::fprintf(stderr, "usage: bench_memory [sequences >= 4] [sites >= 11] [ML sites]\n");
        return 1;
    }
    char dir[] = "/tmp/bench_memory.XXXXXX";
    if (!mkdtemp(dir)) return 1;
    std::string alignment = std::string(dir) + "/bench.aln", tree = std::string(dir) + "/bench.tre";
    writeAlignment(alignment, n, L);
    writeTree(tree, n);

    // The program's progress lines would bury the figures.
    std::fflush(stdout);
    int terminal = dup(STDOUT_FILENO);
    if (!std::freopen("/dev/null", "w", stdout)) return 1;

    auto begin = std::chrono::steady_clock::now();
    std::string a = alignment, t = tree;
    char* args[] = {const_cast<char*>("dadiverur"),
                    const_cast<char*>("-i"),
                    a.data(),
                    const_cast<char*>("-t"),
                    t.data(),
                    nullptr};
    main_function(5, args);
    double preparation = secondsSince(begin);
    long preparedPeak = peakKilobytes();

    uint64_t hash = 14695981039346656037ull;
    begin = std::chrono::steady_clock::now();
    for (int s = 1; s <= mlSites && s <= seqLength; s++) mix(hash, mlAlphaSite(s));
    double ml = secondsSince(begin);
    begin = std::chrono::steady_clock::now();
    for (int s = 1; s <= seqLength; s++) mix(hash, calTree(s, treeRoot[s], alfa[s]));
    double check = secondsSince(begin);
    long peak = peakKilobytes();

    std::fflush(stdout);
    dup2(terminal, STDOUT_FILENO);
    std::remove(alignment.c_str());
    std::remove(tree.c_str());
    rmdir(dir);
    std::printf("%d sequences x %d sites, one process\n", n, L);
    std::printf("preparation %.1f s, peak resident memory after it %.0f MB\n", preparation,
                preparedPeak / 1024.0);
    std::printf("ML rate of %d sites %.1f s, check pass over %d sites %.1f s\n", mlSites, ml, L, check);
    std::printf("peak resident memory %.0f MB (goal: at most 600 MB at 1000 x 5000)\n", peak / 1024.0);
    std::printf("checksum of the results %016llx\n", static_cast<unsigned long long>(hash));
    return 0;
}
