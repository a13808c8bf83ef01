#include "numerics/matrixalgebra.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// An open stream over the given text.
FILE* streamOf(const std::string& text) {
    FILE* f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    return f;
}

const int A = 8, R = 19, N = 14, W = 1;

} // namespace

TEST(ResidueTables, ReadsAPairTableThroughItsHeader) {
    int** m = read_aa_imatrix(streamOf("# a comment\n"
                                       " A R N\n"
                                       "A  4 -1 -2\n"
                                       "R -1  5  0\n"
                                       "N -2  0  6\n"
                                       "W 12 3\n"
                                       "K\n"));
    EXPECT_EQ(m[A][A], 4);
    EXPECT_EQ(m[A][R], -1);
    EXPECT_EQ(m[R][N], 0);
    EXPECT_EQ(m[N][N], 6);
    EXPECT_EQ(m[N][A], -2);
    EXPECT_EQ(m[W][A], 12);
    EXPECT_EQ(m[W][R], 3);
    int set = 0;
    for (int i = 0; i <= 25; i++)
        for (int j = 0; j <= 25; j++) set += m[i][j] != 0;
    EXPECT_EQ(set, 9);
}

TEST(ResidueTables, TheLastRowCountsWithoutItsNewline) {
    int** m = read_aa_imatrix(streamOf(" A R\nA 1 2"));
    EXPECT_EQ(m[A][A], 1);
    EXPECT_EQ(m[A][R], 2);
}

TEST(ResidueTables, PrintedTablesReadBack) {
    int** m = imatrix(1, 2, 1, 2);
    m[1][1] = 1, m[1][2] = -2, m[2][1] = 3, m[2][2] = 4;
    testing::internal::CaptureStdout();
    print_aa_imatrix(m, 2);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "   W  F\nW  1 -2\nF  3  4\n");
    int** back = read_aa_imatrix(streamOf(printed));
    EXPECT_EQ(back[1][2], -2);
    EXPECT_EQ(back[2][1], 3);

    testing::internal::CaptureStdout();
    print_aa_imatrix_dayhoff(m, 2);
    print_aa_imatrix5(m, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "    A   R\nA   1  -2\nR   3   4\n     W\nW    1\n");

    double v[3] = {0, 0.5, 0.25};
    int iv[2] = {0, -7};
    double** d = dmatrix(1, 1, 1, 1);
    d[1][1] = 0.5;
    testing::internal::CaptureStdout();
    print_aa_vector(v, 2);
    print_aa_ivector(iv, 1);
    print_aa_matrix(d, 1);
    print_matrix(d, 1, 1, "title");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "W 0.500000000000\nF 0.250000000000\nW         -7\n"
                                                      "       W\nW 0.5000\ntitle\n    0.5000\n");
}

TEST(ResidueTables, VectorsReadWholeLines) {
    double* v = read_aa_vector(streamOf("A 0.5\n#A 9\n\n R 3\n" + std::string(150, 'x') + "\nK 2.5"));
    EXPECT_EQ(v[A], 0.5);
    EXPECT_EQ(v[R], 0.0);
    EXPECT_EQ(v[20], 2.5);
    // A long line stays one line: its tail is not read as a line of its own.
    int* iv = read_aa_ivector(streamOf("N 4" + std::string(120, ' ') + "\nR 1234567890" + "\nN 6\n"));
    EXPECT_EQ(iv[N], 6);
    EXPECT_EQ(iv[R], 1234567890);
    int others = 0;
    for (int i = 0; i <= 25; i++) others += (i != N && i != R && iv[i] != 0);
    EXPECT_EQ(others, 0);
}

TEST(ResidueTablesDeathTest, MalformedTablesAreRefused) {
    EXPECT_EXIT(read_aa_imatrix(streamOf(" A R\nA 1 2 3\n")), testing::ExitedWithCode(1),
                "matrix row 1 has more numbers than the 2 columns of its header");
    EXPECT_EXIT(read_aa_imatrix(streamOf("A 1 2\n A R\n")), testing::ExitedWithCode(1),
                "matrix row A comes before any header line");
    EXPECT_EXIT(read_aa_imatrix(streamOf(" A\nA 12345678901\n")), testing::ExitedWithCode(1),
                "string too long:FATAL");
    EXPECT_EXIT(read_aa_imatrix(streamOf(" ARNDCQEGHILKMFPSTWYVBZX*A\n")), testing::ExitedWithCode(1),
                "matrix has more than 25 columns: FATAL");
    std::string rows = " A\n";
    for (int i = 0; i < 25; i++) rows += "A 1\n";
    EXPECT_EXIT(read_aa_imatrix(streamOf(rows)), testing::ExitedWithCode(1),
                "matrix has more than 25 rows: FATAL");
    EXPECT_EXIT(read_aa_imatrix(streamOf(" A\nA 9999999999\n")), testing::ExitedWithCode(1),
                "number out of range in read_aa_imatrix: 9999999999");
}

TEST(ResidueTablesDeathTest, PrintersRefuseSizesBeyondTheirAlphabets) {
    int** m = imatrix(1, 49, 1, 49);
    EXPECT_EXIT(print_aa_imatrix(m, 49), testing::ExitedWithCode(1),
                "print_aa_imatrix: size 49 is larger than the 48 letters of its alphabet");
    EXPECT_EXIT(print_aa_imatrix_dayhoff(m, 21), testing::ExitedWithCode(1),
                "print_aa_imatrix_dayhoff: size 21 is larger than the 20 letters of its alphabet");
    double v[50] = {0};
    EXPECT_EXIT(print_aa_vector(v, 49), testing::ExitedWithCode(1), "print_aa_vector: size 49");
}
