#include "sitelikelihood.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"
#include "model.h"
#include "numerics/dbrent1.h"
#include "siterules.h"
#include "transitioncache.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

bool isInner(const SiteTreeNode& r) {
    return r.left != 0 && r.right != 0;
}

// The derivative by the rate of the transition matrix of record c, entry by entry as
// dpij_alfa gives it.
struct RateDerivative {
    double e[21];
    double t;
    RateDerivative(double length, double a) : t(modelLength(length)) { pijFactors(t, a, e); }
    double operator()(int i, int j) const { return dpij_alfa_e(i, j, e, t); }
};

// P comes from the stored matrices, from pij, or (on the derivative's record) from dpij_alfa.
void innerVector(int s, int c, double a, bool derivative) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& rec = tree[c];
    const double* vl = tree[rec.left].vec;
    const double* vr = tree[rec.right].vec;
    if (transitionCacheEnabled && !derivative) {
        combineChildren(transitionMatrix(s, c, a), vl, vr, rec.vec);
        return;
    }
    ColumnMatrix P;
    if (derivative)
        fillColumns(P, RateDerivative(rec.length, a));
    else
        fillColumns(P, [&](int i, int j) { return pij(i, j, modelLength(rec.length), a); });
    combineChildren(P, vl, vr, rec.vec);
}

void leafVector(int s, int c, double a, bool derivative) {
    SiteTreeNode& rec = gapTree[s][c];
    int k = node[c].code[s];
    if (derivative) {
        RateDerivative dP(rec.length, a);
        for (int i = 1; i <= 20; i++) rec.vec[i] = dP(i, k);
    } else if (!transitionCacheEnabled || k < 1 || k > 20) {
        // A code outside 1..20 goes to pij, which reports it.
        for (int i = 1; i <= 20; i++) rec.vec[i] = pij(i, k, modelLength(rec.length), a);
    } else {
        TransitionColumns P = transitionColumn(s, c, a, k);
        for (int i = 1; i <= 20; i++) rec.vec[i] = P[k][i];
    }
}

// calRL and calRL_alfa; target is the record on which the derivative stands (0 for none:
// record 0 is never part of a site tree).
void prune(int s, int c, double a, int target) {
    SiteTreeNode* tree = gapTree[s];
    Gauge gauge = target != 0 ? Gauge::LargestMagnitude : Gauge::LargestEntry;
    for (int k : childrenFirst(tree, c)) {
        SiteTreeNode& rec = tree[k];
        if (isInner(rec))
            innerVector(s, k, a, k == target);
        else
            leafVector(s, k, a, k == target);
        rec.scale = rescale(rec.vec, gauge);
        if (isInner(rec)) rec.scale = rec.scale + tree[rec.left].scale + tree[rec.right].scale;
    }
}

// Joins the three children of the root: the root's vec holds PI times their vectors, its
// scale their summed exponents; returns the sum of the root's vector.
double joinAtRoot(int s, int root) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& r = tree[root];
    const double* vl = tree[r.left].vec;
    const double* vr = tree[r.right].vec;
    const double* vt = tree[r.third].vec;
    double S = 0.0;
    for (int i = 1; i <= 20; i++) {
        r.vec[i] = PI[i] * vl[i] * vr[i] * vt[i];
        S += r.vec[i];
    }
    r.scale = tree[r.left].scale + tree[r.right].scale + tree[r.third].scale;
    return S;
}

// Records 1..2n-2 that the recursion from root meets (root excluded).
std::vector<char> recordsBelow(int s, int root) {
    SiteTreeNode* tree = gapTree[s];
    std::vector<char> below(DIM, 0);
    std::vector<int> pending = {tree[root].left, tree[root].right, tree[root].third};
    while (!pending.empty()) {
        int c = pending.back();
        pending.pop_back();
        if (c <= 0 || c >= DIM || below[c]) continue;
        below[c] = 1;
        if (isInner(tree[c])) {
            pending.push_back(tree[c].left);
            pending.push_back(tree[c].right);
        }
    }
    return below;
}

} // namespace

void calRL(int s, int c, double a) {
    prune(s, c, a, 0);
}

void calRL_alfa(int s, int c, double a, int target) {
    prune(s, c, a, target);
}

double calTree(int s, int root, double a) {
    SiteTreeNode& r = gapTree[s][root];
    if (r.gap) return 0.0;
    calRL(s, r.left, a);
    calRL(s, r.right, a);
    calRL(s, r.third, a);
    double S = joinAtRoot(s, root);
    return std::log(S) - std::log(10.0) * r.scale;
}

// dL/da is the sum over the branches of the likelihood with that one branch's transition
// probabilities replaced by their derivatives. Only branches of the site's own tree count: a
// record pruned from a gapped site's tree carries no derivative. Every branch of the tree
// counts, also one of length 0, which the likelihood takes at the shortest model length.
double calTree_alfa(int s, int root, double a, int* sign) {
    SiteTreeNode* tree = gapTree[s];
    SiteTreeNode& r = tree[root];
    if (r.gap) {
        // A site left out of computation has likelihood 1 whatever the rate.
        *sign = 1;
        return -HUGE_VAL;
    }
    int last = 2 * seqNum - 2;
    std::vector<double> R(last + 1, 0.0), Z(last + 1, 0.0);
    std::vector<char> below = recordsBelow(s, root);
    for (int i = 1; i <= last; i++) {
        if (i == root || !below[i]) continue;
        calRL_alfa(s, r.left, a, i);
        calRL_alfa(s, r.right, a, i);
        calRL_alfa(s, r.third, a, i);
        R[i] = joinAtRoot(s, root);
        Z[i] = r.scale;
    }
    double D = 0.0;
    for (int i = 1; i <= last; i++)
        if (Z[i] > D) D = Z[i];
    double T = 0.0;
    for (int i = 1; i <= last; i++) {
        // Records outside the site's tree add nothing; scaling their zero could give
        // 0 * infinity when D is large.
        if (R[i] == 0.0) continue;
        R[i] = R[i] * std::pow(10, D - Z[i]);
        T += R[i];
    }
    if (T < 0) {
        *sign = -1;
        T = -T;
    } else {
        *sign = 1;
    }
    return std::log(T) - D * std::log(10.0);
}

double func_alfa(int s, int root, double a) {
    return -calTree(s, root, a);
}

double searchAlpha(int s, double* logL) {
    int root = treeRoot[s];
    double grid[10] = {RATE_TAKEN_AS_ZERO, 0.001};
    for (int k = 2; k <= 5; k++) grid[k] = (k - 2) * 3 + 1;
    // The upper points run from 10 up to the alignment's length; with fewer than 10 sites they
    // run downward from 10 instead, and are searched all the same.
    for (int k = 6; k <= 9; k++) grid[k] = (seqLength - 10) * (k - 5) / 4.0 + 10;
    double f[10];
    for (int k = 0; k <= 9; k++) f[k] = calTree(s, root, grid[k]);
    int best = 0;
    for (int k = 1; k <= 9; k++)
        if (f[k] > f[best]) best = k;

    // No point below the grid brackets a best first point: the grid's lowest rate stands.
    if (best == 0) {
        *logL = f[0];
        return grid[0];
    }
    double xmin = 0.0;
    if (best == 9) {
        int sign = 1;
        double lnD = calTree_alfa(s, root, grid[9], &sign);
        double lnL = calTree(s, root, grid[9]);
        double d = sign * std::exp(lnD - lnL);
        if (d >= 0) {
            *logL = lnL;
            return grid[9];
        }
        printf("Warning: difficult to find the max likelihood at site %d\n", s);
        *logL = -dbrent1(grid[0], grid[5], grid[9], func_alfa, 1e-6, &xmin, s, root);
        return xmin;
    }
    *logL = -dbrent1(grid[best - 1], grid[best], grid[best + 1], func_alfa, 1e-6, &xmin, s, root);
    return xmin;
}

double optimizeAlpha(int s) {
    if (!lettersForRate(s)) return 1.0;
    if (invariantLetters(s)) return RATE_TAKEN_AS_ZERO;
    double logL;
    return searchAlpha(s, &logL);
}
