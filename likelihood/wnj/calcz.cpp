#include "wnj/calcz.h"

#include "wnj/build.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"

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

double sigma2PQfrom(int i, int j, int k, int l, double vA, double vB) {
    double t = sigma2_3(k, l, i) + sigma2_3(k, l, j);
    if (vA + vB == 0) return t / 8.0;
    return (t / 2.0 + vA * vB / (vA + vB)) / 4.0;
}

// PQ(i, e, j, h) over the square root of its variance with the split terms of (i, e). PQ and
// its variance share the cross variances, the bulk of the z-scores' cost.
double scaledPQ(int i, int e, int j, int h) {
    double vA, vB;
    crossVariances(i, e, j, h, vA, vB);
    double variance =
        (sigma2_3(i, e, h) + sigma2_3(i, e, j)) / 8.0 + sigma2PQfrom(i, e, j, h, vA, vB) + EPSILON;
    return PQfrom(i, e, j, h, vA, vB) / std::sqrt(variance);
}

// For every third slot k its best fourth slot l (the least PQ(i, j, k, l)); every quartet
// {k, l} counted once, weighted by the inverse of its variance h: sum of 1/h, total of PQ/h.
void pooledQuartets(int n, int i, int j, double& sum, double& total) {
    std::vector<int> r(n, -1);
    sum = total = 0.0;
    for (int k = 0; k < n; k++) {
        if (k == i || k == j) continue;
        int l = -1;
        double best = 0.0;
        for (int m = 0; m < n; m++) {
            if (m == i || m == j || m == k) continue;
            double value = PQ(i, j, k, m);
            if (l < 0 || value < best) {
                l = m;
                best = value;
            }
        }
        r[k] = l;
        if (l < k && r[l] == k) continue;
        double h = sigma2PQ(i, j, k, l) + EPSILON;
        sum += 1.0 / h;
        total += best / h;
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

double calcZ2(int n, int i, int e, int g, double** /*b*/) {
    int h = -1;
    double best = 0.0;
    for (int j = 0; j < n; j++) {
        if (j == i || j == e || j == g) continue;
        double value = scaledPQ(i, e, g, j);
        if (h < 0 || value < best) {
            h = j;
            best = value;
        }
    }
    double z = 0.0;
    bool first = true;
    for (int j = 0; j < n; j++) {
        if (j == i || j == e || j == h) continue;
        double value = scaledPQ(i, e, j, h);
        if (first || value < z) z = value;
        first = false;
    }
    return z;
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
