// The step of the tree recursions against its arithmetic written out entry by entry, in the
// order of the definitions (i outside, j inside, the products left to right), to the bit.
#include "likelihoodstep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

bool sameBits(double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// Entries across 30 powers of ten, so that another order or association of a sum changes its
// last bits.
double spread(std::mt19937& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return u(rng) * std::pow(10.0, -30 * u(rng));
}

} // namespace

TEST(LikelihoodStep, SumsAndMaximaAreThoseWrittenOutToTheBit) {
    std::mt19937 rng(11);
    int reassociatedDiffers = 0, firstOfTwoEqual = 0;
    for (int trial = 0; trial < 200; trial++) {
        ColumnMatrix P;
        fillColumns(P, [&](int, int) { return spread(rng); });
        double left[21], right[21];
        for (int j = 1; j <= 20; j++) left[j] = spread(rng), right[j] = spread(rng);
        // States 4 and 9 reach one value from every state: the maximum's first one is chosen.
        for (int i = 1; i <= 20; i++) P[9][i] = P[4][i];
        left[9] = left[4], right[9] = right[4];

        double sum[21], best[21], down[21];
        int choice[21];
        combineChildren(P, left, right, sum);
        bestOfChildren(P, left, right, best, choice);
        passDown(P, left, down);
        for (int i = 1; i <= 20; i++) {
            double s = 0.0, reassociated = 0.0, d = 0.0;
            int at = 1;
            for (int j = 1; j <= 20; j++) {
                double Pij = P[j][i];
                s += Pij * left[j] * right[j];
                reassociated += Pij * (left[j] * right[j]);
                if (Pij * left[j] * right[j] > P[at][i] * left[at] * right[at]) at = j;
                d += P[i][j] * left[j]; // P(j, i): into state i from state j
            }
            SCOPED_TRACE("trial " + std::to_string(trial) + ", state " + std::to_string(i));
            EXPECT_TRUE(sameBits(sum[i], s)) << sum[i] << " " << s;
            EXPECT_TRUE(sameBits(down[i], d)) << down[i] << " " << d;
            EXPECT_EQ(choice[i], at);
            if (at == 4) firstOfTwoEqual++;
            EXPECT_TRUE(sameBits(best[i], P[at][i] * left[at] * right[at]));
            if (!sameBits(s, reassociated)) reassociatedDiffers++;
        }
    }
    // The inputs tell the association of the products apart, and the tie decides some maxima.
    EXPECT_GT(reassociatedDiffers, 0);
    EXPECT_GT(firstOfTwoEqual, 0);
}

TEST(LikelihoodStep, RescalingBringsTheGaugeToATenthAndStopsAtTheGuard) {
    struct Case {
        const char* name;
        std::vector<double> head; // the first entries of the vector
        double rest;              // every later entry
        Gauge gauge;
        int powers;
    };
    const Case cases[] = {
        {"largest entry a tenth", {0.1, 1e-9}, 1e-300, Gauge::LargestEntry, 0},
        {"largest entry below a tenth", {1e-9, 3e-7, 2e-8}, 1e-300, Gauge::LargestEntry, 6},
        {"just above the guard", {2e-200}, 1e-300, Gauge::LargestEntry, 199},
        {"at the guard", {1e-200}, 1e-300, Gauge::LargestEntry, 0},
        {"zero", {}, 0.0, Gauge::LargestEntry, 0},
        {"wholly negative, by entry", {-3e-7}, -1e-9, Gauge::LargestEntry, 0},
        {"wholly negative, by magnitude", {-3e-7}, -1e-9, Gauge::LargestMagnitude, 6},
        {"a large negative entry, by entry", {-5.0, 3e-7}, 1e-300, Gauge::LargestEntry, 6},
        {"a large negative entry, by magnitude", {-5.0, 3e-7}, 1e-300, Gauge::LargestMagnitude, 0},
        {"not a number first", {NAN, 3e-7}, 1e-300, Gauge::LargestEntry, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double vec[21], before[21];
        for (int i = 1; i <= 20; i++)
            vec[i] = before[i] = i <= static_cast<int>(c.head.size()) ? c.head[i - 1] : c.rest;
        EXPECT_EQ(rescale(vec, c.gauge), c.powers);
        for (int i = 1; i <= 20; i++) {
            double expected = c.powers == 0 ? before[i] : before[i] * std::pow(10, c.powers);
            EXPECT_TRUE(sameBits(vec[i], expected) || (std::isnan(vec[i]) && std::isnan(expected)))
                << i << ": " << vec[i] << " " << expected;
        }
    }
    for (int n = -5; n <= 400; n++) EXPECT_TRUE(sameBits(powerOfTen(n), std::pow(10, n))) << n;
}
