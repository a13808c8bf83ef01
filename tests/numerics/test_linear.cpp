#include "matrix_helpers.h"

#include <gtest/gtest.h>

namespace {

// Solves A x = b column by column through one decomposition and returns A^-1.
double** inverseByLU(double** a, int n) {
    double** lu = copyOf(a, n, n);
    int* perm = ivector(1, n);
    double sign;
    ludcmp(lu, n, perm, &sign);
    double** inverse = dmatrix(1, n, 1, n);
    double* col = dvector(1, n);
    for (int j = 1; j <= n; j++) {
        for (int i = 1; i <= n; i++) col[i] = i == j ? 1.0 : 0.0;
        lubksb(lu, n, perm, col);
        for (int i = 1; i <= n; i++) inverse[i][j] = col[i];
    }
    return inverse;
}

} // namespace

TEST(LU, SolvesAndInvertsRandomWellConditionedMatrices) {
    for (int n : {2, 5, 20}) {
        for (unsigned seed = 1; seed <= 3; seed++) {
            double** a = randomMatrix(n, n, seed + 10 * n, 2.0);
            double** lu = copyOf(a, n, n);
            int* perm = ivector(1, n);
            double sign;
            ludcmp(lu, n, perm, &sign);

            double* b = dvector(1, n);
            double* x = dvector(1, n);
            for (int i = 1; i <= n; i++) b[i] = x[i] = i - 0.5 * n;
            lubksb(lu, n, perm, x);
            for (int i = 1; i <= n; i++) {
                double sum = 0.0;
                for (int j = 1; j <= n; j++) sum += a[i][j] * x[j];
                EXPECT_NEAR(sum, b[i], 1e-12) << "n=" << n << " row " << i;
            }

            double** inverse = inverseByLU(a, n);
            double** e = identityOf(n);
            EXPECT_LT(productError(a, inverse, n, n, n, e), 1e-12);
            EXPECT_LT(productError(inverse, a, n, n, n, e), 1e-12);
        }
    }
}

TEST(LU, RepeatedSolvesLeaveTheDecompositionIntact) {
    const int n = 4;
    double** a = randomMatrix(n, n, 7, 1.0);
    int* perm = ivector(1, n);
    double sign;
    ludcmp(a, n, perm, &sign);
    double** before = copyOf(a, n, n);
    std::vector<int> permBefore(perm + 1, perm + n + 1);

    double zero[n + 1] = {0, 0, 0, 0, 0};
    lubksb(a, n, perm, zero);
    for (int i = 1; i <= n; i++) EXPECT_EQ(zero[i], 0.0);

    double first[n + 1] = {0, 1, 2, 3, 4}, second[n + 1] = {0, 1, 2, 3, 4};
    lubksb(a, n, perm, first);
    lubksb(a, n, perm, zero); // another right-hand side in between
    lubksb(a, n, perm, second);
    for (int i = 1; i <= n; i++) {
        EXPECT_EQ(first[i], second[i]);
        EXPECT_EQ(perm[i], permBefore[i - 1]);
        for (int j = 1; j <= n; j++) EXPECT_EQ(a[i][j], before[i][j]);
    }
}

TEST(LU, PivotChoiceAndSign) {
    double** one = matrixOf({{4.0}});
    int perm[3];
    double sign = 0.0;
    ludcmp(one, 1, perm, &sign);
    EXPECT_EQ(one[1][1], 4.0);
    EXPECT_EQ(perm[1], 1);
    EXPECT_EQ(sign, 1.0);
    double b[2] = {0, 2.0};
    lubksb(one, 1, perm, b);
    EXPECT_EQ(b[1], 0.5);

    // Equal scaled candidates in column 1: the later row wins the pivot.
    double** tie = matrixOf({{2, 1}, {2, 1.5}});
    ludcmp(tie, 2, perm, &sign);
    EXPECT_EQ(perm[1], 2);
    EXPECT_EQ(perm[2], 2);
    EXPECT_EQ(sign, -1.0);
}

TEST(LUDeathTest, SingularMatricesEndWithTheirTexts) {
    int perm[3];
    double sign;
    EXPECT_EXIT(ludcmp(matrixOf({{1, 2}, {0, 0}}), 2, perm, &sign), testing::ExitedWithCode(1),
                "Singular matrix in routine ludcmp\nFATAL - execution terminated");
    EXPECT_EXIT(ludcmp(matrixOf({{1, 2}, {1, 2}}), 2, perm, &sign), testing::ExitedWithCode(1),
                "POSSIBLY SINGULAR MATRIX in ludcmp: FATAL\nFATAL - execution terminated");
}
