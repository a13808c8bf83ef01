// Small alignments and site trees for the likelihood and rate tests: an alignment read by
// the reader whose columns are then set site by site, random frequencies, random trees in the
// node numbering (leaves 1..n, top node n+1, inner nodes n+2..2n-2) and an independent matrix
// exponential.
#ifndef TESTS_SITEFIXTURE_H
#define TESTS_SITEFIXTURE_H

#include "alignment.h"
#include "model.h"
#include "model_setup.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace sitefixture {

// Random frequencies, none below floor, summing to 1 (index 0 unused).
inline std::array<double, 21> randomFrequencies(std::mt19937& rng, double floor = 0.01) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::array<double, 21> f{};
    double sum = 0.0;
    for (int k = 1; k <= 20; k++) sum += (f[k] = u(rng));
    for (int k = 1; k <= 20; k++) f[k] = floor + (1.0 - 20 * floor) * f[k] / sum;
    return f;
}

// The reader's alignment stores for n sequences and L sites (every site gap-free with
// letter 'A' and rate 1.0), each site rooted at the top node. The stores of an earlier call
// are left behind.
inline void makeAlignment(int n, int L) {
    useAlignment(std::vector<std::string>(n, std::string(L, 'A')));
    for (int s = 1; s <= L; s++) treeRoot[s] = n + 1;
}

// Letters of leaves 1..n at site s ('-' a gap), with the site's gap count and flags.
inline void setColumn(int s, const std::string& letters) {
    int gaps = 0;
    for (int i = 1; i <= seqNum; i++) {
        char c = letters[i - 1];
        node[i].seq[s] = c;
        node[i].code[s] = static_cast<int>(std::strchr(aa, c) - aa);
        if (c == '-') gaps++;
    }
    gapNumber[s] = gaps;
    dashFlag[s] = gaps > 0;
    calFlag[s] = gaps > 0 && gaps <= seqNum - 3;
}

inline std::string randomColumn(std::mt19937& rng, int n, int letters = 20) {
    std::uniform_int_distribution<int> pick(1, letters);
    std::string column;
    for (int i = 0; i < n; i++) column += aa[pick(rng)];
    return column;
}

// A random unrooted tree on leaves 1..n in node's fields, branch lengths in [lo, hi).
inline void randomTree(std::mt19937& rng, double lo, double hi) {
    std::uniform_real_distribution<double> len(lo, hi), u(0.0, 1.0);
    int n = seqNum, top = n + 1;
    node[top].left = 1;
    node[top].right = 2;
    node[top].third = 3;
    node[top].parent = top;
    node[top].isRoot = 1;
    for (int i = 1; i <= 3; i++) {
        node[i].parent = top;
        node[i].length = len(rng);
    }
    int next = n + 2;
    for (int leaf = 4; leaf <= n; leaf++) {
        // Split the branch above a random record other than the top node.
        std::uniform_int_distribution<int> pick(0, leaf - 2 + (next - (n + 2)));
        int r = pick(rng);
        int c = r < leaf - 1 ? r + 1 : n + 2 + (r - (leaf - 1));
        int m = next++, p = node[c].parent;
        if (node[p].left == c)
            node[p].left = m;
        else if (node[p].right == c)
            node[p].right = m;
        else
            node[p].third = m;
        double x = u(rng);
        node[m].parent = p;
        node[m].left = c;
        node[m].right = leaf;
        node[m].length = node[c].length * x;
        node[c].length *= 1 - x;
        node[c].parent = m;
        node[leaf].parent = m;
        node[leaf].length = len(rng);
    }
}

// Tree s becomes a plain copy of the unrooted tree in node, rooted at the top node.
inline void copyTreeToSite(int s) {
    for (int i = 1; i < DIM; i++) {
        SiteTreeNode& r = gapTree[s][i];
        r.left = node[i].left;
        r.right = node[i].right;
        r.third = node[i].third;
        r.parent = node[i].parent;
        r.isRoot = node[i].isRoot;
        r.length = node[i].length;
        r.gap = 0;
    }
    treeRoot[s] = seqNum + 1;
}

using Matrix = std::vector<std::vector<long double>>;

// exp(Q t) of the current rate matrix by a Taylor series after scaling and squaring, in long
// double, independent of the eigen-decomposition behind pij.
inline Matrix transitionByExponential(double t) {
    Matrix Q(21, std::vector<long double>(21, 0.0L));
    long double norm = 0;
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) {
            Q[i][j] = static_cast<long double>(Q_ij[i][j]) * t;
            norm = std::max(norm, Q[i][j] < 0 ? -Q[i][j] : Q[i][j]);
        }
    int squarings = 0;
    while (norm > 0.1L) {
        norm /= 2;
        squarings++;
    }
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) Q[i][j] = std::ldexp(Q[i][j], -squarings);
    Matrix P(21, std::vector<long double>(21, 0.0L)), term = P;
    for (int i = 1; i <= 20; i++) P[i][i] = term[i][i] = 1.0L;
    for (int k = 1; k <= 30; k++) {
        Matrix nextTerm(21, std::vector<long double>(21, 0.0L));
        for (int i = 1; i <= 20; i++)
            for (int m = 1; m <= 20; m++)
                for (int j = 1; j <= 20; j++) nextTerm[i][j] += term[i][m] * Q[m][j] / k;
        term = nextTerm;
        for (int i = 1; i <= 20; i++)
            for (int j = 1; j <= 20; j++) P[i][j] += term[i][j];
    }
    for (int r = 0; r < squarings; r++) {
        Matrix sq(21, std::vector<long double>(21, 0.0L));
        for (int i = 1; i <= 20; i++)
            for (int m = 1; m <= 20; m++)
                for (int j = 1; j <= 20; j++) sq[i][j] += P[i][m] * P[m][j];
        P = sq;
    }
    return P;
}

} // namespace sitefixture

#endif
