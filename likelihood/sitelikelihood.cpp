#include "sitelikelihood.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"
#include "model.h"
#include "numerics/dbrent1.h"
#include "siterules.h"
#include "transitioncache.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
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

// The leaf's vector and its scale.
void leafVector(int s, int c, double a, bool derivative, Gauge gauge) {
    SiteTreeNode& rec = gapTree[s][c];
    int k = node[c].code[s];
    if (derivative) {
        RateDerivative dP(rec.length, a);
        for (int i = 1; i <= 20; i++) rec.vec[i] = dP(i, k);
    } else if (!transitionCacheEnabled || k < 1 || k > 20) {
        // A code outside 1..20 goes to pij, which reports it.
        for (int i = 1; i <= 20; i++) rec.vec[i] = pij(i, k, modelLength(rec.length), a);
    } else if (gauge == Gauge::LargestEntry) {
        const double* v = branchTransitions(s, c, a).leafColumn(k, &rec.scale);
        for (int i = 1; i <= 20; i++) rec.vec[i] = v[i];
        return;
    } else {
        TransitionColumns P = transitionColumn(s, c, a, k);
        for (int i = 1; i <= 20; i++) rec.vec[i] = P[k][i];
    }
    rec.scale = rescale(rec.vec, gauge);
}

// calRL and calRL_alfa; target is the record on which the derivative stands (0 for none:
// record 0 is never part of a site tree).
void prune(int s, int c, double a, int target) {
    SiteTreeNode* tree = gapTree[s];
    Gauge gauge = target != 0 ? Gauge::LargestMagnitude : Gauge::LargestEntry;
    for (int k : childrenFirst(tree, c)) {
        SiteTreeNode& rec = tree[k];
        if (!isInner(rec)) {
            leafVector(s, k, a, k == target, gauge);
            continue;
        }
        innerVector(s, k, a, k == target);
        rec.scale = rescale(rec.vec, gauge) + tree[rec.left].scale + tree[rec.right].scale;
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

// The vectors of a record for the columns of a pass. Columns whose leaves below the record hold
// the same codes have the same vector, computed once: the record keeps one vector per pattern of
// those codes, and each column's pattern.
struct PatternVectors {
    explicit PatternVectors(int count)
        : pattern(count), values(static_cast<std::size_t>(count) * 21), scale(count) {}
    double* vec(int u) { return &values[static_cast<std::size_t>(u) * 21]; }
    const double* vec(int u) const { return &values[static_cast<std::size_t>(u) * 21]; }

    std::vector<int> pattern; // by column
    std::vector<double> values;
    std::vector<int> scale; // by pattern
};

// The most columns one pass takes: twice as many slots as patterns keep a search short.
constexpr int PASS_COLUMNS = 128;

// The patterns of two children's columns as one number each, found again in a small table that a
// new record clears by a new stamp. A pass of PASS_COLUMNS columns at most never fills it.
class PatternTable {
  public:
    void clear() { stamp++; }
    // The slot of key: found, or empty (its stamp not the current one) for a new pattern.
    int& find(std::uint64_t key) {
        std::size_t h = (key * 0x9E3779B97F4A7C15u) >> 56;
        while (slots[h].stamp == stamp && slots[h].key != key) h = (h + 1) & (SIZE - 1);
        if (slots[h].stamp != stamp) slots[h] = {key, stamp, -1};
        return slots[h].pattern;
    }

  private:
    static constexpr std::size_t SIZE = 2 * PASS_COLUMNS;
    struct Slot {
        std::uint64_t key;
        unsigned long stamp;
        int pattern;
    };
    Slot slots[SIZE] = {};
    unsigned long stamp = 0;
};

// The pass of calTreeColumns: every record of the site's tree below the root, children before
// parents, holds its vectors while its parent still needs them.
class ColumnPass {
  public:
    ColumnPass(int s, double a, const unsigned char* codes, int stride, int count)
        : s(s), a(a), codes(codes), stride(stride), count(count), tree(gapTree[s]), held(DIM),
          leftLeaf(count), rightLeaf(count), left(count), right(count), out(count), leftScale(count),
          rightScale(count) {}

    // The patterns of record c's columns, a leaf's pattern its code, into the buffer for a leaf.
    const int* patternsOf(int c, std::vector<int>& buffer) {
        if (isInner(tree[c])) return held[c]->pattern.data();
        for (int b = 0; b < count; b++) buffer[b] = codes[static_cast<std::size_t>(b) * stride + c];
        return buffer.data();
    }

    // Where the vectors of a record's patterns are: its own, or a leaf's columns in the store.
    struct Source {
        const PatternVectors* inner;
        Transitions* leaf;
        const double* vectorOf(int u, int* scale) const {
            if (leaf) return leaf->leafColumn(u, scale);
            *scale = inner->scale[u];
            return inner->vec(u);
        }
    };
    Source sourceOf(int c) {
        if (isInner(tree[c])) return {held[c].get(), nullptr};
        return {nullptr, &branchTransitions(s, c, a)};
    }

    // The records below c, children before parents, each one's transition data asked for while
    // the one before it is computed.
    void computeBelow(int c) {
        inner.clear();
        for (int k : childrenFirst(tree, c))
            if (isInner(tree[k])) inner.push_back(k);
        for (std::size_t t = 0; t < inner.size(); t++) {
            if (t + 1 < inner.size()) prefetchRecord(inner[t + 1]);
            computeRecord(inner[t]);
        }
    }

  private:
    void prefetchRecord(int k) {
        const SiteTreeNode& rec = tree[k];
        branchTransitions(s, k, a).prefetch();
        for (int c : {rec.left, rec.right})
            if (!isInner(tree[c])) branchTransitions(s, c, a).prefetch();
    }

    void computeRecord(int k) {
        const SiteTreeNode& rec = tree[k];
        std::unique_ptr<PatternVectors> v = takeSpare();
        const int* pl = patternsOf(rec.left, leftLeaf);
        const int* pr = patternsOf(rec.right, rightLeaf);
        Source l = sourceOf(rec.left), r = sourceOf(rec.right);
        table->clear();
        int patterns = 0;
        for (int b = 0; b < count; b++) {
            int& u = table->find(static_cast<std::uint64_t>(pl[b]) << 32 | static_cast<std::uint32_t>(pr[b]));
            if (u < 0) {
                u = patterns++;
                left[u] = l.vectorOf(pl[b], &leftScale[u]);
                right[u] = r.vectorOf(pr[b], &rightScale[u]);
                out[u] = v->vec(u);
            }
            v->pattern[b] = u;
        }
        combineColumns(transitionMatrix(s, k, a), left.data(), right.data(), out.data(), v->scale.data(),
                       patterns);
        for (int u = 0; u < patterns; u++) v->scale[u] += leftScale[u] + rightScale[u];
        release(rec.left);
        release(rec.right);
        held[k] = std::move(v);
    }

    void release(int c) {
        if (isInner(tree[c])) spare.push_back(std::move(held[c]));
    }

    std::unique_ptr<PatternVectors> takeSpare() {
        if (spare.empty()) return std::make_unique<PatternVectors>(count);
        std::unique_ptr<PatternVectors> v = std::move(spare.back());
        spare.pop_back();
        return v;
    }

    int s;
    double a;
    const unsigned char* codes;
    int stride;
    int count;
    const SiteTreeNode* tree;
    std::vector<std::unique_ptr<PatternVectors>> held;
    std::vector<std::unique_ptr<PatternVectors>> spare;
    std::unique_ptr<PatternTable> table = std::make_unique<PatternTable>();
    std::vector<int> inner;
    std::vector<int> leftLeaf, rightLeaf;
    // The operands of one record's patterns.
    std::vector<const double*> left, right;
    std::vector<double*> out;
    std::vector<int> leftScale, rightScale;
};

// One pass, of PASS_COLUMNS columns at most.
void passColumns(int s, const SiteTreeNode& r, double a, const unsigned char* codes, int stride, int count,
                 double* logL) {
    ColumnPass pass(s, a, codes, stride, count);
    int child[3] = {r.left, r.right, r.third};
    // An inner child keeps its patterns in the pass; a leaf's are its codes, copied here.
    std::vector<int> leafPatterns[3];
    const int* patterns[3];
    for (int c = 0; c < 3; c++) {
        pass.computeBelow(child[c]);
        leafPatterns[c].resize(count);
        patterns[c] = pass.patternsOf(child[c], leafPatterns[c]);
    }
    ColumnPass::Source source[3] = {pass.sourceOf(child[0]), pass.sourceOf(child[1]),
                                    pass.sourceOf(child[2])};
    for (int b = 0; b < count; b++) {
        int scale[3];
        const double* vl = source[0].vectorOf(patterns[0][b], &scale[0]);
        const double* vr = source[1].vectorOf(patterns[1][b], &scale[1]);
        const double* vt = source[2].vectorOf(patterns[2][b], &scale[2]);
        double S = 0.0;
        for (int i = 1; i <= 20; i++) S += PI[i] * vl[i] * vr[i] * vt[i];
        logL[b] = std::log(S) - std::log(10.0) * (scale[0] + scale[1] + scale[2]);
    }
}

} // namespace

void calTreeColumns(int s, int root, double a, const unsigned char* codes, int stride, int count,
                    double* logL) {
    const SiteTreeNode& r = gapTree[s][root];
    if (r.gap) {
        for (int b = 0; b < count; b++) logL[b] = 0.0;
        return;
    }
    for (int first = 0; first < count; first += PASS_COLUMNS)
        passColumns(s, r, a, codes + static_cast<std::size_t>(first) * stride, stride,
                    std::min(PASS_COLUMNS, count - first), logL + first);
}

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
