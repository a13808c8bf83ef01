// Times the tree half of the preparation (readTree, assignTree, assignBranch, findMidpoint)
// on a generated alignment with one gap in ten letters and a generated tree:
// bench_trees [sequences] [columns] [balanced|caterpillar]
#include "alignment.h"
#include "rooting.h"
#include "sitetree.h"
#include "treefile.h"
#include "vantrel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

unsigned state = 12345;

unsigned nextRandom() {
    state = state * 1103515245u + 12345u;
    return state >> 16;
}

std::string length() {
    return ":" + std::to_string(0.01 + (nextRandom() % 1000) / 2000.0);
}

std::string leaf(int i) {
    return "sequence_" + std::to_string(i) + length();
}

// Leaves lo..hi-1 split in halves down to the cherries.
std::string balanced(int lo, int hi) {
    if (hi - lo == 1) return leaf(lo);
    int mid = (lo + hi) / 2;
    return "(" + balanced(lo, mid) + "," + balanced(mid, hi) + ")" + length();
}

std::string makeTree(int n, bool caterpillar) {
    if (!caterpillar)
        return "(" + balanced(0, n / 3) + "," + balanced(n / 3, 2 * n / 3) + "," + balanced(2 * n / 3, n) +
               ");";
    std::string inner = leaf(n - 2) + "," + leaf(n - 1);
    for (int i = n - 3; i >= 2; i--) inner = leaf(i) + ",(" + inner + ")" + length();
    return "(" + leaf(0) + "," + leaf(1) + ",(" + inner + ")" + length() + ");";
}

double secondsSince(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

} // namespace

int main(int argc, char** argv) {
    int n = argc > 1 ? std::atoi(argv[1]) : 500;
    int columns = argc > 2 ? std::atoi(argv[2]) : 300;
    bool caterpillar = argc > 3 && std::string(argv[3]) == "caterpillar";
    std::string alignmentPath = "/tmp/bench_trees.aln", treePath = "/tmp/bench_trees.tre";
    {
        std::ofstream out(alignmentPath);
        for (int i = 0; i < n; i++) {
            out << "sequence_" << i << "  ";
            for (int s = 0; s < columns; s++) out << (nextRandom() % 10 == 0 ? '-' : 'A');
            out << '\n';
        }
        std::ofstream(treePath) << makeTree(n, caterpillar) << "\n";
    }
    resultFile = std::fopen("/dev/null", "w");
    std::FILE* progress = std::freopen("/dev/null", "w", stdout);
    readali(alignmentPath.c_str());
    searchGap();
    auto begin = std::chrono::steady_clock::now();
    readTree(treePath.c_str());
    double reading = secondsSince(begin);
    begin = std::chrono::steady_clock::now();
    assignTree();
    branchNo = 0;
    assignBranch(seqNum + 1);
    double siteTrees = secondsSince(begin);
    begin = std::chrono::steady_clock::now();
    findMidpoint();
    double rooting = secondsSince(begin);
    std::fprintf(stderr,
                 "%s tree, %d x %d: readTree %.3f s, assignTree + assignBranch %.3f s, findMidpoint %.3f s\n",
                 caterpillar ? "caterpillar" : "balanced", seqNum, seqLength, reading, siteTrees, rooting);
    std::remove(alignmentPath.c_str());
    std::remove(treePath.c_str());
    return progress ? 0 : 1;
}
