#include "numerics/matrixalgebra.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Storage, VectorsAreIndexedByTheirOwnRange) {
    int* empty = ivector(1, 0);
    free_ivector(empty, 1, 0);

    double* v = dvector(0, 5);
    v[0] = 1.0;
    v[5] = 2.0;
    EXPECT_EQ(v[0] + v[5], 3.0);
    free_dvector(v, 0, 5);

    long* l = lvector(-3, 3);
    for (long i = -3; i <= 3; i++) l[i] = i;
    EXPECT_EQ(l[-3] + l[3], 0);
    free_lvector(l, -3, 3);
}

TEST(Storage, MatrixRowsFollowEachOtherInOneRun) {
    double** m = dmatrix(1, 3, 1, 4);
    EXPECT_EQ(&m[2][1], &m[1][4] + 1);
    EXPECT_EQ(&m[3][4], &m[1][1] + 11);
    free_dmatrix(m, 1, 3, 1, 4);

    for (long lo : {0L, 1L}) {
        int** z = imatrix(lo, 5, lo, 5);
        z[lo][lo] = 1;
        z[5][5] = 2;
        EXPECT_EQ(z[lo][lo] + z[5][5], 3);
        free_imatrix(z, lo, 5, lo, 5);
    }
}

TEST(Storage, TensorElementsFormOneRunInRowColumnDepthOrder) {
    double*** t = d3tensor(1, 2, 0, 2, 1, 4);
    EXPECT_EQ(&t[1][1][1], &t[1][0][4] + 1);
    EXPECT_EQ(&t[2][0][1], &t[1][2][4] + 1);
    free_d3tensor(t, 1, 2, 0, 2, 1, 4);

    int*** it = i3tensor(0, 1, 0, 1, 0, 1);
    EXPECT_EQ(&it[1][1][1], &it[0][0][0] + 7);
}

// No rows, no columns or no depth: nothing to address, yet making and releasing stays inside
// the blocks (the address sanitizer build tells).
TEST(Storage, EmptyRangesAreSafeToMakeAndRelease) {
    struct Shape {
        long rl, rh, cl, ch;
    };
    for (Shape s : {Shape{1, 0, 1, 3}, Shape{0, -1, 0, 0}, Shape{1, 3, 1, 0}, Shape{1, 0, 1, 0}}) {
        SCOPED_TRACE(testing::Message()
                     << "rows " << s.rl << ".." << s.rh << ", columns " << s.cl << ".." << s.ch);
        free_dmatrix(dmatrix(s.rl, s.rh, s.cl, s.ch), s.rl, s.rh, s.cl, s.ch);
        free_imatrix(imatrix(s.rl, s.rh, s.cl, s.ch), s.rl, s.rh, s.cl, s.ch);
        cmatrix(s.rl, s.rh, s.cl, s.ch);
        double* flat = mat2forvect(dmatrix(s.rl, s.rh, s.cl, s.ch), s.rl, s.rh, s.cl, s.ch);
        free_dvector(flat, 0, -1);
    }
    free_dmatrix(foreigen2diagmat(nullptr, 1, 0), 1, 0, 1, 0);

    struct Box {
        long rl, rh, cl, ch, dl, dh;
    };
    for (Box b :
         {Box{1, 0, 1, 2, 1, 2}, Box{1, 2, 1, 0, 1, 2}, Box{1, 2, 1, 2, 1, 0}, Box{0, -1, 0, -1, 0, -1}}) {
        SCOPED_TRACE(testing::Message() << "box " << b.rl << ".." << b.rh << " x " << b.cl << ".." << b.ch
                                        << " x " << b.dl << ".." << b.dh);
        free_d3tensor(d3tensor(b.rl, b.rh, b.cl, b.ch, b.dl, b.dh), b.rl, b.rh, b.cl, b.ch, b.dl, b.dh);
        i3tensor(b.rl, b.rh, b.cl, b.ch, b.dl, b.dh);
    }
}

TEST(Storage, ConvertersGoColumnAfterColumnAndBack) {
    double** a = dmatrix(1, 2, 1, 3);
    for (int i = 1; i <= 2; i++)
        for (int j = 1; j <= 3; j++) a[i][j] = 10 * i + j;
    double* v = mat2forvect(a, 1, 2, 1, 3);
    const double expected[] = {11, 21, 12, 22, 13, 23};
    for (int k = 0; k < 6; k++) EXPECT_EQ(v[k], expected[k]);

    double** back = dmatrix(1, 2, 1, 3);
    forvect2mat(v, 1, 2, 1, 3, back);
    for (int i = 1; i <= 2; i++)
        for (int j = 1; j <= 3; j++) EXPECT_EQ(back[i][j], a[i][j]);

    // A target indexed from 0 is filled through its own bounds, not from row 1.
    double** zero = dmatrix(0, 1, 0, 2);
    forvect2mat(v, 0, 1, 0, 2, zero);
    EXPECT_EQ(zero[0][0], 11);
    EXPECT_EQ(zero[1][2], 23);

    double d[] = {4, 5, 6};
    double** diag = foreigen2diagmat(d, 1, 3);
    EXPECT_EQ(diag[1][1], 4);
    EXPECT_EQ(diag[3][3], 6);
    EXPECT_EQ(diag[1][2], 0.0);
}

TEST(StorageDeathTest, RefusedRequestsNameTheRoutineAndStep) {
    const long huge = 1L << 60;
    EXPECT_EXIT(dvector(1, huge), testing::ExitedWithCode(1),
                "allocation failure in dvector\\(\\)\nFATAL - execution terminated");
    EXPECT_EXIT(dmatrix(1, 2, 1, huge), testing::ExitedWithCode(1), "allocation failure 2 in dmatrix\\(\\)");
    EXPECT_EXIT(imatrix(1, huge, 1, 1), testing::ExitedWithCode(1), "allocation failure 1 in imatrix\\(\\)");
    EXPECT_EXIT(d3tensor(1, 2, 1, 2, 1, huge), testing::ExitedWithCode(1),
                "allocation failure 3 in d3tensor\\(\\)");
}

TEST(StorageDeathTest, FatalExitGoesThroughTheInstalledHook) {
    EXPECT_EXIT(
        {
            fatalExitHook = [](int status) { std::_Exit(status + 40); };
            nrerror("stop here");
        },
        testing::ExitedWithCode(41), "stop here\nFATAL - execution terminated");
}
