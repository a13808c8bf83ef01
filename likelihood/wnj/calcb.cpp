#include "wnj/calcb.h"

#include "wnj/matrix.h"
#include "wnj/noise.h"
#include "wnj/state.h"

#include "numerics/job.h"
#include "numerics/matrixalgebra.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace wnj {

namespace {

double pairWeight(int a, int k, int c) {
    return 1.0 / (sigma2_3(a, k, c) + sigma2_3(c, k, a) + EPSILON);
}

// One third node's term, weight w and difference e, in the sums of a pair.
void addTerm(double w, double e, double& sum, double& delta, double& delta2) {
    sum += w;
    delta += w * e;
    delta2 += w * e * e;
}

[[noreturn]] void negativeSum(int a, int c, int k, double w, double sum) {
    std::printf("i %d j %d k %d weight %lf s_ij %lf\n", a, c, k, w, sum);
    std::fflush(stdout);
    fatalExit(1);
}

bool hasCachedSums(int a, int c) {
    return !(mS[a][c] < 0);
}

// The sums over every active third slot k of the pair a, c.
void fullSums(int i, int a, int c, double** deltaB, double** delta2B, double** s) {
    for (int k = 0; k < i; k++) {
        if (k == a || k == c) continue;
        double w = pairWeight(a, k, c);
        addTerm(w, slotD(a, k) - slotD(c, k), s[a][c], deltaB[a][c], delta2B[a][c]);
        if (s[a][c] < 0) negativeSum(a, c, k, w, s[a][c]);
    }
}

// The cached sums of the pair a, c less the two nodes joined in the last step (the first in
// the parked row, the second in slot tb) plus the node made from them (slot tc).
void correctedSums(int a, int c, double** deltaB, double** delta2B, double** s) {
    s[a][c] = mS[a][c];
    deltaB[a][c] = mDelB[a][c];
    delta2B[a][c] = mDel2B[a][c];
    const int slot[3] = {PARKED_SLOT, tb, tc};
    const double sign[3] = {-1.0, -1.0, 1.0};
    for (int t = 0; t < 3; t++) {
        double w = sign[t] * pairWeight(a, slot[t], c);
        addTerm(w, slotD(a, slot[t]) - slotD(c, slot[t]), s[a][c], deltaB[a][c], delta2B[a][c]);
    }
}

// Keeps the undivided sums of every pair for the next step, then turns them into means.
void cacheAndDivide(int i, double** deltaB, double** delta2B, double** s) {
    for (int a = 0; a < i; a++)
        for (int c = a + 1; c < i; c++) {
            s[c][a] = s[a][c];
            mS[a][c] = mS[c][a] = s[a][c];
            mDelB[a][c] = deltaB[a][c];
            mDelB[c][a] = -deltaB[a][c];
            mDel2B[a][c] = mDel2B[c][a] = delta2B[a][c];
            deltaB[a][c] /= s[a][c];
            deltaB[c][a] = -deltaB[a][c];
            delta2B[a][c] /= s[a][c];
            delta2B[c][a] = delta2B[a][c];
        }
}

void setEstimates(int i, double** b, double** deltaB) {
    for (int a = 0; a < i; a++)
        for (int c = 0; c < i; c++) b[a][c] = branchShare(slotD(a, c), deltaB[a][c]);
}

} // namespace

double branchShare(double d, double e) {
    if (d >= std::fabs(e)) return (d + e) / 2.0;
    if (-e > d) return 0.0;
    return d;
}

// A pair's sums depend on nothing but the pair and the step's distances, so each process
// works out those of its share of the pairs a < c (in order) and every process then holds
// all of them. A pair summed in full costs a term per third slot, a corrected one three.
void calc_b(int i, double** b, double** deltaB, double** delta2B, double** s) {
    std::vector<double> work;
    for (int a = 0; a < i; a++)
        for (int c = a + 1; c < i; c++) work.push_back(hasCachedSums(a, c) ? 3.0 : i);
    Shares shares = balancedShares(work);
    std::vector<double> sums(3 * work.size());
    std::size_t p = 0;
    for (int a = 0; a < i; a++)
        for (int c = a + 1; c < i; c++, p++) {
            if (p < shares.myBegin() || p >= shares.myEnd()) continue;
            s[a][c] = deltaB[a][c] = delta2B[a][c] = 0.0;
            if (hasCachedSums(a, c))
                correctedSums(a, c, deltaB, delta2B, s);
            else
                fullSums(i, a, c, deltaB, delta2B, s);
            sums[3 * p] = s[a][c];
            sums[3 * p + 1] = deltaB[a][c];
            sums[3 * p + 2] = delta2B[a][c];
        }
    gatherShares(shares, sums.data(), 3);
    p = 0;
    for (int a = 0; a < i; a++)
        for (int c = a + 1; c < i; c++, p++) {
            s[a][c] = sums[3 * p];
            deltaB[a][c] = sums[3 * p + 1];
            delta2B[a][c] = sums[3 * p + 2];
        }
    cacheAndDivide(i, deltaB, delta2B, s);
    setEstimates(i, b, deltaB);
}

void recalc_b(int n, double** b, double** deltaB, double** delta2B, double** s) {
    double** oldDeltaB = matrix(n);
    setMM(n, deltaB, oldDeltaB);
    for (int a = 0; a < n; a++)
        for (int c = 0; c < n; c++) {
            if (a == c) continue;
            s[a][c] = deltaB[a][c] = delta2B[a][c] = 0.0;
            for (int k = 0; k < n; k++) {
                if (k == a || k == c) continue;
                double sa = sigma2_3p(a, k, c, oldDeltaB[a][c]), sc = sigma2_3p(c, k, a, oldDeltaB[c][a]);
                double w = 1.0 / (sa + sc + EPSILON);
                addTerm(w, slotD(a, k) - slotD(c, k), s[a][c], deltaB[a][c], delta2B[a][c]);
                if (s[a][c] < 0) {
                    std::printf(
                        "Recalc N %d i %d j %d k %d weight=%g sij=%lg sigma %lg %lg [%g %g] deltaB %lg "
                        "%lg\n",
                        n, a, c, k, w, s[a][c], sa, sc, slotD(a, k), slotD(c, k), oldDeltaB[a][c],
                        oldDeltaB[c][a]);
                    std::fflush(stdout);
                    fatalExit(1);
                }
            }
            deltaB[a][c] /= s[a][c];
            delta2B[a][c] /= s[a][c];
        }
    freeMatrix(oldDeltaB);
    setEstimates(n, b, deltaB);
}

} // namespace wnj
