#include "numerics/dbrent1.h"
#include "numerics/ran1.h"
#include "numerics/rtbis.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The minimal standard step computed directly in 64 bits, independent of Schrage's method.
std::int64_t step(std::int64_t seed) {
    return seed * 16807 % 2147483647;
}

// The first output of a fresh stream started from the seed 1, built from the rules of the
// shuffle table, and the seed left after it.
float firstOutputFromOne(std::int64_t* seedAfter) {
    std::int64_t seed = 1, table[32];
    for (int j = 39; j >= 0; j--) {
        seed = step(seed);
        if (j < 32) table[j] = seed;
    }
    seed = step(seed);
    std::int64_t y = table[table[0] / 67108864];
    *seedAfter = seed;
    return static_cast<float>(4.656612875245797e-10 * static_cast<double>(y));
}

std::vector<float> stream(long seed, int count) {
    std::vector<float> out;
    for (int i = 0; i < count; i++) out.push_back(ran1(&seed));
    return out;
}

} // namespace

TEST(Ran1, NonPositiveSeedsStartTheSameReproducibleStream) {
    std::int64_t expectedSeed;
    float expected = firstOutputFromOne(&expectedSeed);
    // -2147483647, -rand() at RAND_MAX, negates to the modulus, a fixed point of the steps.
    for (long start : {-1L, 0L, static_cast<long>(INT32_MIN), -2147483647L}) {
        long seed = start;
        EXPECT_EQ(ran1(&seed), expected) << "seed " << start;
        EXPECT_EQ(seed, expectedSeed) << "41 steps from 1, seed " << start;
        EXPECT_EQ(stream(start, 100), stream(-1, 100)) << "seed " << start;
    }
    EXPECT_EQ(stream(-64, 500), stream(-64, 500));
    EXPECT_NE(stream(-64, 20), stream(-65, 20));
}

TEST(Ran1, APositiveSeedContinuesTheSharedTable) {
    long first = -7;
    ran1(&first);
    long other = 12345;
    float a = ran1(&other);
    EXPECT_EQ(other, step(12345)); // only the passed variable advances, no restart
    // The same variable value after a different history of the table gives another value.
    long again = -7;
    ran1(&again);
    ran1(&again);
    long sameOther = 12345;
    EXPECT_NE(ran1(&sameOther), a);
}

TEST(Ran1DeathTest, APositiveSeedAtTheVeryFirstCallStartsFromOne) {
    // Run in a fresh process, where the generator has not been used yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::int64_t expectedSeed;
    float expected = firstOutputFromOne(&expectedSeed);
    EXPECT_EXIT(
        {
            long seed = 99;
            std::exit(ran1(&seed) == expected && seed == expectedSeed ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}

TEST(Ran1, ValuesLieStrictlyInsideTheUnitIntervalAndSpreadEvenly) {
    long seed = -64;
    int bins[10] = {0};
    const int draws = 100000;
    for (int i = 0; i < draws; i++) {
        float u = ran1(&seed);
        ASSERT_GT(u, 0.0f);
        ASSERT_LT(u, 1.0f);
        ASSERT_LE(u, 0.99999988079071044921875f);
        bins[static_cast<int>(u * 10)]++;
    }
    for (int count : bins) EXPECT_NEAR(count, draws / 10, 500); // about 5 standard deviations
}

namespace {

int calls = 0;
double firstAbscissa = 0.0;
double parabola(int i1, int i2, double x) {
    EXPECT_EQ(i1, 17);
    EXPECT_EQ(i2, -3);
    if (calls++ == 0) firstAbscissa = x;
    return (x - 2.0) * (x - 2.0);
}

// An objective that never compares lower, such as a likelihood gone NaN: only golden steps.
double undefined(int, int, double) {
    return std::nan("");
}

double line(int i1, double x, int i2) {
    EXPECT_EQ(i1, 4);
    EXPECT_EQ(i2, 300);
    return x - 0.3;
}
double falling(int, double x, int) {
    return 0.3 - x;
}
double third(int, double x, int) {
    return x - 1.0 / 3.0;
}
double tiny(int, double x, int) {
    return 1e-200 * (x - 0.5);
}

} // namespace

TEST(Dbrent1, FindsAKnownMinimumFromEitherOrientation) {
    for (bool reversed : {false, true}) {
        calls = 0;
        double xmin = 0.0;
        double fmin = reversed ? dbrent1(5, 1, 0, parabola, 1e-6, &xmin, 17, -3)
                               : dbrent1(0, 1, 5, parabola, 1e-6, &xmin, 17, -3);
        EXPECT_EQ(firstAbscissa, 1.0);
        EXPECT_NEAR(xmin, 2.0, 1e-5);
        EXPECT_NEAR(fmin, 0.0, 1e-10);
        EXPECT_LE(calls, 101);
    }
}

TEST(Dbrent1DeathTest, TooManyIterationsEndWithItsText) {
    double xmin;
    EXPECT_EXIT(dbrent1(-1e12, 0.5, 1e12, undefined, 0.0, &xmin, 0, 0), testing::ExitedWithCode(1),
                "Too many iterations in brent\nFATAL - execution terminated");
}

TEST(Rtbis, BisectsTowardsTheRootFromItsNegativeSide) {
    double root = rtbis(line, 0.0, 1.0, 1e-6, 4, 300);
    EXPECT_LE(root, 0.3);
    EXPECT_GT(root, 0.3 - 1e-6);
    // Negative at x2: the search starts from x2 and the result stays on the negative side.
    double back = rtbis(falling, 0.0, 1.0, 1e-6, 0, 0);
    EXPECT_GE(back, 0.3);
    EXPECT_LT(back, 0.3 + 1e-6);
    // A true bracket whose end values multiply to less than the smallest double.
    EXPECT_NEAR(rtbis(tiny, 0.0, 1.0, 1e-9, 0, 0), 0.5, 1e-9);
}

TEST(RtbisDeathTest, MissingBracketAndTooManyBisectionsEndWithTheirTexts) {
    EXPECT_EXIT(rtbis(line, 0.5, 1.0, 1e-6, 4, 300), testing::ExitedWithCode(1),
                "Root must be bracketed for bisection in rtbis\nFATAL - execution terminated");
    EXPECT_EXIT(rtbis(line, 0.3, 1.0, 1e-6, 4, 300), testing::ExitedWithCode(1), "Root must be bracketed");
    EXPECT_EXIT(rtbis(third, 0.0, 1.0, 0.0, 0, 0), testing::ExitedWithCode(1),
                "Too many bisections in rtbis\nFATAL - execution terminated");
}
