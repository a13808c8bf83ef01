#include "matrix_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

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

TEST(LinearWrappers, SolveInvertAndDeterminantLeaveTheirInputs) {
    const int n = 5;
    double** a = randomMatrix(n, n, 42, 2.0);
    double** before = copyOf(a, n, n);
    double b[n + 1] = {0, 1, -2, 3, 0.5, 4};
    double* x = LUsolve(a, n, b);
    double** inverse = LUinverse(a, n);
    for (int i = 1; i <= n; i++) {
        double sum = 0.0;
        for (int j = 1; j <= n; j++) {
            sum += a[i][j] * x[j];
            EXPECT_EQ(a[i][j], before[i][j]);
        }
        EXPECT_NEAR(sum, b[i], 1e-12);
    }
    EXPECT_LT(productError(a, inverse, n, n, n, identityOf(n)), 1e-12);
    EXPECT_NEAR(LUdet(matrixOf({{2, 1}, {2, 1.5}}), 2), 1.0, 1e-15);
    EXPECT_NEAR(LUdet(matrixOf({{0, 1, 0}, {1, 0, 0}, {0, 0, 3}}), 3), -3.0, 1e-15);
}

TEST(GaussJordan, InvertsAndSolvesInPlace) {
    const int n = 4;
    double** a = randomMatrix(n, n, 8, 1.5);
    for (void (*solve)(double**, int, double**, int) : {gaussj, linsys_gaussjordan}) {
        double** inv = copyOf(a, n, n);
        double** b = dmatrix(1, n, 1, 2);
        for (int i = 1; i <= n; i++) b[i][1] = i, b[i][2] = -1.0 * i * i;
        double** rhs = copyOf(b, n, 2);
        solve(inv, n, b, 2);
        EXPECT_LT(productError(a, inv, n, n, n, identityOf(n)), 1e-12);
        EXPECT_LT(productError(a, b, n, n, 2, rhs), 1e-12);
    }
    double** inv = copyOf(a, n, n);
    inv_gaussjordan(inv, n);
    EXPECT_LT(productError(inv, a, n, n, n, identityOf(n)), 1e-12);
}

TEST(Cholesky, FactorsAndSolvesASymmetricPositiveDefiniteMatrix) {
    double** a = matrixOf({{4, 2, -2}, {2, 10, 2}, {-2, 2, 5}});
    double** original = copyOf(a, 3, 3);
    double p[4], x[4], b[4] = {0, 2, 14, 5};
    choldc(a, 3, p);
    for (int i = 1; i <= 3; i++)
        for (int j = i; j <= 3; j++) EXPECT_EQ(a[i][j], original[i][j]); // upper triangle kept
    EXPECT_EQ(p[1], 2.0);
    cholsl(a, 3, p, b, x);
    for (int i = 1; i <= 3; i++) {
        double sum = 0.0;
        for (int j = 1; j <= 3; j++) sum += original[i][j] * x[j];
        EXPECT_NEAR(sum, b[i], 1e-13);
    }
    testing::internal::CaptureStdout();
    double* y = CHsolve(original, 3, b);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.substr(0, 23), "       W      F      Y\n");
    for (int i = 1; i <= 3; i++) EXPECT_NEAR(y[i], x[i], 1e-15);
}

TEST(LinearWrappersDeathTest, SingularInputsEndWithTheirTexts) {
    EXPECT_EXIT(LUdet(matrixOf({{1, 2}, {1, 2}}), 2), testing::ExitedWithCode(1),
                "POSSIBLY SINGULAR MATRIX in ludcmp: FATAL");
    EXPECT_EXIT(gaussj(matrixOf({{0, 0}, {0, 0}}), 2, dmatrix(1, 2, 1, 1), 1), testing::ExitedWithCode(1),
                "gaussj: Singular Matrix-2");
    // Two equal rows leave only zero pivots at the second step.
    EXPECT_EXIT(inv_gaussjordan(matrixOf({{1, 1, 0}, {1, 1, 0}, {0, 0, 0}}), 3), testing::ExitedWithCode(1),
                "gaussj: Singular Matrix-2");
    EXPECT_EXIT(choldc(matrixOf({{0, 1}, {1, 2}}), 2, dvector(1, 2)), testing::ExitedWithCode(1),
                "choldc failed");
    EXPECT_EXIT(
        {
            CHsolve(matrixOf({{-1, 0}, {0, 1}}), 2, dvector(1, 2));
        },
        testing::ExitedWithCode(1), "choldc failed");
}

// With finite values the pivot search always finds a column not used yet, so only a value
// that compares with nothing (NaN) makes a step take a used column again and the next step
// find its count above 1. Each member names itself in its own words.
TEST(GaussJordanDeathTest, EachMemberEndsWithItsOwnSingularityTexts) {
    struct Member {
        const char* name;
        void (*invert)(double** a, int n);
        const char* firstText;
    };
    const Member members[] = {
        {"gaussj", [](double** a, int n) { gaussj(a, n, dmatrix(1, n, 1, 1), 1); },
         "gaussj: Singular Matrix-1"},
        {"linsys_gaussjordan", [](double** a, int n) { linsys_gaussjordan(a, n, dmatrix(1, n, 1, 1), 1); },
         "gaussj:Singular Matrix-1"},
        {"inv_gaussjordan", inv_gaussjordan, "gaussj:Singular Matrix-1"},
    };
    const std::string fatal = "\nFATAL - execution terminated\n$";
    for (const Member& m : members) {
        SCOPED_TRACE(m.name);
        double nan = std::nan("");
        EXPECT_EXIT(m.invert(matrixOf({{nan, nan, nan}, {nan, nan, nan}, {nan, nan, nan}}), 3),
                    testing::ExitedWithCode(1), "^" + std::string(m.firstText) + fatal);
        EXPECT_EXIT(m.invert(matrixOf({{0, 0}, {0, 0}}), 2), testing::ExitedWithCode(1),
                    "^gaussj: Singular Matrix-2" + fatal);
    }
}
