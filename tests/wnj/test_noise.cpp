#include "wnj/build.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"

#include "numerics/job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <unistd.h>

TEST(VarianceModel, InverseUndoesTheVarianceOfADistance) {
    for (int length : {50, 300, 5000}) {
        wnj::setParameters(length);
        EXPECT_EQ(wnj::sigma2t(0.0), 0.0);
        EXPECT_EQ(wnj::sigma2tinv(0.0), 0.0);
        for (double d : {1e-6, 0.01, 0.3, 1.0, 2.5, 6.0, 11.0}) {
            SCOPED_TRACE(std::to_string(length) + " sites, d " + std::to_string(d));
            double v = wnj::sigma2t(d);
            EXPECT_NEAR(wnj::sigma2tinv(v), d, 1e-12 * (1 + d));
            EXPECT_NEAR(wnj::sigma2t(wnj::sigma2tinv(v)), v, 1e-12 * v);
            // The variance grows faster than linearly: two halves vary less than the whole.
            EXPECT_GT(v, 2.0 * wnj::sigma2t(d / 2.0));
        }
    }
    wnj::setParameters(100);
    double y = std::exp(20.0 / 19.0) - 1.0;
    EXPECT_DOUBLE_EQ(wnj::sigma2t(1.0), (y + y * y / 20.0) * 0.95 / 100.0);
}

TEST(VarianceModel, PathExcessIsZeroForAnEmptyPieceAndFatalWhenClearlyNegative) {
    wnj::setParameters(200);
    EXPECT_EQ(wnj::sigma_na(0.7, 0.0), 0.0);
    EXPECT_EQ(wnj::sigma_na(0.0, 0.7), 0.0);
    EXPECT_DOUBLE_EQ(wnj::sigma_na(0.3, 0.4), wnj::sigma2t(0.7) - wnj::sigma2t(0.3) - wnj::sigma2t(0.4));
    // The message goes to standard output; the death test reads standard error.
    EXPECT_EXIT(
        {
            dup2(STDERR_FILENO, STDOUT_FILENO);
            wnj::sigma_na(1.0, -0.5);
        },
        testing::ExitedWithCode(1), "ERROR: sigma_na\\(1,-0.5\\)=-[0-9.e-]+ < 0.0 \\| X\\+Y=0.5\n");
}

namespace {

// Five leaves whose distances break the triangle inequality in several triples.
class SplitVariance : public testing::Test {
  protected:
    void SetUp() override {
        const double d[5][5] = {{0, 0.2, 0.9, 0.4, 2.0},
                                {0.2, 0, 0.3, 1.5, 0.6},
                                {0.9, 0.3, 0, 0.5, 0.1},
                                {0.4, 1.5, 0.5, 0, 0.8},
                                {2.0, 0.6, 0.1, 0.8, 0}};
        D = wnj::matrix(5);
        for (int i = 0; i < 5; i++)
            for (int j = 0; j < 5; j++) D[i][j] = d[i][j];
        wnj::setParameters(400);
        wnj::createWorkingState(5, D, names);
    }
    void TearDown() override {
        for (int k = 0; k < 5; k++) std::free(wnj::nodes[k]);
        wnj::releaseWorkingState();
        wnj::freeMatrix(D);
    }
    double** D = nullptr;
    char name[5][3] = {"a", "b", "c", "d", "e"};
    char* names[5] = {name[0], name[1], name[2], name[3], name[4]};
};

} // namespace

TEST_F(SplitVariance, IsZeroForRepeatedSlotsAndSymmetricInThePair) {
    EXPECT_EQ(wnj::sigma2_3(1, 1, 2), 0.0);
    EXPECT_EQ(wnj::sigma2_3(1, 2, 1), 0.0);
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 5; j++)
            for (int k = 0; k < 5; k++) {
                double v = wnj::sigma2_3(i, j, k);
                EXPECT_GE(v, 0.0);
                EXPECT_EQ(v, wnj::sigma2_3(j, i, k)) << i << j << k;
            }
}

TEST_F(SplitVariance, SplitsThePathWhereTheThirdNodeBranchesOff) {
    // Slots 0, 1, 3: d01 0.2, d03 0.4, d13 1.5, so node 3 lies beyond 0 seen from 1 and
    // the path 0-1 is not split: at two leaves nothing is left.
    EXPECT_EQ(wnj::sigma2_3(0, 1, 3), 0.0);
    // Slots 1, 3, 2: d13 1.5 > d12 0.3 + d23 0.5, so the piece on 1's side is d12.
    EXPECT_DOUBLE_EQ(wnj::sigma2_3(1, 3, 2), wnj::sigma2t(1.5) - wnj::sigma2t(0.3) - wnj::sigma2t(1.2));
    // Slots 0, 2, 3 obey the triangle inequality: the piece is (d02 + d03 - d23)/2.
    double b = (0.9 + 0.4 - 0.5) / 2.0;
    EXPECT_DOUBLE_EQ(wnj::sigma2_3(0, 2, 3), wnj::sigma2t(0.9) - wnj::sigma2t(b) - wnj::sigma2t(0.9 - b));
}

namespace {

// A job of three processes where rank 2's note, the same as this process's but one join
// earlier and at slot 4, comes first (a note holds: noted, joins made, slots i, j, k, ...).
void gatherOfThree(double* values, const int* counts, const int* offsets) {
    for (int r = 1; r < 3; r++)
        for (int k = 0; k < counts[r]; k++) values[offsets[r] + k] = values[offsets[0] + k];
    values[offsets[2] + 1] -= 1;
    values[offsets[2] + 2] = 4;
}

} // namespace

// A clearly negative term (here of a distance that is not a number) is taken as 0 and printed
// once, at the end of the build: the first of the build's by the joins made and then the slots,
// of all processes' when the processes each compute a share of the steps, by rank 0 alone.
TEST_F(SplitVariance, AClearlyNegativeTermIsPrintedOnceTheFirstOfEveryProcesssTerms) {
    wnj::forgetSplitVariance();
    wnj::slotDistance[0][1] = wnj::slotDistance[1][0] = NAN;
    testing::internal::CaptureStdout();
    wnj::joinsMade = 2;
    EXPECT_EQ(wnj::sigma2_3(0, 1, 2), 0.0);
    wnj::joinsMade = 1;
    EXPECT_EQ(wnj::sigma2_3(0, 1, 3), 0.0);
    EXPECT_EQ(wnj::sigma2_3(0, 1, 2), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    testing::internal::CaptureStdout();
    wnj::reportSplitVariance();
    std::string alone = testing::internal::GetCapturedStdout();
    EXPECT_EQ(alone.rfind("ERROR: sigma2_3(0,1,2)=nan < 0.0\n", 0), 0u) << alone;
    EXPECT_EQ(std::count(alone.begin(), alone.end(), '\n'), 2) << alone;

    jobSize = 3;
    gatherSharesHook = gatherOfThree;
    for (int rank : {0, 1}) {
        jobRank = rank;
        testing::internal::CaptureStdout();
        wnj::reportSplitVariance();
        std::string printed = testing::internal::GetCapturedStdout();
        if (rank == 0) {
            EXPECT_EQ(printed.rfind("ERROR: sigma2_3(4,1,2)=nan < 0.0\n", 0), 0u) << printed;
        } else {
            EXPECT_EQ(printed, "");
        }
    }
    jobSize = jobRank = 0;
    gatherSharesHook = nullptr;
    wnj::forgetSplitVariance();
}
