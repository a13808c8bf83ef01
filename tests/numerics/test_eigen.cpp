#include "matrix_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace {

struct Spectrum {
    std::vector<double> re, im;
};

// balanc, elmhes and hqr on a copy of the n x n matrix a.
Spectrum eigenvaluesOf(double** a, int n) {
    double** work = copyOf(a, n, n);
    std::vector<double> wr(n + 1), wi(n + 1);
    balanc(work, n);
    elmhes(work, n);
    hqr(work, n, wr.data(), wi.data());
    return {std::vector<double>(wr.begin() + 1, wr.end()), std::vector<double>(wi.begin() + 1, wi.end())};
}

// S B S^-1 for a random well-conditioned S: the spectrum of b in a dense disguise.
double** similar(double** b, int n, unsigned seed) {
    double** s = randomMatrix(n, n, seed, 2.0);
    double** lu = copyOf(s, n, n);
    int* perm = ivector(1, n);
    double sign;
    ludcmp(lu, n, perm, &sign);
    double** sb = dmatrix(1, n, 1, n);
    double** result = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            sb[i][j] = 0.0;
            for (int k = 1; k <= n; k++) sb[i][j] += s[i][k] * b[k][j];
        }
    // The columns of S^-1 come from unit right-hand sides.
    double* col = dvector(1, n);
    for (int j = 1; j <= n; j++) {
        for (int i = 1; i <= n; i++) col[i] = i == j ? 1.0 : 0.0;
        lubksb(lu, n, perm, col);
        for (int i = 1; i <= n; i++) {
            result[i][j] = 0.0;
            for (int k = 1; k <= n; k++) result[i][j] += sb[i][k] * col[k];
        }
    }
    return result;
}

std::vector<std::pair<double, double>> sorted(const Spectrum& s) {
    std::vector<std::pair<double, double>> v;
    for (size_t i = 0; i < s.re.size(); i++) v.push_back({s.re[i], s.im[i]});
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST(Eigenvalues, SmallCasesWithKnownRoots) {
    Spectrum one = eigenvaluesOf(matrixOf({{-2.5}}), 1);
    EXPECT_EQ(one.re[0], -2.5);
    EXPECT_EQ(one.im[0], 0.0);

    Spectrum diagonal = eigenvaluesOf(matrixOf({{1, 0, 0}, {0, -3, 0}, {0, 0, 0}}), 3);
    EXPECT_EQ(diagonal.re, (std::vector<double>{1, -3, 0}));
    EXPECT_EQ(diagonal.im, (std::vector<double>{0, 0, 0}));

    Spectrum rotation = eigenvaluesOf(matrixOf({{0, -1}, {1, 0}}), 2);
    EXPECT_EQ(rotation.re, (std::vector<double>{0, 0}));
    EXPECT_EQ(rotation.im, (std::vector<double>{-1, 1}));

    Spectrum pair = eigenvaluesOf(matrixOf({{2, 1}, {1, 2}}), 2);
    EXPECT_DOUBLE_EQ(pair.re[0], 3.0);
    EXPECT_DOUBLE_EQ(pair.re[1], 1.0);
    EXPECT_EQ(pair.im, (std::vector<double>{0, 0}));
}

TEST(Eigenvalues, DenseMatricesWithKnownSpectra) {
    // Real, distinct eigenvalues.
    const int n = 6;
    double** d = dmatrix(1, n, 1, n);
    const double roots[] = {-4, -1.5, 0, 0.25, 2, 7};
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) d[i][j] = i == j ? roots[i - 1] : 0.0;
    auto real = sorted(eigenvaluesOf(similar(d, n, 3), n));
    for (int i = 0; i < n; i++) {
        EXPECT_NEAR(real[i].first, roots[i], 1e-9);
        EXPECT_EQ(real[i].second, 0.0);
    }

    // A complex pair 1 +- 2i beside the real roots 3 and -1.
    double** b = matrixOf({{1, -2, 0, 0}, {2, 1, 0, 0}, {0, 0, 3, 0}, {0, 0, 0, -1}});
    Spectrum mixed = eigenvaluesOf(similar(b, 4, 9), 4);
    auto roots4 = sorted(mixed);
    EXPECT_NEAR(roots4[0].first, -1, 1e-9);
    EXPECT_NEAR(roots4[1].first, 1, 1e-9);
    EXPECT_NEAR(roots4[1].second, -2, 1e-9);
    EXPECT_NEAR(roots4[2].first, 1, 1e-9);
    EXPECT_NEAR(roots4[2].second, 2, 1e-9);
    EXPECT_NEAR(roots4[3].first, 3, 1e-9);
    // The pair sits at adjacent positions, negative imaginary part first.
    for (size_t i = 0; i < 4; i++)
        if (mixed.im[i] != 0.0) {
            ASSERT_LT(i + 1, 4u);
            EXPECT_LT(mixed.im[i], 0.0);
            EXPECT_EQ(mixed.im[i + 1], -mixed.im[i]);
            EXPECT_EQ(mixed.re[i + 1], mixed.re[i]);
            break;
        }
}

TEST(Eigenvalues, ReversibleRateMatrixHasOneZeroAndTheRestNegative) {
    // Symmetric exchangeabilities times residue frequencies, rows summing to 0.
    const int n = 20;
    std::mt19937 gen(2026);
    std::uniform_real_distribution<double> u(0.05, 3.0);
    std::vector<double> freq(n + 1);
    double total = 0.0;
    for (int i = 1; i <= n; i++) total += freq[i] = u(gen);
    for (int i = 1; i <= n; i++) freq[i] /= total;
    double** s = dmatrix(1, n, 1, n);
    for (int i = 1; i <= n; i++)
        for (int j = 1; j < i; j++) s[i][j] = s[j][i] = u(gen);
    double** q = dmatrix(1, n, 1, n);
    double trace = 0.0;
    for (int i = 1; i <= n; i++) {
        double row = 0.0;
        for (int j = 1; j <= n; j++)
            if (j != i) row += q[i][j] = s[i][j] * freq[j];
        q[i][i] = -row;
        trace += q[i][i];
    }

    Spectrum spectrum = eigenvaluesOf(q, n);
    int zeros = 0;
    double sum = 0.0;
    for (int i = 0; i < n; i++) {
        EXPECT_EQ(spectrum.im[i], 0.0);
        sum += spectrum.re[i];
        if (std::fabs(spectrum.re[i]) < 1e-10)
            zeros++;
        else
            EXPECT_LT(spectrum.re[i], -1e-6);
    }
    EXPECT_EQ(zeros, 1);
    EXPECT_NEAR(sum, trace, 1e-10);

    // Each eigenvalue makes Q - lambda I singular: its smallest singular value vanishes.
    for (int k = 0; k < n; k++) {
        double** shifted = copyOf(q, n, n);
        for (int i = 1; i <= n; i++) shifted[i][i] -= spectrum.re[k];
        std::vector<double> w(n + 1);
        double** v = dmatrix(1, n, 1, n);
        svdcmp(shifted, n, n, w.data(), v);
        EXPECT_LT(*std::min_element(w.begin() + 1, w.end()), 1e-10);
    }
}

TEST(Eigenvalues, BalancingScalesByPowersOfTwo) {
    double** a = matrixOf({{1, 100}, {0.01, 1}});
    balanc(a, 2);
    EXPECT_EQ(a[1][1], 1.0);
    EXPECT_EQ(a[1][2], 0.78125);
    EXPECT_EQ(a[2][1], 1.28);
    EXPECT_EQ(a[2][2], 1.0);
}

TEST(Eigenvalues, HessenbergReductionPivotsOnTheUpperOfEqualCandidates) {
    // Column 1 below the diagonal holds -2 and 2: row 2 stays the pivot, row 3 is eliminated.
    double** a = matrixOf({{1, 0, 0}, {-2, 1, 0}, {2, 0, 1}});
    elmhes(a, 3);
    EXPECT_EQ(a[2][1], -2.0);
    EXPECT_EQ(a[3][1], -1.0); // the multiplier 2 / -2 stored below the subdiagonal
    // A column that is zero below the diagonal is left alone.
    double** upper = matrixOf({{1, 2, 3}, {0, 4, 5}, {0, 0, 6}});
    elmhes(upper, 3);
    EXPECT_EQ(upper[3][1], 0.0);
    EXPECT_EQ(upper[2][2], 4.0);
}

TEST(EigenvaluesDeathTest, NoConvergenceEndsWithItsText) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    double** a = matrixOf({{1, 2, 3}, {4, nan, 6}, {7, 8, 9}});
    double wr[4], wi[4];
    EXPECT_EXIT(hqr(a, 3, wr, wi), testing::ExitedWithCode(1),
                "Too many iterations in hqr\nFATAL - execution terminated");
}
