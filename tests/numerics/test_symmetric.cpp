#include "matrix_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

double** symmetricMatrix(int n, unsigned seed) {
    double** a = randomMatrix(n, n, seed);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j < i; j++) a[j][i] = a[i][j];
    return a;
}

// A dense n x n matrix with the eigenvalues 1, 2, ..., n: Q diag Q^T for an orthogonal Q
// taken from the eigenvectors of a random symmetric matrix.
double** matrixWithSpectrumOneToN(int n) {
    double** q = dmatrix(1, n, 1, n);
    std::vector<double> d(n + 1), e(n + 1);
    eigensystem_symm(symmetricMatrix(n, 31), n, d.data(), q, e.data());
    double** a = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            a[i][j] = 0.0;
            for (int k = 1; k <= n; k++) a[i][j] += q[i][k] * k * q[j][k];
        }
    return a;
}

double*** projectorSlots(int n) {
    double*** P = new double**[n + 1];
    for (int i = 1; i <= n; i++) P[i] = dmatrix(1, n, 1, n);
    return P;
}

// mat_prepped on a; wr receives the eigenvalues.
double*** projectorsOf(double** a, int n, double* wr) {
    double*** P = projectorSlots(n);
    std::vector<double> wi(n + 1);
    mat_prepped(a, n, P, wr, wi.data());
    return P;
}

// Largest distance of R = f(P, t = 0) from diagonal * I: at t = 0 both functions give the
// sum of the projectors.
double sumAtZeroError(void (*f)(double***, long, double*, double**, double), double*** P, int n, double* wr,
                      double diagonal) {
    double** R = dmatrix(1, n, 1, n);
    f(P, n, wr, R, 0.0);
    double worst = 0.0;
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) worst = std::fmax(worst, std::fabs(R[i][j] - (i == j ? diagonal : 0.0)));
    return worst;
}

} // namespace

TEST(SymmetricEigensystem, EigenvectorsDiagonaliseTheMatrix) {
    for (int n : {1, 2, 7, 20}) {
        double** a = symmetricMatrix(n, 3 + n);
        double** before = copyOf(a, n, n);
        double** z = dmatrix(1, n, 1, n);
        std::vector<double> d(n + 1), e(n + 1);
        eigensystem_symm(a, n, d.data(), z, e.data());
        EXPECT_LT(orthonormalityError(z, n, n), 1e-12);
        for (int i = 1; i <= n; i++)
            for (int k = 1; k <= n; k++) {
                double az = 0.0;
                for (int j = 1; j <= n; j++) az += a[i][j] * z[j][k];
                EXPECT_NEAR(az, d[k] * z[i][k], 1e-12);
                EXPECT_EQ(a[i][k], before[i][k]);
            }
    }
}

TEST(SymmetricEigensystem, DiagonalMatrixNeedsNoIteration) {
    double** a = matrixOf({{3, 0, 0}, {0, -1, 0}, {0, 0, 2}});
    double d[4], e[4];
    tred2(a, 3, d, e);
    tqli(d, e, 3, a);
    EXPECT_EQ(d[1], 3.0);
    EXPECT_EQ(d[2], -1.0);
    EXPECT_EQ(d[3], 2.0);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 3; j++) EXPECT_EQ(a[i][j], i == j ? 1.0 : 0.0);
}

TEST(MatrixFunctions, ProjectorsGiveTheExponentialAndTheResolvent) {
    const int n = 4;
    double** a = matrixWithSpectrumOneToN(n);
    double wr[n + 1];
    double*** P = projectorsOf(a, n, wr);
    // At t = 0 the projectors sum to the identity, with the damping factor left for n != 20.
    double carried = std::pow(0.9999999, n - 21);
    EXPECT_LT(sumAtZeroError(mat_EXP_prepped, P, n, wr, carried), 1e-10);
    // (I - t A)^-1 (I - t A) = I, up to the same factor.
    double t = 0.3;
    double** R = dmatrix(1, n, 1, n);
    mat_EXPDI_prepped(P, n, wr, R, t);
    double** shifted = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) shifted[i][j] = ((i == j) - t * a[i][j]) / carried;
    EXPECT_LT(productError(R, shifted, n, n, n, identityOf(n)), 1e-9);

    // In long double no factor is carried.
    long double** la = ldmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) la[i][j] = a[i][j];
    long double*** LP = new long double**[n + 1];
    for (int i = 1; i <= n; i++) LP[i] = ldmatrix(1, n, 1, n);
    long double lwr[n + 1], lwi[n + 1];
    testing::internal::CaptureStdout();
    ldmat_prepped(la, n, LP, lwr, lwi);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "done eigenvalues\n");
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            long double sum = 0;
            for (int k = 1; k <= n; k++) sum += LP[k][i][j];
            EXPECT_NEAR(static_cast<double>(sum), i == j ? 1.0 : 0.0, 1e-10);
        }
}

TEST(MatrixFunctions, TwentyByTwentyProjectorsCarryOneOverTheDamping) {
    const int n = 20;
    double** a = matrixWithSpectrumOneToN(n);
    double wr[n + 1];
    double*** P = projectorsOf(a, n, wr);
    EXPECT_LT(sumAtZeroError(mat_EXPDI_prepped, P, n, wr, 1.0 / 0.9999999), 1e-6);
}

TEST(MatrixFunctionsDeathTest, RepeatedEigenvaluesAreRefused) {
    double wr[3];
    EXPECT_EXIT(projectorsOf(identityOf(2), 2, wr), testing::ExitedWithCode(1),
                "not all eigenvalues are different in mat_prepped");
}
