// The final-phase work of simulated sites of the bundled example (38 sequences x 213 sites,
// default options), each site from a fixed seed: once through the old path, a copy below of
// the code as it stood before the generator and the shuffles were made faster, and once
// through the program's own. Prints both times, the ratio and whether every value of every
// site record agrees to the bit.
//
// Usage: bench_finalphase [sites]   (default 20, spread over the alignment; run from anywhere)
#include "example_job.h"

#include "alignment.h"
#include "model.h"
#include "rootprob.h"
#include "simulation.h"
#include "sitelikelihood.h"
#include "siterules.h"
#include "sitework.h"
#include "vantrel.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace oldpath {

// ran1 with Schrage's step, one call per draw, and a shuffle table of its own.
namespace generator {

constexpr std::int32_t multiplier = 16807;
constexpr std::int32_t modulus = 2147483647;
constexpr std::int32_t quotient = 127773;
constexpr std::int32_t remainder = 2836;
constexpr int tableSize = 32;
constexpr std::int32_t tableDivisor = 67108864;
constexpr double outputScale = 4.656612875245797e-10;
constexpr double outputCap = 0.99999988;
constexpr float largestOutput = 0.99999988079071044921875f;

std::int32_t iy = 0;
std::int32_t iv[tableSize];

std::int32_t advance(std::int32_t seed) {
    std::int32_t k = seed / quotient;
    seed = multiplier * (seed - k * quotient) - remainder * k;
    return seed < 0 ? seed + modulus : seed;
}

std::int32_t initialise(std::int32_t seed) {
    std::int64_t negated = -static_cast<std::int64_t>(seed);
    seed = (negated >= 1 && negated < modulus) ? static_cast<std::int32_t>(negated) : 1;
    for (int j = tableSize + 7; j >= 0; j--) {
        seed = advance(seed);
        if (j < tableSize) iv[j] = seed;
    }
    iy = iv[0];
    return seed;
}

// Out of line, as ran1 is called from the other files.
__attribute__((noinline)) float ran1(long* idum) {
    std::int32_t seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(*idum));
    if (seed <= 0 || iy == 0) seed = initialise(seed);
    seed = advance(seed);
    int j = iy / tableDivisor;
    iy = iv[j];
    iv[j] = seed;
    *idum = seed;
    float t = static_cast<float>(outputScale * iy);
    return t > outputCap ? largestOutput : t;
}

} // namespace generator

using generator::ran1;

// The transition store by rows: p[i][j] = pij(i, j, length, rate).
namespace store {

struct BranchTransitions {
    double length;
    bool factored;
    double e[21];
    bool filled[21];
    bool complete;
    double p[21][21];
};

using TransitionRows = const double (*)[21];

std::vector<BranchTransitions> records;
int cachedSite = -1;
double cachedRate = 0.0;
unsigned long cachedModel = 0;

bool sameBits(double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

void clearRecord(BranchTransitions& r, double length) {
    r.length = length;
    r.factored = false;
    std::memset(r.filled, 0, sizeof r.filled);
    r.complete = false;
}

BranchTransitions& recordFor(int s, int c, double a) {
    if (s != cachedSite || !sameBits(a, cachedRate) || modelVersion != cachedModel ||
        records.size() != static_cast<size_t>(DIM)) {
        records.resize(DIM);
        for (BranchTransitions& r : records) clearRecord(r, 0.0);
        cachedSite = s;
        cachedRate = a;
        cachedModel = modelVersion;
    }
    BranchTransitions& r = records[c];
    double length = gapTree[s][c].length;
    if (!sameBits(length, r.length)) clearRecord(r, length);
    return r;
}

void fillColumn(BranchTransitions& r, int k, double a) {
    if (!r.factored) {
        pijFactors(r.length, a, r.e);
        r.factored = true;
    }
    for (int i = 1; i <= 20; i++) r.p[i][k] = pij_e(i, k, r.e);
    r.filled[k] = true;
}

// Out of line, as the store is another file.
__attribute__((noinline)) TransitionRows transitionColumn(int s, int c, double a, int k) {
    BranchTransitions& r = recordFor(s, c, a);
    if (!r.filled[k]) fillColumn(r, k, a);
    return r.p;
}

__attribute__((noinline)) TransitionRows transitionMatrix(int s, int c, double a) {
    BranchTransitions& r = recordFor(s, c, a);
    if (!r.complete) {
        for (int k = 1; k <= 20; k++)
            if (!r.filled[k]) fillColumn(r, k, a);
        r.complete = true;
    }
    return r.p;
}

} // namespace store

using store::transitionColumn;
using store::transitionMatrix;
using store::TransitionRows;

// The site likelihood on the stored transition matrices.
bool isInner(const SiteTreeNode& r) {
    return r.left != 0 && r.right != 0;
}

void innerVector(int s, int c, double a) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& rec = tree[c];
    const double* vl = tree[rec.left].vec;
    const double* vr = tree[rec.right].vec;
    TransitionRows P = transitionMatrix(s, c, a);
    for (int i = 1; i <= 20; i++) {
        double sum = 0.0;
        for (int j = 1; j <= 20; j++) sum += P[i][j] * vl[j] * vr[j];
        rec.vec[i] = sum;
    }
}

void leafVector(int s, int c, double a) {
    SiteTreeNode& rec = gapTree[s][c];
    int k = node[c].code[s];
    TransitionRows P = transitionColumn(s, c, a, k);
    for (int i = 1; i <= 20; i++) rec.vec[i] = P[i][k];
}

void rescale(SiteTreeNode& rec) {
    double g = rec.vec[1];
    for (int i = 2; i <= 20; i++)
        if (rec.vec[i] > g) g = rec.vec[i];
    if (g > 1e-200) {
        while (std::fabs(g) < 0.1) {
            rec.scale += 1;
            g *= 10;
        }
    }
    double factor = std::pow(10, rec.scale);
    for (int i = 1; i <= 20; i++) rec.vec[i] *= factor;
}

void prune(int s, int c, double a) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& rec = tree[c];
    rec.scale = 0;
    if (isInner(rec)) {
        prune(s, rec.left, a);
        prune(s, rec.right, a);
        innerVector(s, c, a);
    } else {
        leafVector(s, c, a);
    }
    rescale(rec);
    if (isInner(rec)) rec.scale = rec.scale + tree[rec.left].scale + tree[rec.right].scale;
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

// Column simulation and shuffles on the node records.
int usableState(int state) {
    return state >= 1 && state <= 20 ? state : NONE_CAUGHT_STATE;
}

void setState(int k, int site, int state) {
    node[k].code[site] = state;
    node[k].seq[site] = aa[state];
}

struct CumulativeRows {
    double length = -1.0;
    double rate = -1.0;
    unsigned long version = 0;
    bool valid[21] = {};
    double sum[21][21];
};

std::vector<CumulativeRows> cumulativeRows;

const double* cumulativeRow(int child, int from, double rate) {
    if (cumulativeRows.size() != static_cast<size_t>(DIM)) cumulativeRows.assign(DIM, CumulativeRows());
    CumulativeRows& rows = cumulativeRows[child];
    double length = gapTree[0][child].length;
    if (rows.length != length || rows.rate != rate || rows.version != modelVersion) {
        rows = CumulativeRows();
        rows.length = length;
        rows.rate = rate;
        rows.version = modelVersion;
    }
    if (!rows.valid[from]) {
        double* c = rows.sum[from];
        c[1] = pij(from, 1, length, rate);
        for (int j = 2; j <= 20; j++) c[j] = c[j - 1] + pij(from, j, length, rate);
        rows.valid[from] = true;
    }
    return rows.sum[from];
}

int caughtState(const double* c, double u, int current) {
    if (u <= c[1]) return 1;
    for (int j = 1; j <= 19; j++)
        if (c[j] < u && u <= c[j + 1] + 1e-10) return j + 1;
    return usableState(current);
}

void mutation(int site, int k) {
    SiteTreeNode* t = gapTree[0];
    if (t[k].gap || (k >= 1 && k <= seqNum)) return;
    int from = usableState(node[k].code[site]);
    for (int c : {t[k].left, t[k].right}) {
        const double* cum = cumulativeRow(c, from, alfa[site]);
        double u = ran1(&idum);
        setState(c, site, caughtState(cum, u, node[c].code[site]));
        mutation(site, c);
    }
}

void drawRootState(int site, long* seed) {
    double u = ran1(seed);
    int state = 0;
    for (int j = 1; j <= 19 && state == 0; j++) {
        u -= RootProbMatrix[site][j];
        if (u < 0) state = j;
    }
    if (state == 0) state = u > 0 ? 20 : usableState(node[0].code[site]);
    setState(0, site, state);
    mutation(site, 0);
}

struct SavedColumn {
    int site;
    std::vector<int> code;
    std::vector<char> letter;

    explicit SavedColumn(int s) : site(s), code(seqNum + 1), letter(seqNum + 1) {
        for (int i = 1; i <= seqNum; i++) {
            code[i] = node[i].code[site];
            letter[i] = node[i].seq[site];
        }
    }
    void restore() const {
        for (int i = 1; i <= seqNum; i++) {
            node[i].code[site] = code[i];
            node[i].seq[site] = letter[i];
        }
    }
};

int drawLeaf() {
    int i = static_cast<int>(static_cast<double>(ran1(&idum)) * seqNum + 1);
    return i > seqNum ? seqNum : i;
}

void transpose(int site) {
    int i = drawLeaf();
    int j = drawLeaf();
    while (j == i) j = drawLeaf();
    int ci = node[i].code[site];
    int cj = node[j].code[site];
    if (ci == 0 || cj == 0) return;
    setState(i, site, cj);
    setState(j, site, ci);
}

double shuffleStatistic(int site) {
    double x = calTree(site, treeRoot[site], alfa[site]);
    SavedColumn column(site);
    double sum = 0.0;
    for (int s = 0; s < 100; s++) {
        for (int k = 0; k < 100 * seqNum; k++) transpose(site);
        sum += calTree(site, treeRoot[site], alfa[site]);
        column.restore();
    }
    double mean = sum / 100;
    return (mean - x) / mean;
}

double leafEntropy(int site) {
    int count[21] = {};
    for (int i = 1; i <= seqNum; i++) count[node[i].code[site]]++;
    int letters = seqNum - count[0];
    double h = 0.0;
    if (letters == 0) return h;
    for (int j = 1; j <= 20; j++) {
        double f = static_cast<double>(count[j]) / letters;
        if (f > 1e-8) h += -f * std::log(f);
    }
    return h;
}

void simulatedSiteRecord(int site, long seed, double* record) {
    idum = seed;
    std::vector<int> code(seqNum + 1);
    for (int i = 1; i <= seqNum; i++) code[i] = node[i].code[site];
    prepareSimulationTree(site);
    record[0] = shuffleStatistic(site);
    for (int k = 1; k <= 100; k++) {
        drawRootState(site, &idum);
        record[k] = shuffleStatistic(site);
        record[100 + k] = leafEntropy(site);
    }
    for (int i = 1; i <= seqNum; i++) {
        node[i].code[site] = code[i];
        node[i].seq[site] = aa[code[i]];
    }
}

} // namespace oldpath

namespace {

using benchsupport::loadAverage;
using benchsupport::prepareExample;
using benchsupport::threadSeconds;

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

} // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 20;
    std::printf("machine: %ld processors online, load average %s", sysconf(_SC_NPROCESSORS_ONLN),
                loadAverage().c_str());
    if (count < 1) {
        std::fprintf(stderr, "usage: bench_finalphase [sites]\n");
        return 1;
    }
    prepareExample();
    std::vector<int> sites = chooseSites(count);
    size_t values = sites.size() * SITE_RECORD_SIZE;
    std::vector<double> oldRecords(values, 0.0), newRecords(values, 0.0);
    // Record 201 (the observed entropy) is the same computation on both paths.
    for (size_t k = 0; k < sites.size(); k++)
        oldRecords[k * SITE_RECORD_SIZE + 201] = newRecords[k * SITE_RECORD_SIZE + 201] =
            leafEntropy(sites[k]);
    // Site by site, old path then new, so that both meet the same load of the machine.
    double oldTime = 0.0, newTime = 0.0;
    for (size_t k = 0; k < sites.size(); k++) {
        oldTime += timeSite(oldpath::simulatedSiteRecord, sites[k], &oldRecords[k * SITE_RECORD_SIZE]);
        newTime += timeSite(simulatedSiteRecord, sites[k], &newRecords[k * SITE_RECORD_SIZE]);
    }

    size_t differ = 0;
    for (size_t k = 0; k < values; k++)
        if (std::memcmp(&oldRecords[k], &newRecords[k], sizeof(double)) != 0) differ++;
    printf("%zu simulated sites of the example (%d sequences), fixed seeds; processor time of the thread\n",
           sites.size(), seqNum);
    printf("old path: %8.3f s (%6.3f s per site)\n", oldTime, oldTime / sites.size());
    printf("new path: %8.3f s (%6.3f s per site)\n", newTime, newTime / sites.size());
    printf("ratio: %.2fx\n", oldTime / newTime);
    printf("record values differing: %zu of %zu\n", differ, values);
    return differ == 0 ? 0 : 1;
}
