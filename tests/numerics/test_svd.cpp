#include "matrix_helpers.h"

#include <gtest/gtest.h>

#include <limits>

#include <unistd.h>

namespace {

// Largest |U diag(w) V^T - A| over the m x n matrix.
double reconstructionError(double** u, double* w, double** v, double** a, int m, int n) {
    double worst = 0.0;
    for (int i = 1; i <= m; i++)
        for (int j = 1; j <= n; j++) {
            double sum = 0.0;
            for (int k = 1; k <= n; k++) sum += u[i][k] * w[k] * v[j][k];
            worst = std::fmax(worst, std::fabs(sum - a[i][j]));
        }
    return worst;
}

} // namespace

TEST(SVD, ReproducesSquareAndRectangularMatricesWithOrthonormalFactors) {
    struct Shape {
        int m, n;
    };
    for (Shape s : {Shape{1, 1}, Shape{3, 3}, Shape{20, 20}, Shape{7, 4}, Shape{4, 7}}) {
        double** a = randomMatrix(s.m, s.n, 100 + s.m * 7 + s.n);
        double** u = copyOf(a, s.m, s.n);
        double* w = dvector(1, s.n);
        double** v = dmatrix(1, s.n, 1, s.n);
        svdcmp(u, s.m, s.n, w, v);
        EXPECT_LT(reconstructionError(u, w, v, a, s.m, s.n), 1e-12) << s.m << "x" << s.n;
        EXPECT_LT(orthonormalityError(v, s.n, s.n), 1e-12);
        for (int k = 1; k <= s.n; k++) EXPECT_GE(w[k], 0.0);
        if (s.m >= s.n) {
            EXPECT_LT(orthonormalityError(u, s.m, s.n), 1e-12);
        }
    }
}

TEST(SVD, DiagonalMatrixNeedsNoSweepAndKeepsItsOrder) {
    double** a = matrixOf({{3, 0, 0}, {0, -2, 0}, {0, 0, 5}});
    double w[4];
    double** v = dmatrix(1, 3, 1, 3);
    svdcmp(a, 3, 3, w, v);
    const double expectedW[] = {3, 2, 5}, expectedV[] = {-1, 1, -1};
    for (int i = 1; i <= 3; i++) {
        EXPECT_DOUBLE_EQ(w[i], expectedW[i - 1]);
        for (int j = 1; j <= 3; j++) {
            EXPECT_DOUBLE_EQ(a[i][j], i == j ? -1.0 : 0.0);
            EXPECT_DOUBLE_EQ(v[i][j], i == j ? expectedV[i - 1] : 0.0);
        }
    }
}

TEST(SVD, SingularValuesComeUnsorted) {
    double** a = matrixOf({{1, 2}, {3, 4}, {5, 6}});
    double w[3];
    double** v = dmatrix(1, 2, 1, 2);
    svdcmp(a, 3, 2, w, v);
    EXPECT_NEAR(w[1], 0.5143, 1e-4);
    EXPECT_NEAR(w[2], 9.5255, 1e-4);
}

TEST(SVD, ZeroMatrixGivesZeroValuesAndUnitFactors) {
    double** a = dmatrix(1, 3, 1, 2);
    for (int i = 1; i <= 3; i++) a[i][1] = a[i][2] = 0.0;
    double w[3];
    double** v = dmatrix(1, 2, 1, 2);
    svdcmp(a, 3, 2, w, v);
    for (int j = 1; j <= 2; j++) {
        EXPECT_EQ(w[j], 0.0);
        for (int i = 1; i <= 3; i++) EXPECT_EQ(a[i][j], i == j ? 1.0 : 0.0);
        for (int i = 1; i <= 2; i++) EXPECT_EQ(v[i][j], i == j ? 1.0 : 0.0);
    }
}

TEST(SVD, RankDeficientMatrixShowsItsNullSpace) {
    // A 20 x 20 matrix of rank 19: its last column is a combination of the others.
    const int n = 20;
    double** a = randomMatrix(n, n, 5);
    for (int i = 1; i <= n; i++) a[i][n] = a[i][1] - 2.0 * a[i][2];
    double** u = copyOf(a, n, n);
    double* w = dvector(1, n);
    double** v = dmatrix(1, n, 1, n);
    svdcmp(u, n, n, w, v);
    double wmax = 0.0;
    for (int k = 1; k <= n; k++) wmax = std::fmax(wmax, w[k]);
    int small = 0, which = 0;
    for (int k = 1; k <= n; k++)
        if (w[k] < 1e-10 * wmax) small++, which = k;
    ASSERT_EQ(small, 1);
    for (int i = 1; i <= n; i++) {
        double sum = 0.0;
        for (int j = 1; j <= n; j++) sum += a[i][j] * v[j][which];
        EXPECT_NEAR(sum, 0.0, 1e-12);
    }
}

TEST(SVD, PythagorasWithoutOverflow) {
    EXPECT_EQ(dpythag(0, 0), 0.0);
    EXPECT_EQ(dpythag(3, 4), 5.0);
    EXPECT_EQ(dpythag(-4, 3), 5.0);
    EXPECT_DOUBLE_EQ(dpythag(3e300, 4e300), 5e300);
    EXPECT_DOUBLE_EQ(dpythag(3e-300, -4e-300), 5e-300);
}

TEST(SVDDeathTest, NonConvergenceEndsWithItsText) {
    double** a = matrixOf({{1, 2}, {3, std::numeric_limits<double>::quiet_NaN()}});
    double w[3];
    double** v = dmatrix(1, 2, 1, 2);
    EXPECT_EXIT(svdcmp(a, 2, 2, w, v), testing::ExitedWithCode(1),
                "no convergence in 30 dsvdcmp iterations\nFATAL - execution terminated");
}

TEST(SVDSolvers, LeastSquaresAndInverses) {
    // A square non-singular system.
    const int n = 4;
    double** a = randomMatrix(n, n, 77, 1.0);
    double b[n + 1] = {0, 1, 2, 3, 4};
    double* x = SVDsolve(a, n, n, b);
    double** inverse = SVDinverse(a, n, n);
    for (int i = 1; i <= n; i++) {
        double sum = 0.0;
        for (int j = 1; j <= n; j++) sum += a[i][j] * x[j];
        EXPECT_NEAR(sum, b[i], 1e-12);
    }
    EXPECT_LT(productError(a, inverse, n, n, n, identityOf(n)), 1e-12);

    // Rank deficient: x + y = 2 twice over gives the minimum-norm solution (1, 1).
    double** flat = matrixOf({{1, 1}, {1, 1}});
    double rhs[3] = {0, 2, 2};
    double* minimum = SVDsolve(flat, 2, 2, rhs);
    EXPECT_NEAR(minimum[1], 1.0, 1e-12);
    EXPECT_NEAR(minimum[2], 1.0, 1e-12);
    EXPECT_EQ(rhs[1], 2.0);

    // A 3 x 2 matrix has a 2 x 3 pseudo-inverse P with P A = I.
    double** tall = matrixOf({{1, 2}, {3, 4}, {5, 6}});
    double** pinv = SVDinverse(tall, 3, 2);
    EXPECT_LT(productError(pinv, tall, 2, 3, 2, identityOf(2)), 1e-12);

    // svd_inverse from A = u diag(w) p with p = V^T.
    double** u = copyOf(a, n, n);
    double w[n + 1];
    double** v = dmatrix(1, n, 1, n);
    svdcmp(u, n, n, w, v);
    double** vt = matT(v, 1, n, 1, n);
    double** inv2 = svd_inverse(u, w, vt, n);
    EXPECT_LT(productError(a, inv2, n, n, n, identityOf(n)), 1e-12);
}

TEST(SVDSolversDeathTest, SingularInversesEndWithTheirReports) {
    // The report goes to standard output; the child sends it to standard error to be matched.
    for (double fill : {0.0, 1.0}) {
        double** a = matrixOf({{fill, 2 * fill}, {2 * fill, 4 * fill}});
        EXPECT_EXIT(
            {
                dup2(2, 1);
                SVDinverse(a, 2, 2);
            },
            testing::ExitedWithCode(1),
            "The eigenvalue number [12] is [0-9.E+-]+, which is essentially zero\nInverse does not exist.\n"
            "If you object, study and change SVDinverse routine in matrixalgebra\n");
    }
    double w[3] = {0, 1.0, 1e-14};
    double** e = identityOf(2);
    EXPECT_EXIT(
        {
            dup2(2, 1);
            svd_inverse(e, w, e, 2);
        },
        testing::ExitedWithCode(1),
        "one of the eigenvalues is +0.0000000000000100000.*\nPossibly singular matrix");
}
