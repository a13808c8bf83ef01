#include "wnj/noise.h"

#include "wnj/matrix.h"
#include "wnj/state.h"

#include "numerics/matrixalgebra.h"

#include <cmath>
#include <cstdio>
#include <utility>

namespace wnj {

double L = 0.0;
double EPSILON = 1e-9;
double MINB = 0.0;
double B = 20.0;
double sigBi = 1.0 / 20.0;
double sigBB = 19.0 / 20.0;
double sigBBi = 20.0 / 19.0;

void setParameters(int length) {
    L = length;
    EPSILON = 1e-9;
    MINB = 0.0 / L;
    B = 20.0;
    sigBi = 1.0 / B;
    sigBB = (B - 1.0) / B;
    sigBBi = B / (B - 1.0);
}

double sigma2t(double d) {
    double y = std::exp(d * sigBBi) - 1.0;
    return (y + y * y * sigBi) * sigBB / L;
}

double sigma2tinv(double v) {
    double root = std::sqrt((B - 1.0) * (B - 1.0) + 4.0 * (B - 1.0) * v * L);
    double ratio = 2.0 * ((B - 1.0) * (B - 1.0) + v * B * B * L) / ((B - 2.0) * (B - 1.0) + B * root);
    return sigBB * std::log(ratio);
}

double sigma_na(double X, double Y) {
    return pathExcess(X, Y, sigma2t(X), sigma2t(Y));
}

double pathExcess(double X, double Y, double x, double y) {
    double whole = sigma2t(X + Y);
    double v = whole - x - y;
    if (v >= 0) return v;
    if (v > -1e-4) return 0.0;
    if (-v / (whole + x + y) < 1e-8) return 0.0;
    std::printf("ERROR: sigma_na(%g,%g)=%g < 0.0 | X+Y=%g\n", X, Y, v, X + Y);
    std::printf("%12g - %12g - %12g\n", whole, x, y);
    std::fflush(stdout);
    fatalExit(1);
}

namespace {

// The piece of d_ij on i's side when the path i-j is split where k branches off; the
// tests are taken in this order so that a matrix that breaks the triangle inequality still
// gives a piece between 0 and d_ij.
double splitPiece(double dij, double dik, double djk) {
    if (djk > dij + dik) return 0.0;
    if (dij > djk + dik) return dik;
    if (dik > djk + dij) return dij;
    return (dij + dik - djk) / 2.0;
}

} // namespace

double sigma2_3(int i, int j, int k) {
    if (i == j || i == k || j == k) return 0.0;
    // Ordered by node, not by slot: nodes change slots between join steps, and the cached
    // weight sums must subtract exactly the terms they once added.
    if (slotNodeIndex[j] < slotNodeIndex[i]) std::swap(i, j);
    double dij = slotD(i, j);
    double b = splitPiece(dij, slotD(i, k), slotD(j, k));
    double ci = slotC(i), cj = slotC(j);
    double whole = dij + ci + cj, first = b + ci, second = dij - b + cj;
    // slotPathVariance[i][j] is sigma2t(whole), the same for every k.
    double v = slotPathVariance[i][j] - sigma2t(first) - sigma2t(second);
    if (v >= 0) return v;
    if (v > -1e-10) return 0.0;
    double difference = whole - first - second;
    if (std::fabs(difference) < 1e-10) return 0.0;
    std::printf("ERROR: sigma2_3(%d,%d,%d)=%g < 0.0\n", i, j, k, v);
    std::printf("%g - %g - %g %g\n", whole, first, second, difference);
    return 0.0;
}

double sigma2_3p(int i, int j, int k, double deltaB) {
    double dik = slotD(i, k);
    double bi = DMAX((dik + deltaB) / 2.0, MINB), bk = DMAX((dik - deltaB) / 2.0, MINB);
    double wi = 1.0 / (sigma2_3(i, j, k) + EPSILON), wk = 1.0 / (sigma2_3(k, j, i) + EPSILON);
    double bj = (wi * DMAX(slotD(i, j) - bi, MINB) + wk * DMAX(slotD(k, j) - bk, MINB)) / (wi + wk);
    return sigma_na(bi + slotC(i), bj + slotC(j));
}

double sig4(int i, int j, int k, int /*l*/, double PQ, double iP, double jP) {
    double sijk = sigma2_3(i, j, k), skji = sigma2_3(k, j, i);
    double s = sijk + skji;
    double Qk = -PQ;
    if (s > 0) Qk += (sijk * (slotD(k, j) - jP) + skji * (slotD(i, j) - iP)) / s;
    return sigma2t(slotD(i, j) + slotC(i) + slotC(j)) - sigma2t(iP + slotC(i)) - sigma2t(PQ) -
           sigma2t(Qk + slotC(j));
}

double sigord(int i, int j, int k, int l, double PQ, double iP, double jP) {
    if (PQ < 0) return EPSILON;
    return sigma2_3(i, k, j) + sigma2_3(i, k, l) - sig4(i, k, j, l, PQ, iP, jP) + sigma2_3(j, l, i) +
           sigma2_3(j, l, k) - sig4(j, l, i, k, PQ, jP, iP);
}

} // namespace wnj
