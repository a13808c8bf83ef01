#include "nrutil.h"

#include <gtest/gtest.h>

TEST(SignificanceStorage, VectorsAndMatricesAreIndexedByTheirOwnRanges) {
    float* v = vector(-2, 3);
    v[-2] = 1.0f;
    v[3] = 2.0f;
    EXPECT_EQ(v[-2] + v[3], 3.0f);
    free_vector(v, -2, 3);
    unsigned long* l = lvector(1, 0); // an empty range
    free_lvector(l, 1, 0);

    double** m = dmatrix(1, 3, 0, 3);
    EXPECT_EQ(&m[2][0], &m[1][3] + 1);
    EXPECT_EQ(&m[3][3], &m[1][0] + 11);
    free_dmatrix(m, 1, 3, 0, 3);
    unsigned char** b = bmatrix(0, 1, 0, 1);
    EXPECT_EQ(&b[1][1], &b[0][0] + 3);
}

TEST(SignificanceStorage, ViewsShareTheirElements) {
    float** a = matrix(1, 4, 1, 5);
    for (int i = 1; i <= 4; i++)
        for (int j = 1; j <= 5; j++) a[i][j] = 10.0f * i + j;
    float** s = submatrix(a, 2, 3, 3, 5, 1, 1);
    EXPECT_EQ(s[1][1], 23.0f);
    EXPECT_EQ(s[2][3], 35.0f);
    s[2][1] = -1.0f;
    EXPECT_EQ(a[3][3], -1.0f);
    free_submatrix(s, 1, 2, 1, 3);

    double flat[6] = {1, 2, 3, 4, 5, 6};
    double** c = dconvert_matrix(flat, 0, 1, 1, 3);
    EXPECT_EQ(c[0][1], 1.0);
    EXPECT_EQ(c[1][3], 6.0);
    free_dconvert_matrix(c, 0, 1, 1, 3);
    free_matrix(a, 1, 4, 1, 5);
}

TEST(SignificanceStorage, TensorElementsFormOneRun) {
    float*** t = f3tensor(1, 2, 0, 2, 1, 4);
    EXPECT_EQ(&t[1][1][1], &t[1][0][4] + 1);
    EXPECT_EQ(&t[2][0][1], &t[1][2][4] + 1);
    free_f3tensor(t, 1, 2, 0, 2, 1, 4);
}

TEST(SignificanceStorageDeathTest, RefusedRequestsEndWithTheThreeLineReport) {
    const long huge = 1L << 60;
    EXPECT_EXIT(dvector(1, huge), testing::ExitedWithCode(1),
                "Numerical Recipes run-time error...\nallocation failure in dvector\\(\\)\n...now exiting to "
                "system...\n$");
    EXPECT_EXIT(vector(1, huge), testing::ExitedWithCode(1), "allocation failure in vector\\(\\)");
    EXPECT_EXIT(ivector(1, huge), testing::ExitedWithCode(1), "allocation failure in ivector\\(\\)");
    EXPECT_EXIT(dmatrix(1, huge, 1, 2), testing::ExitedWithCode(1), "allocation failure 1 in matrix\\(\\)");
    EXPECT_EXIT(imatrix(1, 2, 1, huge), testing::ExitedWithCode(1), "allocation failure 2 in matrix\\(\\)");
    EXPECT_EXIT(f3tensor(1, 2, 1, 2, 1, huge), testing::ExitedWithCode(1),
                "allocation failure 3 in f3tensor\\(\\)");
}
