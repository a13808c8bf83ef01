// The final-phase work of simulated sites, each from a fixed seed, once through the code as it
// stood before the shuffles of a column went through the tree together (kept below: the
// generator's draws one at a time, every shuffle's likelihood on its own, the transition store
// as it was; the descent of the simulated columns is the program's on both paths), and once
// through the program's own. Prints both times per simulated site, their
// ratio, the new path's parts (the draws of the shuffles, the likelihoods) against their
// floors, and whether every value of every site record agrees to the bit.
//
// Usage: bench_finalphase [sites] [ALIGNMENT TREE]   (default 20 sites of the bundled example)
// bench/bench_finalphase.sh runs it on simulated alignments of 100, 500 and 1,000 sequences.
#include "example_job.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"
#include "model.h"
#include "numerics/ran1.h"
#include "rootprob.h"
#include "simulation.h"
#include "sitelikelihood.h"
#include "siterules.h"
#include "sitework.h"
#include "vantrel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace before {

// The generator's draws as indices, one at a time.
class Ran1Draws {
  public:
    explicit Ran1Draws(long* seed)
        : variable(seed), current(static_cast<std::int32_t>(static_cast<std::uint32_t>(*seed))),
          iy(ran1state::table.iy), slot(ran1state::slotOf(iy)) {
        lookAhead();
    }
    ~Ran1Draws() {
        if (!drawn) return;
        *variable = current;
        ran1state::table.iy = iy;
    }
    Ran1Draws(const Ran1Draws&) = delete;
    Ran1Draws& operator=(const Ran1Draws&) = delete;

    // A draw taken as an index 1..n (n up to 2^23), as ran1state::indexOf gives it.
    int nextIndex(int n) {
        draw();
        return ran1state::indexOf(iy, n);
    }

  private:
    static constexpr std::uint32_t multiplierCubed =
        ran1state::advance(ran1state::advance(ran1state::multiplier));

    // The three seeds after current.
    void lookAhead() {
        ahead[0] = ran1state::advance(current);
        ahead[1] = ran1state::advance(ahead[0]);
        ahead[2] = ran1state::advance(ahead[1]);
    }
    void draw() {
        if (current <= 0 || iy == 0) restart();
        current = ahead[0];
        ahead[0] = ahead[1];
        ahead[1] = ahead[2];
        ahead[2] = ran1state::multiplyMod(current, multiplierCubed);
        iy = ran1state::passTable(slot, current);
        drawn = true;
    }
    // ran1's start, at the draw where a call would make it.
    void restart() {
        current = ran1state::initialise(current);
        iy = ran1state::table.iy;
        slot = ran1state::slotOf(iy);
        lookAhead();
    }

    long* variable;
    std::int32_t current; // the seed of the last draw
    std::int32_t ahead[3];
    std::int32_t iy;
    std::uint32_t slot; // the table position of the next draw
    bool drawn = false;
};

// The transition store.
using TransitionColumns = const double (*)[21];
class Transitions {
  public:
    // The data of length t and rate a under the current model from here on: all that is held
    // stays when t, a (bit for bit) and modelVersion are those it was made for, else it goes.
    Transitions& at(double t, double a) {
        if (generation == 0 || !sameBits(t, length) || !sameBits(a, rate) || model != modelVersion) {
            generation++;
            length = t;
            rate = a;
            model = modelVersion;
        }
        return *this;
    }

    // The matrix with column k (1..20) filled.
    TransitionColumns column(int k) {
        if (columnMadeIn[k] != generation) fillColumn(k);
        return p;
    }
    // The matrix with all 20 columns filled.
    TransitionColumns matrix();

  private:
    static bool sameBits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }
    const double* factors() {
        if (factorsMadeIn != generation) {
            pijFactors(length, rate, e);
            factorsMadeIn = generation;
        }
        return e;
    }
    void fillColumn(int k);

    // Every part carries the generation it was made in; a new key starts a new generation, so
    // that dropping what is held costs nothing. Generation 0 holds no key.
    unsigned long generation = 0;
    double length = 0.0;
    double rate = 0.0;
    unsigned long model = 0;
    unsigned long factorsMadeIn = 0;
    double e[21]; // exp(length * rate * wr[k]), as pijFactors gives them
    unsigned long columnMadeIn[21] = {};
    unsigned long matrixMadeIn = 0;
    double p[21][21]; // p[j][i] = pij(i, j)
};

void Transitions::fillColumn(int k) {
    const double* f = factors();
    for (int i = 1; i <= 20; i++) p[k][i] = pij_e(i, k, f);
    columnMadeIn[k] = generation;
}

TransitionColumns Transitions::matrix() {
    if (matrixMadeIn != generation) {
        for (int k = 1; k <= 20; k++)
            if (columnMadeIn[k] != generation) fillColumn(k);
        matrixMadeIn = generation;
    }
    return p;
}

// The entries of a real site's tree.
std::vector<Transitions> siteTrees;

Transitions& branchTransitions(int s, int c, double a) {
    if (siteTrees.size() < static_cast<std::size_t>(DIM)) siteTrees.resize(DIM);
    return siteTrees[c].at(modelLength(gapTree[s][c].length), a);
}

// The likelihood step, plain.
void combineChildren(const double (*P)[21], const double* left, const double* right, double* out) {
    double sum[21] = {};
    for (int j = 1; j <= 20; j++)
        for (int i = 1; i <= 20; i++) sum[i] += P[j][i] * left[j] * right[j];
    for (int i = 1; i <= 20; i++) out[i] = sum[i];
}

// The site likelihood, one column at a time on the records of the site's tree.
bool isInner(const SiteTreeNode& r) {
    return r.left != 0 && r.right != 0;
}

void prune(int s, int c, double a) {
    SiteTreeNode* tree = gapTree[s];
    for (int k : childrenFirst(tree, c)) {
        SiteTreeNode& rec = tree[k];
        if (isInner(rec)) {
            combineChildren(branchTransitions(s, k, a).matrix(), tree[rec.left].vec, tree[rec.right].vec,
                            rec.vec);
        } else {
            int code = node[k].code[s];
            TransitionColumns P = branchTransitions(s, k, a).column(code);
            for (int i = 1; i <= 20; i++) rec.vec[i] = P[code][i];
        }
        rec.scale = rescale(rec.vec, Gauge::LargestEntry);
        if (isInner(rec)) rec.scale = rec.scale + tree[rec.left].scale + tree[rec.right].scale;
    }
}

double calTree(int s, int root, double a) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& r = tree[root];
    if (r.gap) return 0.0;
    prune(s, r.left, a);
    prune(s, r.right, a);
    prune(s, r.third, a);
    const double* vl = tree[r.left].vec;
    const double* vr = tree[r.right].vec;
    const double* vt = tree[r.third].vec;
    double S = 0.0;
    for (int i = 1; i <= 20; i++) {
        r.vec[i] = PI[i] * vl[i] * vr[i] * vt[i];
        S += r.vec[i];
    }
    r.scale = tree[r.left].scale + tree[r.right].scale + tree[r.third].scale;
    return std::log(S) - std::log(10.0) * r.scale;
}

// The shuffles, each drawn and scored on its own.
void shuffleCodes(int* codes, int n) {
    Ran1Draws draws(&idum);
    for (int k = 0; k < 100 * n; k++) {
        int i = draws.nextIndex(n);
        int j = draws.nextIndex(n);
        while (j == i) j = draws.nextIndex(n);
        int ci = codes[i];
        int cj = codes[j];
        bool both = ci != 0 && cj != 0;
        codes[i] = both ? cj : ci;
        codes[j] = both ? ci : cj;
    }
}

double shuffleStatistic(int site) {
    double x = calTree(site, treeRoot[site], alfa[site]);
    std::vector<int> observed(seqNum + 1), shuffled;
    for (int i = 1; i <= seqNum; i++) observed[i] = node[i].code[site];
    double sum = 0.0;
    for (int s = 0; s < 100; s++) {
        shuffled = observed;
        shuffleCodes(shuffled.data(), seqNum);
        for (int i = 1; i <= seqNum; i++) node[i].code[site] = shuffled[i];
        sum += calTree(site, treeRoot[site], alfa[site]);
    }
    for (int i = 1; i <= seqNum; i++) node[i].code[site] = observed[i];
    double mean = sum / 100;
    return (mean - x) / mean;
}

void simulatedSiteRecord(int site, long seed, double* record) {
    idum = seed;
    SavedColumn observed(site);
    prepareSimulationTree(site);
    record[SITE_VALUE] = shuffleStatistic(site);
    for (int k = 1; k <= REPLICATES; k++) {
        drawRootState(site, &idum);
        record[replicateValue(k)] = shuffleStatistic(site);
        record[replicateEntropy(k)] = leafEntropy(site);
    }
}

} // namespace before

namespace {

using benchsupport::loadAverage;
using benchsupport::quietly;
using benchsupport::threadSeconds;

void prepareJob(const std::string& alignment, const std::string& tree) {
    std::vector<std::string> words = {"dadiverur", "-i", alignment, "-t", tree, "-o", "/dev/null"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    quietly([&] { main_function(static_cast<int>(argv.size()), argv.data()); });
}

// Usable sites spread evenly over the alignment, at most count of them.
std::vector<int> chooseSites(int count) {
    std::vector<int> usable;
    for (int s = 1; s <= seqLength; s++)
        if (treeRoot[s] != 0 && usableSite(s)) usable.push_back(s);
    std::vector<int> chosen;
    int n = static_cast<int>(usable.size());
    for (int k = 0; k < count && k < n; k++) chosen.push_back(usable[static_cast<size_t>(k) * n / count]);
    return chosen;
}

using SiteWork = void (*)(int, long, double*);

double timeSite(SiteWork work, int site, double* record) {
    double start = threadSeconds();
    work(site, siteSeed(20261210, site), record);
    return threadSeconds() - start;
}

// The new path's parts for a column of the site: drawing the shuffles, and their likelihoods
// with the column's own, as the final phase takes them.
struct Parts {
    double draws = 0.0;
    double likelihood = 0.0;
};

void timeParts(int site, Parts& parts, long& drawCount, long& stepCount) {
    int stride = seqNum + 1;
    std::vector<unsigned char> codes(static_cast<std::size_t>(SHUFFLES + 1) * stride);
    std::vector<double> logL(SHUFFLES + 1);
    idum = siteSeed(20261210, site);
    prepareSimulationTree(site);
    double start = threadSeconds();
    drawShuffles(site, codes.data(), stride);
    double drawn = threadSeconds();
    calTreeColumns(site, treeRoot[site], alfa[site], codes.data(), stride, SHUFFLES + 1, logL.data());
    double scored = threadSeconds();
    parts.draws += drawn - start;
    parts.likelihood += scored - drawn;
    int leaves = seqNum - gapNumber[site];
    drawCount += 2L * SHUFFLES * 100 * seqNum;
    stepCount += static_cast<long>(SHUFFLES + 1) * (leaves - 2);
}

// The floor of a draw: the generator's chain of dependent loads, each entry replaced as it is
// taken; and the floor of a step: the 20 x 20 step on vectors that stay in the first-level cache.
double chainFloor() {
    struct alignas(16) Entry {
        Entry* next;
        long value;
    };
    Entry table[32], fresh[1024];
    for (int k = 0; k < 32; k++) table[k].next = &table[(k * 7 + 3) % 32];
    unsigned r = 1;
    for (Entry& e : fresh) e.next = &table[(r = r * 1103515245 + 12345) >> 27], e.value = r;
    long count = 50000000;
    Entry* p = table;
    double start = threadSeconds();
    for (long k = 0; k < count; k++) {
        Entry* taken = p;
        p = taken->next;
        *taken = fresh[k & 1023];
    }
    double seconds = threadSeconds() - start;
    if (p == nullptr) std::printf("unreachable\n");
    return seconds / count;
}

double stepFloor() {
    static double P[21][21], left[21], right[21], out[21];
    for (int i = 0; i < 21; i++) {
        left[i] = right[i] = 0.05 + 0.01 * i;
        for (int j = 0; j < 21; j++) P[i][j] = 0.001 * (i + j + 1);
    }
    const int count = 2000000;
    double start = threadSeconds();
    for (int k = 0; k < count; k++) {
        combineChildren(P, left, right, out);
        left[1 + k % 20] = out[1 + k % 20] * 1e-3; // each step waits for no other
    }
    return (threadSeconds() - start) / count;
}

} // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 20;
    if (count < 1 || (argc != 2 && argc != 4 && argc != 1)) {
        std::fprintf(stderr, "usage: bench_finalphase [sites] [ALIGNMENT TREE]\n");
        return 1;
    }
    std::printf("machine: %ld processors online, load average %s", sysconf(_SC_NPROCESSORS_ONLN),
                loadAverage().c_str());
    std::string examples = std::string(SOURCE_DIR) + "/examples/";
    if (argc == 4)
        prepareJob(argv[2], argv[3]);
    else
        prepareJob(examples + "pkinase.aln", examples + "pkinase_fasttree.tre");
    std::vector<int> sites = chooseSites(count);
    size_t values = sites.size() * SITE_RECORD_SIZE;
    std::vector<double> oldRecords(values, 0.0), newRecords(values, 0.0);
    // Record SITE_ENTROPY, the observed entropy, is the same computation on both paths.
    for (size_t k = 0; k < sites.size(); k++)
        oldRecords[k * SITE_RECORD_SIZE + SITE_ENTROPY] = newRecords[k * SITE_RECORD_SIZE + SITE_ENTROPY] =
            leafEntropy(sites[k]);
    // Site by site, old path then new, so that both meet the same load of the machine.
    double oldTime = 0.0, newTime = 0.0;
    for (size_t k = 0; k < sites.size(); k++) {
        oldTime += timeSite(before::simulatedSiteRecord, sites[k], &oldRecords[k * SITE_RECORD_SIZE]);
        newTime += timeSite(simulatedSiteRecord, sites[k], &newRecords[k * SITE_RECORD_SIZE]);
    }
    Parts parts;
    long draws = 0, steps = 0;
    for (int site : sites) timeParts(site, parts, draws, steps);
    double chain = chainFloor(), step = stepFloor();

    size_t differ = 0;
    for (size_t k = 0; k < values; k++)
        if (std::memcmp(&oldRecords[k], &newRecords[k], sizeof(double)) != 0) differ++;
    double perSite = 1.0 / sites.size();
    std::printf("%zu simulated sites, %d sequences, fixed seeds; processor time of the thread\n",
                sites.size(), seqNum);
    std::printf("old path: %8.3f s (%7.4f s per simulated site)\n", oldTime, oldTime * perSite);
    std::printf("new path: %8.3f s (%7.4f s per simulated site)\n", newTime, newTime * perSite);
    std::printf("ratio: %.2fx\n", oldTime / newTime);
    std::printf(
        "new path, one column of each site: draws %.2f ns each (floor %.2f: %.2fx), likelihood %.1f ns "
        "per record and column (floor %.1f: %.2fx)\n",
        1e9 * parts.draws / draws, 1e9 * chain, parts.draws / draws / chain, 1e9 * parts.likelihood / steps,
        1e9 * step, parts.likelihood / steps / step);
    std::printf("record values differing: %zu of %zu\n", differ, values);
    return differ == 0 ? 0 : 1;
}
