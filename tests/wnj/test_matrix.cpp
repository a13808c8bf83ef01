#include "wnj/build.h"
#include "wnj/matrix.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(BuilderMatrix, IsZeroedAndCopiesItsTopLeftBlock) {
    double** m = wnj::matrix(4);
    double** small = wnj::matrix(2);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) EXPECT_EQ(m[i][j], 0.0);
    EXPECT_EQ(&m[1][0], &m[0][3] + 1);
    small[0][0] = 1;
    small[0][1] = 2;
    small[1][0] = 3;
    small[1][1] = 4;
    wnj::setMM(2, small, m);
    EXPECT_EQ(m[1][1], 4.0);
    EXPECT_EQ(m[2][2], 0.0);
    wnj::delRowCol(4, m, 1);
    EXPECT_EQ(m[0][1] + m[1][0], 0.0);
    EXPECT_EQ(m[1][1], 1.0);
    EXPECT_EQ(m[0][0], 1.0);
    wnj::freeMatrix(small);
    wnj::freeMatrix(m);
}

TEST(BuilderMatrix, PrintsRowsAndVectors) {
    double** m = wnj::matrix(2);
    m[0][1] = 0.5;
    m[1][0] = -1;
    testing::internal::CaptureStdout();
    wnj::printMatrix(2, m);
    wnj::printVector(2, m[0]);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\t[ 0.0000000,  0.5000000; \n\t -1.0000000,  0.0000000]\n"
              "\t[ 0.0000000,  0.5000000]\n\n");
    wnj::freeMatrix(m);
}

TEST(BuilderMatrix, SmallHelpersTakeTheSecondOnEquality) {
    EXPECT_TRUE(std::signbit(wnj::DMAX(0.0, -0.0)));
    EXPECT_TRUE(std::signbit(wnj::DMIN(0.0, -0.0)));
    double v[] = {1, 5, 5, 2};
    EXPECT_EQ(wnj::maxVector(4, v), 1);
    EXPECT_EQ(wnj::RECT(-2.0), 0.0);
    EXPECT_EQ(wnj::RECT(2.0), 2.0);
    EXPECT_EQ(wnj::SQR(-3.0), 9.0);
}
