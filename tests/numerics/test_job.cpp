// Shares of work among the processes of a job, and the gather that gives every process all of
// them, driven through a stand-in for the job layer's hook.
#include "numerics/job.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace {

// The hook's calls, and the other processes' blocks filled as a job would: value 1000·r + k
// at position k of the window passed.
struct Calls {
    std::vector<std::vector<int>> counts, offsets;
};
Calls calls;

void standInGather(double* values, const int* counts, const int* offsets) {
    calls.counts.emplace_back(counts, counts + jobSize);
    calls.offsets.emplace_back(offsets, offsets + jobSize);
    for (int r = 0; r < jobSize; r++)
        if (r != jobRank)
            for (int k = 0; k < counts[r]; k++) values[offsets[r] + k] = 1000.0 * r + offsets[r] + k;
}

class JobShares : public testing::Test {
  protected:
    void SetUp() override { calls = Calls(); }
    void TearDown() override {
        jobSize = jobRank = 0;
        gatherSharesHook = nullptr;
    }
    void joinJob(int size, int rank) {
        jobSize = size;
        jobRank = rank;
        gatherSharesHook = standInGather;
    }
};

} // namespace

TEST_F(JobShares, OneShareHoldsEverythingOutsideAJobOrWithoutTheHook) {
    for (int size : {0, 1, 4}) {
        jobSize = size;
        jobRank = size > 1 ? 2 : 0;
        gatherSharesHook = size == 4 ? nullptr : standInGather;
        Shares shares = balancedShares({1, 2, 3});
        EXPECT_EQ(shares.start, (std::vector<std::size_t>{0, 3})) << size;
        EXPECT_EQ(shares.myBegin(), 0u);
        EXPECT_EQ(shares.myEnd(), 3u);
        double values[3] = {1, 2, 3};
        gatherShares(shares, values, 1);
        EXPECT_TRUE(calls.counts.empty());
    }
}

TEST_F(JobShares, SplitsItemsByCountOrByWork) {
    joinJob(3, 1);
    EXPECT_EQ(equalShares(10).start, (std::vector<std::size_t>{0, 3, 6, 10}));
    EXPECT_EQ(equalShares(2).start, (std::vector<std::size_t>{0, 0, 1, 2}));
    // Items of no work (identical sequences) and heavy ones: each share a third of the 12.
    Shares shares = balancedShares({0, 0, 4, 0, 2, 2, 0, 1, 1, 1, 1, 0});
    EXPECT_EQ(shares.start, (std::vector<std::size_t>{0, 3, 6, 12}));
    EXPECT_EQ(shares.myBegin(), 3u);
    EXPECT_EQ(shares.myEnd(), 6u);
    // One item holding all the work goes to one share; the others are empty.
    EXPECT_EQ(balancedShares({0, 9, 0}).start, (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_EQ(balancedShares({}).start, (std::vector<std::size_t>{0, 0, 0, 0}));
}

TEST_F(JobShares, GatherFillsEveryShareInWindowsThatFitTheHook) {
    joinJob(3, 1);
    Shares shares;
    shares.start = {0, 4, 5, 9}; // items of 2 values: 8, 2 and 8 doubles
    std::vector<double> own(18, -1.0);
    own[8] = own[9] = 7.0; // this process's share

    std::vector<double> values = own;
    gatherShares(shares, values.data(), 2);
    ASSERT_EQ(calls.counts.size(), 1u);
    EXPECT_EQ(calls.counts[0], (std::vector<int>{8, 2, 8}));
    EXPECT_EQ(calls.offsets[0], (std::vector<int>{0, 8, 10}));
    for (std::size_t k = 0; k < 18; k++) EXPECT_EQ(values[k], k < 8 ? k : k < 10 ? 7.0 : 2000.0 + k) << k;

    // Windows [0,5) [5,10) [10,15) [15,18): each call's counts and offsets lie within its window.
    calls = Calls();
    values = own;
    gatherShares(shares, values.data(), 2, 5);
    ASSERT_EQ(calls.counts.size(), 4u);
    const std::vector<std::vector<int>> counts = {{5, 0, 0}, {3, 2, 0}, {0, 0, 5}, {0, 0, 3}};
    const std::vector<std::vector<int>> offsets = {{0, 5, 5}, {0, 3, 5}, {0, 0, 0}, {0, 0, 0}};
    EXPECT_EQ(calls.counts, counts);
    EXPECT_EQ(calls.offsets, offsets);
    for (std::size_t k = 0; k < 18; k++) EXPECT_NE(values[k], -1.0) << k;
    EXPECT_EQ(values[8], 7.0);
    EXPECT_EQ(values[9], 7.0);
}
