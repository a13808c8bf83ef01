#include "transitioncache.h"

#include "alignment.h"
#include "branchlength.h"
#include "model.h"

#include <cstring>
#include <vector>

bool transitionCacheEnabled = true;

namespace {

struct BranchTransitions {
    double length; // branch length the filled columns belong to
    bool factored; // e holds the exponential factors of length and rate
    double e[21];
    bool filled[21];  // column j holds pij(., j, length, rate)
    bool complete;    // all 20 columns filled
    double p[21][21]; // p[j][i] = pij(i, j, length, rate)
};

// One site tree at a time: the phases work through one site before the next.
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
    double length = modelLength(gapTree[s][c].length);
    if (!sameBits(length, r.length)) clearRecord(r, length);
    return r;
}

void fillColumn(BranchTransitions& r, int k, double a) {
    if (!r.factored) {
        pijFactors(r.length, a, r.e);
        r.factored = true;
    }
    for (int i = 1; i <= 20; i++) r.p[k][i] = pij_e(i, k, r.e);
    r.filled[k] = true;
}

} // namespace

TransitionColumns transitionColumn(int s, int c, double a, int k) {
    BranchTransitions& r = recordFor(s, c, a);
    if (!r.filled[k]) fillColumn(r, k, a);
    return r.p;
}

TransitionColumns transitionMatrix(int s, int c, double a) {
    BranchTransitions& r = recordFor(s, c, a);
    if (!r.complete) {
        for (int k = 1; k <= 20; k++)
            if (!r.filled[k]) fillColumn(r, k, a);
        r.complete = true;
    }
    return r.p;
}
