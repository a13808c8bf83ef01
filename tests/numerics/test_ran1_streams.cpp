// ran1 and Ran1Indices against a plain reference generator written from the rules alone:
// Schrage's step in 32-bit arithmetic and a table of 32 plain integers, one call per draw.
#include "numerics/ran1.h"

#include "vectorwidths.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

// The index of a value as the callers take it: whole part of (value · n + 1), at most n.
int indexOfValue(float u, int n) {
    int i = static_cast<int>(static_cast<double>(u) * n + 1);
    return i > n ? n : i;
}

class ReferenceGenerator {
  public:
    float draw(long* idum) {
        std::int32_t seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(*idum));
        if (seed <= 0 || iy == 0) seed = start(seed);
        seed = step(seed);
        int j = iy / 67108864;
        iy = iv[j];
        iv[j] = seed;
        *idum = seed;
        float t = static_cast<float>(4.656612875245797e-10 * iy);
        return t > 0.99999988 ? 0.99999988079071044921875f : t;
    }

  private:
    static std::int32_t step(std::int32_t seed) {
        std::int32_t k = seed / 127773;
        seed = 16807 * (seed - k * 127773) - 2836 * k;
        return seed < 0 ? seed + 2147483647 : seed;
    }
    // The negated seed when that is at least 1 and below the modulus, else 1; 40 steps fill the table.
    std::int32_t start(std::int32_t seed) {
        std::int64_t negated = -static_cast<std::int64_t>(seed);
        seed = negated >= 1 && negated < INT32_MAX ? static_cast<std::int32_t>(negated) : 1;
        for (int j = 39; j >= 0; j--) {
            seed = step(seed);
            if (j < 32) iv[j] = seed;
        }
        iy = iv[0];
        return seed;
    }

    std::int32_t iy = 0;
    std::int32_t iv[32] = {};
};

// One piece of a run: count draws with seed variable `variable` (0 or 1), which is first set
// to `set` unless that is `keep`; through ran1 calls or one Ran1Indices of indices 1..n.
constexpr long keep = LONG_MIN;
struct Piece {
    int variable;
    long set;
    int count;
    bool stream;
    int n = 38;
};

// The values ran1 gives, and the indices of the values a stream gives.
struct Outcome {
    std::vector<double> values;
    long seeds[2];
};

Outcome runReference(const std::vector<Piece>& pieces) {
    ReferenceGenerator g;
    Outcome out{{}, {0, 0}};
    for (const Piece& p : pieces) {
        if (p.set != keep) out.seeds[p.variable] = p.set;
        for (int k = 0; k < p.count; k++) {
            float u = g.draw(&out.seeds[p.variable]);
            out.values.push_back(p.stream ? indexOfValue(u, p.n) : u);
        }
    }
    return out;
}

// The generator is process-wide: each run restarts it with a non-positive seed first.
Outcome runFast(const std::vector<Piece>& pieces) {
    Outcome out{{}, {0, 0}};
    for (const Piece& p : pieces) {
        long& seed = out.seeds[p.variable];
        if (p.set != keep) seed = p.set;
        if (p.stream) {
            Ran1Indices draws(&seed, p.n);
            for (int k = 0; k < p.count; k++) out.values.push_back(draws.next());
        } else {
            for (int k = 0; k < p.count; k++) out.values.push_back(ran1(&seed));
        }
    }
    return out;
}

void expectSameRun(const std::vector<Piece>& pieces, const char* what) {
    Outcome expected = runReference(pieces);
    Outcome got = runFast(pieces);
    ASSERT_EQ(got.values.size(), expected.values.size());
    for (size_t k = 0; k < got.values.size(); k++)
        ASSERT_EQ(got.values[k], expected.values[k]) << what << ", draw " << k;
    EXPECT_EQ(got.seeds[0], expected.seeds[0]) << what;
    EXPECT_EQ(got.seeds[1], expected.seeds[1]) << what;
}

} // namespace

TEST(Ran1Streams, LongStreamsFromManySeedsMatchTheReference) {
    // The edge seeds of the start rule and of the 32-bit conversion, then random ones.
    std::vector<long> seeds = {0,
                               -1,
                               -2,
                               INT32_MIN,
                               INT32_MIN + 1,
                               -INT32_MAX,
                               -INT32_MAX + 1,
                               -127773,
                               -16807,
                               -(1L << 32) - 5,
                               (1L << 32) - 7,
                               -30000,
                               -64};
    std::mt19937 rng(15);
    for (int k = 0; k < 20; k++) seeds.push_back(-static_cast<long>(rng() % 2147483647u));
    for (long seed : seeds)
        for (bool stream : {false, true})
            expectSameRun({{0, seed, 200000, stream}}, stream ? "Ran1Indices" : "ran1");
}

TEST(Ran1Streams, RestartsAndSharedTableMatchTheReference) {
    // Restarts mid-stream, a second variable continuing the shared table, a stream that
    // draws nothing, and the positive seeds 2^31 - 1 and 0 that make a draw's seed 0 and so
    // the next draw a restart (also when another variable left the 0 in the table).
    std::vector<Piece> pieces = {
        {0, -5, 1000, true},      {0, keep, 333, false}, {0, -5, 10, true},        {1, 12345, 4000, true},
        {0, keep, 77, true},      {1, -9, 0, true},      {1, keep, 500, false},    {0, 0, 5000, true},
        {0, INT32_MAX, 3, true},  {0, keep, 50, true},   {1, INT32_MAX, 1, false}, {0, keep, 3000, true},
        {0, INT32_MAX, 1, false}, {0, keep, 2, false},   {1, 1, 20000, true},      {0, -2147483646, 40, true},
        {1, keep, 100000, true},  {0, keep, 10, false},
    };
    expectSameRun(pieces, "pieces");
    // Each piece through the other form, too.
    for (Piece& p : pieces) p.stream = !p.stream;
    expectSameRun(pieces, "pieces, forms exchanged");
}

TEST(Ran1Streams, IndexDrawsAreTheIndicesOfTheValues) {
    // The drawn values at the top, where the value is capped, and near the steps of the index.
    std::vector<std::int32_t> drawn = {0, 1, 2, 2147483646, 2147483645, 2147483600, 2147483520, 2147483392};
    for (int n : {1, 2, 3, 38, 1000, 65537, 1 << 23})
        for (int k = 1; k < 8 && k < n; k++) {
            std::int32_t step = static_cast<std::int32_t>(2147483647.0 * k / n);
            for (int d = -300; d <= 300; d += 7) drawn.push_back(step + d);
        }
    for (int n : {1, 2, 3, 38, 1000, 65537, (1 << 23) - 1, 1 << 23})
        for (std::int32_t y : drawn)
            EXPECT_EQ(ran1state::indexOf(y, n), indexOfValue(ran1state::output(y), n)) << y << " " << n;
}

TEST(Ran1Streams, CappedValuesGiveTheLastIndexForEveryLeafCount) {
    // The index leaves out the cap of the value: every drawn value that the cap replaces gives the
    // same index, n, with the cap as without it, for every leaf count up to 2^17 (the values below
    // the cap take the same arithmetic in both).
    std::int32_t firstCapped = 2147483646;
    while (ran1state::output(firstCapped - 1) == 0.99999988079071044921875f) firstCapped--;
    ASSERT_LT(firstCapped, 2147483646);
    for (int n = 1; n <= 1 << 17; n++)
        for (std::int32_t y = firstCapped - 2; y <= 2147483646; y++)
            ASSERT_EQ(ran1state::indexOf(y, n), indexOfValue(ran1state::output(y), n)) << y << " " << n;
}

TEST(Ran1Streams, IndexStreamsOfEveryWidthMatchTheReference) {
    // The indices made ahead with either vector width, for leaf counts from 2 to the largest,
    // in runs that end inside a block, at its end and after many blocks.
    testsupport::forEachVectorWidth([](VectorWidth width) {
        for (int n : {2, 3, 38, 1000, 65537, 1 << 23})
            expectSameRun({{0, -11, 100000, true, n},
                           {0, keep, 256, true, n},
                           {0, keep, 255, true, n},
                           {0, keep, 1, true, n},
                           {0, keep, 5, false},
                           {1, -7, 3, true, n}},
                          testsupport::widthName(width));
    });
}

TEST(Ran1Streams, TranspositionsDrawTheirPairsAsTheCallsWould) {
    // Pairs of two draws, the second drawn again while it equals the first: with two or three
    // leaves a third of the transpositions or more draw again, some many times over.
    testsupport::forEachVectorWidth([](VectorWidth) {
        for (int n : {2, 3, 38, 1000}) {
            ReferenceGenerator reference;
            long expectedSeed = -29, seed = -29;
            for (long count : {1L, 7L, 100L * n, 3L}) {
                std::vector<std::pair<int, int>> expected, got;
                for (long k = 0; k < count; k++) {
                    int i = indexOfValue(reference.draw(&expectedSeed), n);
                    int j = indexOfValue(reference.draw(&expectedSeed), n);
                    while (j == i) j = indexOfValue(reference.draw(&expectedSeed), n);
                    expected.push_back({i, j});
                }
                Ran1Indices draws(&seed, n);
                draws.transpositions(count, [&](int i, int j) { got.push_back({i, j}); });
                ASSERT_EQ(got, expected) << "n " << n << ", count " << count;
            }
            // The generator carries on where the reference does.
            EXPECT_EQ(seed, expectedSeed);
            EXPECT_EQ(ran1(&seed), reference.draw(&expectedSeed));
        }
    });
}
