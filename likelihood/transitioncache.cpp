#include "transitioncache.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"

#include <vector>

bool transitionCacheEnabled = true;

namespace {

// Column k of the matrix from the factors f: v[i] = pij(i, k), i = 1..20.
void columnFromFactors(const double* f, int k, double* v) {
    for (int i = 1; i <= 20; i++) v[i] = pij_e(i, k, f);
}

} // namespace

void Transitions::fillColumn(int k) {
    if (!columns) columns = std::make_unique<Columns>();
    columnFromFactors(factors(), k, columns->p[k]);
    columns->madeIn[k] = generation;
}

TransitionColumns Transitions::matrix() {
    if (!columns || columns->matrixMadeIn != generation) {
        for (int k = 1; k <= 20; k++)
            if (!columns || columns->madeIn[k] != generation) fillColumn(k);
        columns->matrixMadeIn = generation;
    }
    return columns->p;
}

namespace {

void prefetchBytes(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    for (std::size_t k = 0; k < size; k += 64) __builtin_prefetch(p + k);
}

} // namespace

void Transitions::prefetch() const {
    if (columns) prefetchBytes(columns->p, sizeof columns->p);
    if (leaves) prefetchBytes(leaves.get(), sizeof *leaves);
}

void Transitions::sumRow(int i) {
    if (!rows) rows = std::make_unique<CumulativeRows>();
    double* c = rows->sum[i];
    const double* f = factors();
    c[1] = pij_e(i, 1, f);
    for (int j = 2; j <= 20; j++) c[j] = c[j - 1] + pij_e(i, j, f);
    rows->madeIn[i] = generation;
}

// From the factors, as fillColumn makes the column: a leaf's branch needs no matrix besides.
void Transitions::fillLeafColumn(int k) {
    if (!leaves) leaves = std::make_unique<LeafColumns>();
    double* v = leaves->vec[k];
    columnFromFactors(factors(), k, v);
    leaves->scale[k] = rescale(v, Gauge::LargestEntry);
    leaves->madeIn[k] = generation;
}

namespace {

// One entry per record; a site tree's entries serve whichever site is scored, as the phases
// work through one site before the next.
std::vector<Transitions> simulationTree, siteTrees;

} // namespace

Transitions& branchTransitions(int s, int c, double a) {
    return branchTransitions(s, c, gapTree[s][c].length, a);
}

Transitions& branchTransitions(int s, int c, double length, double a) {
    std::vector<Transitions>& entries = s == 0 ? simulationTree : siteTrees;
    if (entries.size() < static_cast<std::size_t>(DIM)) entries.resize(DIM);
    return entries[c].at(modelLength(length), a);
}

TransitionColumns transitionColumn(int s, int c, double a, int k) {
    return branchTransitions(s, c, a).column(k);
}

TransitionColumns transitionMatrix(int s, int c, double a) {
    return branchTransitions(s, c, a).matrix();
}
