#include "wnj/noise.h"

#include "wnj/matrix.h"
#include "wnj/state.h"

#include "numerics/job.h"
#include "numerics/matrixalgebra.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

namespace wnj {

namespace {

// A clearly negative split variance as noted: 1 (0 where none is), the joins made before it, its
// three slots, the term and the three arguments of its path variance with their difference; in
// doubles, as the processes exchange them.
constexpr int NOTE_WIDTH = 10;
using SplitVarianceNote = std::array<double, NOTE_WIDTH>;
SplitVarianceNote firstSplitVariance = {};

// Whether note comes before other: by the joins made and then the slots; a note comes before none.
bool comesFirst(const SplitVarianceNote& note, const SplitVarianceNote& other) {
    if (!note[0]) return false;
    if (!other[0]) return true;
    return std::lexicographical_compare(note.begin() + 1, note.begin() + 5, other.begin() + 1,
                                        other.begin() + 5);
}

void noteSplitVariance(const SplitVarianceNote& note) {
    if (comesFirst(note, firstSplitVariance)) firstSplitVariance = note;
}

} // namespace

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
    noteSplitVariance(
        {1.0, double(joinsMade), double(i), double(j), double(k), v, whole, first, second, difference});
    return 0.0;
}

int joinsMade = 0;

void forgetSplitVariance() {
    firstSplitVariance = {};
}

void reportSplitVariance() {
    Shares oneEach = equalShares(shareCount());
    std::vector<double> notes(NOTE_WIDTH * oneEach.count(), 0.0);
    std::copy(firstSplitVariance.begin(), firstSplitVariance.end(),
              notes.begin() + NOTE_WIDTH * oneEach.myBegin());
    gatherShares(oneEach, notes.data(), NOTE_WIDTH);
    SplitVarianceNote first{};
    for (int r = 0; r < oneEach.count(); r++) {
        SplitVarianceNote note;
        std::copy(notes.begin() + NOTE_WIDTH * r, notes.begin() + NOTE_WIDTH * (r + 1), note.begin());
        if (comesFirst(note, first)) first = note;
    }
    if (!first[0] || !writesFiles()) return;
    std::printf("ERROR: sigma2_3(%d,%d,%d)=%g < 0.0\n", int(first[2]), int(first[3]), int(first[4]),
                first[5]);
    std::printf("%g - %g - %g %g\n", first[6], first[7], first[8], first[9]);
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
