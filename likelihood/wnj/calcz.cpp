#include "wnj/calcz.h"

#include "wnj/matrix.h"
#include "wnj/noise.h"
#include "wnj/state.h"

#include "numerics/job.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace wnj {

namespace {

// Variances of the two cross sums d_ik + d_jl (vA) and d_il + d_jk (vB).
void crossVariances(int i, int j, int k, int l, double& vA, double& vB) {
    vA = DMIN(sigma2_3(i, k, j), sigma2_3(i, k, l)) + DMIN(sigma2_3(j, l, i), sigma2_3(j, l, k));
    vB = DMIN(sigma2_3(i, l, j), sigma2_3(i, l, k)) + DMIN(sigma2_3(j, k, i), sigma2_3(j, k, l));
}

double PQfrom(int i, int j, int k, int l, double vA, double vB) {
    double D1 = slotD(i, k) + slotD(j, l), D2 = slotD(i, l) + slotD(j, k);
    double mean = vA + vB == 0 ? (D1 + D2) / 2.0 : (vB * D1 + vA * D2) / (vA + vB);
    return 0.5 * (mean - slotD(i, j) - slotD(k, l));
}

// The variance of PQ from the split terms t of the path k-l and the cross variances.
double quartetVariance(double t, double vA, double vB) {
    if (vA + vB == 0) return t / 8.0;
    return (t / 2.0 + vA * vB / (vA + vB)) / 4.0;
}

double sigma2PQfrom(int i, int j, int k, int l, double vA, double vB) {
    return quartetVariance(sigma2_3(k, l, i) + sigma2_3(k, l, j), vA, vB);
}

// The split terms of a slot x with the pair (i, e): the paths i-x split where e branches off
// and e-x where i does, and the path i-e split where x does. The z-score of i meets each
// of them in several quartets.
struct PairSplits {
    double ixe, exi, iex;
};

PairSplits pairSplits(int i, int e, int x) {
    return {sigma2_3(i, x, e), sigma2_3(e, x, i), sigma2_3(i, e, x)};
}

// PQ(i, e, j, h) over the square root of its variance with the split terms of (i, e), from
// the split terms of j and h with (i, e) and the six terms that only the quartet has.
double scaledPQ(int i, int e, int j, int h, const PairSplits& J, const PairSplits& H) {
    double vA = DMIN(J.ixe, sigma2_3(i, j, h)) + DMIN(H.exi, sigma2_3(e, h, j));
    double vB = DMIN(H.ixe, sigma2_3(i, h, j)) + DMIN(J.exi, sigma2_3(e, j, h));
    double t = sigma2_3(j, h, i) + sigma2_3(j, h, e);
    double variance = (H.iex + J.iex) / 8.0 + quartetVariance(t, vA, vB) + EPSILON;
    return PQfrom(i, e, j, h, vA, vB) / std::sqrt(variance);
}

// For every third slot k its best fourth slot l (the least PQ(i, j, k, l)); every quartet
// {k, l} counted once, weighted by the inverse of its variance h: sum of 1/h, total of PQ/h.
// A third slot's best quartet depends on nothing but the slots, so each process finds those
// of its share of the third slots; the sums are then taken in slot order from all of them.
void pooledQuartets(int n, int i, int j, double& sum, double& total) {
    // The split terms of every slot x with the pair (i, j), met by every quartet holding x.
    std::vector<double> ixj(n), jxi(n);
    for (int x = 0; x < n; x++) {
        if (x == i || x == j) continue;
        ixj[x] = sigma2_3(i, x, j);
        jxi[x] = sigma2_3(j, x, i);
    }
    Shares shares = equalShares(static_cast<std::size_t>(n));
    enum { FOURTH, VALUE, VARIANCE, FIELDS };
    std::vector<double> best(FIELDS * static_cast<std::size_t>(n));
    for (int k = static_cast<int>(shares.myBegin()); k < static_cast<int>(shares.myEnd()); k++) {
        if (k == i || k == j) continue;
        int l = -1;
        double value = 0.0, lA = 0.0, lB = 0.0;
        for (int m = 0; m < n; m++) {
            if (m == i || m == j || m == k) continue;
            // The cross variances of PQ(i, j, k, m).
            double vA = DMIN(ixj[k], sigma2_3(i, k, m)) + DMIN(jxi[m], sigma2_3(j, m, k));
            double vB = DMIN(ixj[m], sigma2_3(i, m, k)) + DMIN(jxi[k], sigma2_3(j, k, m));
            double v = PQfrom(i, j, k, m, vA, vB);
            if (l < 0 || v < value) {
                l = m;
                value = v;
                lA = vA;
                lB = vB;
            }
        }
        double* b = &best[FIELDS * static_cast<std::size_t>(k)];
        b[FOURTH] = l;
        b[VALUE] = value;
        b[VARIANCE] = sigma2PQfrom(i, j, k, l, lA, lB) + EPSILON;
    }
    gatherShares(shares, best.data(), FIELDS);
    sum = total = 0.0;
    for (int k = 0; k < n; k++) {
        if (k == i || k == j) continue;
        const double* b = &best[FIELDS * static_cast<std::size_t>(k)];
        int l = static_cast<int>(b[FOURTH]);
        if (l < k && static_cast<int>(best[FIELDS * static_cast<std::size_t>(l) + FOURTH]) == k) continue;
        sum += 1.0 / b[VARIANCE];
        total += b[VALUE] / b[VARIANCE];
    }
}

double splitSum(int n, int i, int j) {
    double sum2 = 0.0;
    for (int k = 0; k < n; k++)
        if (k != i && k != j) sum2 += sigma2_3(i, j, k);
    return sum2;
}

} // namespace

double PQ(int i, int j, int k, int l) {
    double vA, vB;
    crossVariances(i, j, k, l, vA, vB);
    return PQfrom(i, j, k, l, vA, vB);
}

double sigma2PQ(int i, int j, int k, int l) {
    double vA, vB;
    crossVariances(i, j, k, l, vA, vB);
    return sigma2PQfrom(i, j, k, l, vA, vB);
}

namespace {

// What the z-score of one node has computed, by node index of the other nodes: their split
// terms with its partner, and the quartet values of the two minima, with its partner and
// second partner (first) and with its partner and the fourth node that the first minimum
// chose (last). A value depends on nothing but its four nodes, and from one join step to
// the next most nodes keep their partners.
struct ZScoreMemo {
    int partner = -1, second = -1, fourth = -1; // the node indices the values belong to
    std::vector<PairSplits> splits;
    std::vector<double> first, last;
    std::vector<char> hasSplits, hasFirst, hasLast;
};

std::vector<ZScoreMemo> memos;

// Room for every node index of the n active slots.
void fit(ZScoreMemo& m, int n) {
    int top = 0;
    for (int j = 0; j < n; j++) top = std::max(top, slotNodeIndex[j]);
    std::size_t size = static_cast<std::size_t>(top) + 1;
    if (m.splits.size() >= size) return;
    m.splits.resize(size);
    m.first.resize(size);
    m.last.resize(size);
    m.hasSplits.resize(size, 0);
    m.hasFirst.resize(size, 0);
    m.hasLast.resize(size, 0);
}

void forget(std::vector<char>& has) {
    std::fill(has.begin(), has.end(), 0);
}

// The z-score of slot i with partner e and second partner g: h = the fourth slot of the least
// scaled PQ(i, e, g, h), then the least scaled PQ(i, e, j, h) over the other slots j; both
// minima are taken in slot order, with the values m holds for the same nodes.
double zScore(int n, int i, int e, int g, ZScoreMemo& m) {
    fit(m, n);
    int E = slotNodeIndex[e], G = slotNodeIndex[g];
    if (m.partner != E) {
        m.partner = E;
        m.second = m.fourth = -1;
        forget(m.hasSplits);
    }
    if (m.second != G) {
        m.second = G;
        forget(m.hasFirst);
    }
    auto splitsOf = [&](int j) -> const PairSplits& {
        int J = slotNodeIndex[j];
        if (!m.hasSplits[J]) m.splits[J] = pairSplits(i, e, j), m.hasSplits[J] = 1;
        return m.splits[J];
    };
    int h = -1;
    double best = 0.0;
    for (int j = 0; j < n; j++) {
        if (j == i || j == e || j == g) continue;
        int J = slotNodeIndex[j];
        if (!m.hasFirst[J]) m.first[J] = scaledPQ(i, e, g, j, splitsOf(g), splitsOf(j)), m.hasFirst[J] = 1;
        if (h < 0 || m.first[J] < best) {
            h = j;
            best = m.first[J];
        }
    }
    if (m.fourth != slotNodeIndex[h]) {
        m.fourth = slotNodeIndex[h];
        forget(m.hasLast);
    }
    double z = 0.0;
    bool first = true;
    for (int j = 0; j < n; j++) {
        if (j == i || j == e || j == h) continue;
        int J = slotNodeIndex[j];
        if (!m.hasLast[J]) m.last[J] = scaledPQ(i, e, j, h, splitsOf(j), splitsOf(h)), m.hasLast[J] = 1;
        if (first || m.last[J] < z) z = m.last[J];
        first = false;
    }
    return z;
}

} // namespace

double calcZ2(int n, int i, int e, int g, double** /*b*/) {
    ZScoreMemo fresh;
    return zScore(n, i, e, g, fresh);
}

double memoZScore(int n, int i, int e, int g) {
    std::size_t node = static_cast<std::size_t>(slotNodeIndex[i]);
    if (memos.size() <= node) memos.resize(node + 1);
    return zScore(n, i, e, g, memos[node]);
}

void forgetZScores(int node) {
    if (static_cast<std::size_t>(node) < memos.size()) memos[node] = ZScoreMemo();
}

void forgetAllZScores() {
    memos.clear();
}

void calc_z2(int n, double z[], int q[], int q2[], double** b) {
    for (int i = 0; i < n; i++) z[i] = calcZ2(n, i, q[i], q2[i], b);
}

void calc_z1(int n, double z[], int q[]) {
    for (int i = 0; i < n; i++) {
        double w, total;
        pooledQuartets(n, i, q[i], w, total);
        double sum2 = splitSum(n, i, q[i]);
        z[i] = total / (w * std::sqrt(sum2 / (4.0 * (n - 2)) + 1.0 / w));
    }
}

double calcPhi(int n, int i, int j) {
    double sum, total;
    pooledQuartets(n, i, j, sum, total);
    double sum2 = splitSum(n, i, j);
    return (-total / 2.0) / (sum / 4.0 + 1.0 / (sum2 / (n - 2) + EPSILON) + EPSILON);
}

} // namespace wnj
