// Small helpers for the numerical tests: matrices from row lists, products and checks.
#ifndef TESTS_NUMERICS_MATRIX_HELPERS_H
#define TESTS_NUMERICS_MATRIX_HELPERS_H

#include "numerics/matrixalgebra.h"

#include <cmath>
#include <initializer_list>
#include <random>
#include <vector>

// A dmatrix [1..rows][1..cols] from rows given in order.
inline double** matrixOf(std::initializer_list<std::initializer_list<double>> rows) {
    int m = static_cast<int>(rows.size()), n = static_cast<int>(rows.begin()->size());
    double** a = dmatrix(1, m, 1, n);
    int i = 1;
    for (auto& row : rows) {
        int j = 1;
        for (double x : row) a[i][j++] = x;
        i++;
    }
    return a;
}

// A dmatrix [1..m][1..n] of uniform values in [-1, 1], plus shift on the diagonal.
inline double** randomMatrix(int m, int n, unsigned seed, double shift = 0.0) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    double** a = dmatrix(1, m, 1, n);
    for (int i = 1; i <= m; i++)
        for (int j = 1; j <= n; j++) a[i][j] = u(gen) + (i == j ? shift : 0.0);
    return a;
}

inline double** copyOf(double** a, int m, int n) {
    double** c = dmatrix(1, m, 1, n);
    for (int i = 1; i <= m; i++)
        for (int j = 1; j <= n; j++) c[i][j] = a[i][j];
    return c;
}

// Largest |(A B)[i][j] - expected[i][j]| with A m x k, B k x n, expected m x n.
inline double productError(double** a, double** b, int m, int k, int n, double** expected) {
    double worst = 0.0;
    for (int i = 1; i <= m; i++)
        for (int j = 1; j <= n; j++) {
            double sum = 0.0;
            for (int l = 1; l <= k; l++) sum += a[i][l] * b[l][j];
            worst = std::fmax(worst, std::fabs(sum - expected[i][j]));
        }
    return worst;
}

inline double** identityOf(int n) {
    double** e = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) e[i][j] = i == j ? 1.0 : 0.0;
    return e;
}

// Largest |Q^T Q - I| over the n columns of the m x n matrix q.
inline double orthonormalityError(double** q, int m, int n) {
    double worst = 0.0;
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            double dot = 0.0;
            for (int k = 1; k <= m; k++) dot += q[k][i] * q[k][j];
            worst = std::fmax(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    return worst;
}

#endif
