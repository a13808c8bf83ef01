#include "wnj/calcq.h"

#include "wnj/calcb.h"
#include "wnj/calcz.h"
#include "wnj/calerf.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"
#include "wnj/state.h"

#include "numerics/job.h"

#include <cmath>
#include <vector>

namespace wnj {

namespace {

// ln erfc(x) without underflow for large x.
double lnErfc(double x) {
    return x > 0 ? std::log(derfcx(x)) - x * x : std::log(derfc(x));
}

// ln of the standard normal distribution function at z, without underflow.
double lnPhi(double z) {
    double x = -z * 0.7071067811865476;
    return x > 0 ? std::log(0.5 * derfcx(x)) - x * x : std::log(0.5 * derfc(x));
}

// Spread of the split differences of slot i with partner c, per remaining taxon, less
// twice the log-probability of the z-score.
double score(int n, int i, int c, double z) {
    return (delta2B[i][c] - SQR(deltaB[i][c])) * s[i][c] / (n - 3) - 2.0 * lnPhi(z);
}

// The partner of slot i: the winner jp of a tournament, replaced by the best challenger c
// when c beats it. scores is scratch for n values.
void bestPartners(int n, int i, int& q, int& q2, std::vector<double>& scores) {
    int jp = i == 0 ? 1 : 0;
    for (int j = 0; j < n; j++) {
        if (j == i || j == jp) continue;
        double r = calcR(n, i, j, jp);
        if (r < 0)
            jp = j;
        else
            scores[j] = r;
    }
    int c = -1;
    double minR = 0.0;
    for (int j = 0; j < n; j++) {
        if (j == i || j == jp) continue;
        // Every slot after the winner met it in the tournament and kept its score.
        double r = j > jp ? scores[j] : calcR(n, i, j, jp);
        if (c < 0 || r < minR) {
            c = j;
            minR = r;
        }
    }
    q = minR < 0 ? c : jp;
    q2 = minR < 0 ? jp : c;
}

} // namespace

double calcR(int n, int i, int j, int jp) {
    double dij = slotD(i, j), dijp = slotD(i, jp), djjp = slotD(j, jp);
    // sigma2_3 takes its pair in either order, so the weights share their split terms: wA
    // those of i's paths, wB and wC that of the path j-jp.
    double sijjp = sigma2_3(i, j, jp), sijpj = sigma2_3(i, jp, j), sjjpi = sigma2_3(j, jp, i);
    double wA = 1.0 / (sijjp + sijpj + EPSILON);
    double wB = 1.0 / (sijjp + sjjpi + EPSILON);
    double wC = 1.0 / (sijpj + sjjpi + EPSILON);

    // The weight sums without the third taxon of the triple.
    double S1 = s[j][jp] - wA + EPSILON, S2 = s[jp][j] - wA + EPSILON;
    double S3 = s[i][jp] - wB + EPSILON, S4 = s[i][j] - wC + EPSILON;
    double Dj = (s[j][jp] * deltaB[j][jp] - (dij - dijp) * wA) / S1;
    double Djp = (s[jp][j] * deltaB[jp][j] - (dijp - dij) * wA) / S2;

    double bj = DMAX((djjp + Dj) / 2.0, MINB), bjp = DMAX((djjp - Dj) / 2.0, MINB);
    double bi = (DMAX(dij - bj, MINB) / (sijjp + EPSILON) + DMAX(dijp - bjp, MINB) / (sijpj + EPSILON)) /
                (1.0 / (sijpj + EPSILON) + 1.0 / (sijjp + EPSILON));
    // Each branch piece enters two of the three path excesses.
    double Xi = bi + slotC(i), Xj = bj + slotC(j), Xjp = bjp + slotC(jp);
    double ti = sigma2t(Xi), tj = sigma2t(Xj), tjp = sigma2t(Xjp);
    double Vij = pathExcess(Xi, Xj, ti, tj);
    double Vijp = pathExcess(Xi, Xjp, ti, tjp);
    double Vjjp = pathExcess(Xj, Xjp, tj, tjp);

    double A1 = 1.0 / S3 + Vjjp, B1 = 1.0 / S1 + Vijp, V1 = 1.0 / (1.0 / A1 + 1.0 / B1);
    double A2 = 1.0 / S4 + Vjjp, B2 = 1.0 / S2 + Vij, V2 = 1.0 / (1.0 / A2 + 1.0 / B2);
    double dbar1 = (djjp / A1 + dijp / B1) * V1;
    double dbar2 = (djjp / A2 + dij / B2) * V2;
    double E1 = (((s[i][jp] * deltaB[i][jp] - (dij - djjp) * wB) / S3) / A1 + Dj / B1) * V1;
    double E2 = (((s[i][j] * deltaB[i][j] - (dijp - djjp) * wC) / S4) / A2 + Djp / B2) * V2;
    double z1 = (dij - E1 - dbar1) / std::sqrt(2.0 * (V1 + Vij));
    double z2 = (dijp - E2 - dbar2) / std::sqrt(2.0 * (V2 + Vijp));

    double spread =
        (delta2B[i][j] - SQR(deltaB[i][j])) * s[i][j] - (delta2B[i][jp] - SQR(deltaB[i][jp])) * s[i][jp];
    return spread / (n - 3) - 2.0 * (lnErfc(z1) - lnErfc(z2));
}

double calcR2(int n, int i, int j, int k, double** b) {
    return score(n, i, j, calcZ2(n, i, j, k, b));
}

// A slot's results depend on nothing but the slot and the step's sums, so each process
// works out those of its share of the slots and every process then holds all of them.
void calc_q(int n, int q[], double R[], double** b, int q2[], double P[], double Z[]) {
    calc_b(n, b, deltaB, delta2B, s);
    Shares shares = equalShares(static_cast<std::size_t>(n));
    enum { PARTNER, SECOND, AUXILIARY, ZSCORE, SCORE, FIELDS };
    std::vector<double> slots(FIELDS * static_cast<std::size_t>(n));
    std::vector<double> scores(static_cast<std::size_t>(n));
    for (int i = static_cast<int>(shares.myBegin()); i < static_cast<int>(shares.myEnd()); i++) {
        double* r = &slots[FIELDS * static_cast<std::size_t>(i)];
        bestPartners(n, i, q[i], q2[i], scores);
        double z = memoZScore(n, i, q[i], q2[i]);
        r[PARTNER] = q[i];
        r[SECOND] = q2[i];
        r[AUXILIARY] = -0.5 * calcR(n, i, q[i], q2[i]);
        r[ZSCORE] = z;
        r[SCORE] = score(n, i, q[i], z);
    }
    gatherShares(shares, slots.data(), FIELDS);
    for (int i = 0; i < n; i++) {
        if (i < static_cast<int>(shares.myBegin()) || i >= static_cast<int>(shares.myEnd()))
            forgetZScores(slotNodeIndex[i]);
        const double* r = &slots[FIELDS * static_cast<std::size_t>(i)];
        q[i] = static_cast<int>(r[PARTNER]);
        q2[i] = static_cast<int>(r[SECOND]);
        P[i] = r[AUXILIARY];
        Z[i] = r[ZSCORE];
        R[i] = r[SCORE];
    }
}

} // namespace wnj
