#include "matrix_helpers.h"

#include <gtest/gtest.h>

#include <climits>

TEST(LetterCodes, EachMapKeepsToItsAlphabet) {
    // Codes of a, A, b, K, V, B, z, '*', '.', '-' and NUL under each map.
    const char letters[] = {'a', 'A', 'b', 'K', 'V', 'B', 'z', '*', '.', '-', '\0'};
    struct Case {
        int (*map)(int);
        int codes[sizeof letters];
    };
    const Case cases[] = {
        {am2num_c, {33, 8, 0, 20, 7, 0, 0, 0, 0, 0, 0}},
        {am2num, {8, 8, 0, 20, 7, 0, 0, 0, 0, 0, 0}},
        {am2num_dayhoff, {0, 1, 0, 12, 20, 0, 0, 0, 0, 0, 0}},
        {am2numBZX, {8, 8, 21, 20, 7, 21, 22, 24, 0, 0, 0}},
    };
    for (const Case& c : cases)
        for (size_t k = 0; k < sizeof letters; k++)
            EXPECT_EQ(c.map(letters[k]), c.codes[k]) << "letter " << k;
    EXPECT_EQ(a3let2num("ALA"), 0);
    EXPECT_STREQ(am3[8], "ALA");
    EXPECT_EQ(am[25], '.');
    EXPECT_EQ(am[48], 'x');
}

TEST(VectorOperations, OperandsPairByPositionWithinTheirOwnRanges) {
    double x[4] = {0, 1, 2, 3}, y[3] = {10, 20, 30};
    double* sum = vecPvec(x, 1, 3, y, 0, 2);
    double* diff = vecMvec(x, 1, 3, y, 0, 2);
    for (int i = 1; i <= 3; i++) {
        EXPECT_EQ(sum[i], x[i] + y[i - 1]);
        EXPECT_EQ(diff[i], x[i] - y[i - 1]);
    }
    EXPECT_EQ(vecXvec(x, 1, 3, y, 0, 2), 140.0);
    int ix[3] = {1, 2, 3}, iy[4] = {0, 4, 5, 6};
    EXPECT_EQ(ivecXivec(ix, 0, 2, iy, 1, 3), 32);
    double** outer = vecTXvecT(x, 1, 3, y, 0, 2);
    EXPECT_EQ(outer[3][2], 90.0);

    double v[3] = {3, 4, 0};
    EXPECT_EQ(sqnorm_vec(v, 0, 1), 5.0);
    int iv[2] = {3, 4};
    EXPECT_EQ(sqnorm_ivec(iv, 0, 1), 5.0);
    double* ones = identity_vec(2);
    EXPECT_EQ(ones[0] + ones[1] + ones[2], 3.0);
    double* scaled = dXvec(2.0, x, 1, 3);
    EXPECT_EQ(scaled[3], 6.0);
}

TEST(MatrixOperations, ProductsTransposesAndTraces) {
    double** a = matrixOf({{1, 2}, {3, 4}});
    EXPECT_EQ(trace_mat(a, 1, 2, 1, 2), 5.0);
    double** t = matT(a, 1, 2, 1, 2);
    EXPECT_EQ(t[1][2], 3.0);
    double** zero = matMmat(a, 1, 2, 1, 2, a, 1, 2, 1, 2);
    for (int i = 1; i <= 2; i++)
        for (int j = 1; j <= 2; j++) EXPECT_EQ(zero[i][j], 0.0);

    double** aa = matXmat(a, 1, 2, 1, 2, a, 1, 2, 1, 2);
    EXPECT_EQ(aa[1][1], 7.0);
    EXPECT_EQ(aa[2][2], 22.0);
    double** cube = matPOWi(a, 1, 2, 1, 2, 3);
    EXPECT_EQ(productError(aa, a, 2, 2, 2, cube), 0.0);
    double** same = matPOWi(a, 1, 2, 1, 2, 1);
    EXPECT_EQ(productError(identityOf(2), a, 2, 2, 2, same), 0.0);

    double v[3] = {0, 1, 1};
    double* av = matXvec(a, 1, 2, 1, 2, v, 1, 2);
    EXPECT_EQ(av[1], 3.0);
    EXPECT_EQ(av[2], 7.0);
    double* va = vecXmat(v, 1, 2, a, 1, 2, 1, 2);
    EXPECT_EQ(va[1], 4.0);
    EXPECT_EQ(vecXmat_diag(v, 1, 2, a, 1, 2, 1, 2), 5.0);

    // U diag(d) U^-1 with U = [[1, 1], [0, 1]]: [[2, 1], [0, 3]].
    double** u = matrixOf({{1, 1}, {0, 1}});
    double** ui = matrixOf({{1, -1}, {0, 1}});
    double d[3] = {0, 2, 3};
    double** r = dmatrix(1, 2, 1, 2);
    double** w = dmatrix(1, 2, 1, 2);
    UxDxU_1(u, d, ui, r, w, 2);
    EXPECT_EQ(productError(identityOf(2), r, 2, 2, 2, matrixOf({{2, 1}, {0, 3}})), 0.0);

    double** identity = identity_mat(2);
    EXPECT_EQ(identity[0][0] + identity[1][1] + identity[2][2], 3.0);
    EXPECT_EQ(identity[0][2], 0.0);
    int** ipow = imatPOWi(identity_imat(1), 0, 1, 0, 1, 4);
    EXPECT_EQ(ipow[0][0] * ipow[1][1], 1);
    EXPECT_EQ(trace_imat(ipow, 0, 1, 0, 1), 2);
    EXPECT_EQ(sqnorm_mat(a, 1, 2, 1, 2), std::sqrt(30.0));
}

TEST(MatrixOperations, SymmetryTestOnAnyNumbering) {
    double** s = matrixOf({{1, 2}, {2, 1}});
    EXPECT_EQ(d_ifsymm(s, 1, 2, 1, 2, 1e-12), 0);
    double** near = matrixOf({{1, 2}, {2.5, 1}});
    EXPECT_EQ(d_ifsymm(near, 1, 2, 1, 2, 0.5), 1);
    EXPECT_EQ(d_ifsymm(near, 1, 2, 1, 2, 0.6), 0);
    // Rows numbered from 0, columns from 1: the mirror image stays inside the matrix.
    double** shifted = dmatrix(0, 1, 1, 2);
    shifted[0][1] = 1, shifted[0][2] = 7, shifted[1][1] = 7, shifted[1][2] = 1;
    EXPECT_EQ(d_ifsymm(shifted, 0, 1, 1, 2, 1e-12), 0);
    int** is = imatrix(1, 2, 1, 2);
    is[1][1] = is[2][2] = 0, is[1][2] = 1, is[2][1] = 2;
    EXPECT_EQ(i_ifsymm(is, 1, 2, 1, 2), 1);
}

TEST(MatrixOperationsDeathTest, MismatchedOperandsEndWithTheirTexts) {
    double** a23 = dmatrix(1, 2, 1, 3);
    double** a32 = dmatrix(1, 3, 1, 2);
    double x[4] = {0, 1, 2, 3};
    EXPECT_EXIT(matPmat(a23, 1, 2, 1, 3, a32, 1, 3, 1, 2), testing::ExitedWithCode(1),
                "number of columns in the first matrix does not match the number of columns in the second "
                "matrix in matPmat");
    EXPECT_EXIT(
        matMmat(a23, 1, 2, 1, 3, a23, 1, 1, 1, 3), testing::ExitedWithCode(1),
        "number of rows in the first matrix does not match the number of rows in the second matrix in "
        "matMmat");
    EXPECT_EXIT(vecPvec(x, 1, 3, x, 1, 2), testing::ExitedWithCode(1),
                "length of 2 vectors differs in vecPvec");
    EXPECT_EXIT(
        matXmat(a23, 1, 2, 1, 3, a23, 1, 2, 1, 3), testing::ExitedWithCode(1),
        "number of columns in the first matrix does not match the number of rows in the second matrix");
    EXPECT_EXIT(matXvec(a23, 1, 2, 1, 3, x, 1, 2), testing::ExitedWithCode(1),
                "vector length does not match the number of columns in the matrix in matXvec");
    EXPECT_EXIT(vecXmat_diag(x, 1, 2, a23, 1, 2, 1, 3), testing::ExitedWithCode(1),
                "non-suare matrix in vecXmat_diag");
    EXPECT_EXIT(trace_mat(a23, 1, 2, 1, 3), testing::ExitedWithCode(1), "Non-diagonal matrix in trace_mat");
    EXPECT_EXIT(d_ifsymm(a23, 1, 2, 1, 3, 0.1), testing::ExitedWithCode(1),
                "Non-diagonal matrix in d_ifsymm");
    EXPECT_EXIT(matPOWi(a23, 1, 2, 1, 3, 0), testing::ExitedWithCode(1), "non-positive power in matPOWi");
    EXPECT_EXIT(matPOWi(a23, 1, 2, 1, 3, 2), testing::ExitedWithCode(1), "non-square matrix in matPOWi");
}

TEST(MatrixOperationsDeathTest, IntegerResultsThatDoNotFitAreRefused) {
    int big[2] = {INT_MAX, INT_MAX};
    EXPECT_EXIT(ivecXivec(big, 0, 1, big, 0, 1), testing::ExitedWithCode(1), "integer overflow in ivecXivec");
    EXPECT_EXIT(ivecPivec(big, 0, 1, big, 0, 1), testing::ExitedWithCode(1), "integer overflow in vecPvec");
    EXPECT_EXIT(iXivec(2, big, 0, 1), testing::ExitedWithCode(1), "integer overflow in iXivec");
    int** m = imatrix(1, 2, 1, 2);
    m[1][1] = m[2][2] = INT_MAX, m[1][2] = m[2][1] = 1;
    EXPECT_EXIT(trace_imat(m, 1, 2, 1, 2), testing::ExitedWithCode(1), "integer overflow in trace_imat");
    EXPECT_EXIT(imatPOWi(m, 1, 2, 1, 2, 2), testing::ExitedWithCode(1), "integer overflow in imatXimat");
    // The norm of large integers is exact rather than wrapped.
    EXPECT_DOUBLE_EQ(sqnorm_ivec(big, 0, 1), std::sqrt(2.0) * INT_MAX);
}
