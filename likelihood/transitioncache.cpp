#include "transitioncache.h"

#include "alignment.h"
#include "branchlength.h"

#include <vector>

bool transitionCacheEnabled = true;

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

void Transitions::sumRow(int i) {
    if (!rows) rows = std::make_unique<CumulativeRows>();
    double* c = rows->sum[i];
    const double* f = factors();
    c[1] = pij_e(i, 1, f);
    for (int j = 2; j <= 20; j++) c[j] = c[j - 1] + pij_e(i, j, f);
    rows->madeIn[i] = generation;
}

namespace {

// One entry per record; a site tree's entries serve whichever site is scored, as the phases
// work through one site before the next.
std::vector<Transitions> simulationTree, siteTrees;

} // namespace

Transitions& branchTransitions(int s, int c, double a) {
    std::vector<Transitions>& entries = s == 0 ? simulationTree : siteTrees;
    if (entries.size() < static_cast<std::size_t>(DIM)) entries.resize(DIM);
    return entries[c].at(modelLength(gapTree[s][c].length), a);
}

TransitionColumns transitionColumn(int s, int c, double a, int k) {
    return branchTransitions(s, c, a).column(k);
}

TransitionColumns transitionMatrix(int s, int c, double a) {
    return branchTransitions(s, c, a).matrix();
}
