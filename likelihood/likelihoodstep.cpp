#include "likelihoodstep.h"

#include <cmath>

// The sums run over j outside and i inside, each out[i] still summed over j in order: the
// compiler can then take two or more entries at a time.
void combineChildren(const double (*P)[21], const double* left, const double* right, double* out) {
    double sum[21] = {};
    for (int j = 1; j <= 20; j++)
        for (int i = 1; i <= 20; i++) sum[i] += P[j][i] * left[j] * right[j];
    for (int i = 1; i <= 20; i++) out[i] = sum[i];
}

void bestOfChildren(const double (*P)[21], const double* left, const double* right, double* out,
                    int* choice) {
    for (int i = 1; i <= 20; i++) {
        out[i] = P[1][i] * left[1] * right[1];
        choice[i] = 1;
    }
    for (int j = 2; j <= 20; j++) {
        for (int i = 1; i <= 20; i++) {
            double w = P[j][i] * left[j] * right[j];
            if (w > out[i]) out[i] = w, choice[i] = j;
        }
    }
}

void passDown(const double (*P)[21], const double* parent, double* out) {
    for (int j = 1; j <= 20; j++) {
        double sum = 0.0;
        for (int i = 1; i <= 20; i++) sum += P[j][i] * parent[i];
        out[j] = sum;
    }
}

int rescale(double* vec, Gauge gauge) {
    bool byMagnitude = gauge == Gauge::LargestMagnitude;
    double g = byMagnitude ? std::fabs(vec[1]) : vec[1];
    for (int i = 2; i <= 20; i++) {
        double v = byMagnitude ? std::fabs(vec[i]) : vec[i];
        if (v > g) g = v;
    }
    if (!(g > 1e-200)) return 0;
    int n = 0;
    while (g < 0.1) {
        n++;
        g *= 10;
    }
    if (n == 0) return 0; // a factor of 1 changes nothing
    double factor = powerOfTen(n);
    for (int i = 1; i <= 20; i++) vec[i] *= factor;
    return n;
}

// From a table for the exponents that the rescaling meets (at most 200 steps per vector): pow
// costs more than the rest of a leaf's work.
double powerOfTen(int n) {
    static const std::vector<double> table = [] {
        std::vector<double> t(309);
        for (int k = 0; k < 309; k++) t[k] = std::pow(10, k);
        return t;
    }();
    return n >= 0 && n < 309 ? table[n] : std::pow(10, n);
}
