#include "sitefixture.h"

#include "alignment.h"
#include "branchlength.h"
#include "enumeration.h"
#include "model.h"
#include "settings.h"
#include "sitelikelihood.h"
#include "sitetree.h"
#include "transitioncache.h"
#include "treefile.h"
#include "vectorwidths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

using namespace sitefixture;

namespace {

bool sameBits(double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

// The likelihood of site s on the unrooted tree in node, summed over every assignment of
// states to its inner nodes, with transition matrices from the matrix exponential; a leaf in
// gapped is summed out.
long double bruteForceLikelihood(int s, double rate, const std::vector<int>& gapped) {
    int n = seqNum, top = n + 1;
    std::vector<Matrix> P(DIM);
    for (int c = 1; c < DIM; c++)
        if (c != top) P[c] = transitionByExponential(node[c].length * rate);
    std::vector<int> inner;
    for (int c = n + 1; c < DIM; c++) inner.push_back(c);
    std::vector<int> state(DIM, 1);
    long double total = 0.0L;
    forEachAssignment(inner, state, [&] {
        long double product = PI[state[top]];
        for (int c = 1; c < DIM; c++) {
            if (c == top) continue;
            int from = state[node[c].parent];
            if (c > n) {
                product *= P[c][from][state[c]];
            } else if (std::find(gapped.begin(), gapped.end(), c) == gapped.end()) {
                product *= P[c][from][node[c].code[s]];
            }
        }
        total += product;
    });
    return total;
}

// Five leaves: top 6 holds leaf 1 and the cherries 7 = (2, 3) and 8 = (4, 5).
void fiveLeafTree() {
    makeAlignment(5, 4);
    const int parent[] = {0, 6, 7, 7, 8, 8, 6, 6, 6};
    const double length[] = {0, 0.31, 0.12, 0.45, 0.07, 0.66, 0, 0.22, 0.18};
    for (int c = 1; c <= 8; c++) {
        node[c].parent = parent[c];
        node[c].length = length[c];
    }
    node[6].left = 1, node[6].right = 7, node[6].third = 8, node[6].isRoot = 1;
    node[7].left = 2, node[7].right = 3;
    node[8].left = 4, node[8].right = 5;
    for (int s = 1; s <= 4; s++) copyTreeToSite(s);
}

// A caterpillar of n leaves: the top node holds leaves 1, 2 and the first inner node n+2;
// inner node m holds leaf m-n+1 and the next inner node, the last one leaves n-1 and n.
void caterpillarTree(int n, double length) {
    int top = n + 1, last = 2 * n - 2;
    node[top].left = 1, node[top].right = 2, node[top].third = n + 2;
    node[top].parent = top, node[top].isRoot = 1;
    node[1].parent = node[2].parent = node[n + 2].parent = top;
    for (int m = n + 2; m <= last; m++) {
        node[m].left = m - n + 1;
        node[m].right = m < last ? m + 1 : n;
        node[node[m].left].parent = node[node[m].right].parent = m;
    }
    for (int c = 1; c <= last; c++)
        if (c != top) node[c].length = length;
}

class SiteLikelihood : public ::testing::Test {
  protected:
    void SetUp() override {
        std::mt19937 rng(11);
        auto f = randomFrequencies(rng);
        buildModel(f.data());
        transitionCacheEnabled = true;
    }
};

TEST_F(SiteLikelihood, MatchesTheSumOverInnerStatesOnSmallTrees) {
    std::mt19937 rng(5);
    for (int n : {4, 5}) {
        makeAlignment(n, 3);
        randomTree(rng, 0.05, 0.8);
        for (int s = 1; s <= 3; s++) {
            copyTreeToSite(s);
            setColumn(s, randomColumn(rng, n, s == 3 ? 3 : 20));
            double rate = 0.4 + s;
            long double L = bruteForceLikelihood(s, rate, {});
            EXPECT_NEAR(calTree(s, n + 1, rate), std::log(static_cast<double>(L)), 1e-9) << n << " " << s;
        }
    }
}

TEST_F(SiteLikelihood, PrunedGappedSiteEqualsSummingTheGapOut) {
    fiveLeafTree();
    // Leaf 5 gapped: its sibling 4 takes the place of the cherry 8 with both lengths.
    setColumn(1, "RNDC-");
    SiteTreeNode* t = gapTree[1];
    t[6].third = 4, t[4].parent = 6, t[4].length = 0.07 + 0.18;
    t[5].gap = t[8].gap = 1;
    // Leaf 1 gapped: the top node is dissolved and the cherry 7 becomes the root with 8 as
    // its third child.
    setColumn(2, "-NDCW");
    t = gapTree[2];
    t[1].gap = t[6].gap = 1, t[6].isRoot = 0;
    t[7].third = 8, t[7].isRoot = 1, t[7].parent = 7, t[8].parent = 7;
    t[8].length = 0.18 + 0.22, t[7].length = 0;
    treeRoot[1] = 6, treeRoot[2] = 7;

    EXPECT_NEAR(calTree(1, 6, 1.3), std::log(static_cast<double>(bruteForceLikelihood(1, 1.3, {5}))), 1e-9);
    EXPECT_NEAR(calTree(2, 7, 0.8), std::log(static_cast<double>(bruteForceLikelihood(2, 0.8, {1}))), 1e-9);
}

TEST_F(SiteLikelihood, SiteLeftOutOfComputationScoresZero) {
    fiveLeafTree();
    setColumn(3, "--A--");
    for (int c = 0; c < DIM; c++) gapTree[3][c].gap = 1;
    treeRoot[3] = 0;
    EXPECT_EQ(calTree(3, 0, 1.0), 0.0);
}

// Long branches on 200 leaves with rare letters: the likelihood lies far below the range of a
// double, yet the rescaled recursion returns its logarithm.
TEST_F(SiteLikelihood, RescalingKeepsTheLogLikelihoodOfHugeTreesExact) {
    std::mt19937 rng(3);
    std::array<double, 21> f = randomFrequencies(rng, 0.004);
    buildModel(f.data());
    int n = 200;
    makeAlignment(n, 1);
    randomTree(rng, 2.0, 5.0);
    copyTreeToSite(1);
    std::vector<int> byFrequency;
    for (int k = 1; k <= 20; k++) byFrequency.push_back(k);
    std::sort(byFrequency.begin(), byFrequency.end(), [&](int x, int y) { return f[x] < f[y]; });
    std::string column;
    for (int i = 0; i < n; i++) column += aa[byFrequency[i % 3]];
    setColumn(1, column);

    // Plain pruning in long double, no scaling.
    std::vector<std::array<long double, 21>> vec(DIM);
    std::function<void(int)> prune = [&](int c) {
        const NODE& r = node[c];
        for (int i = 1; i <= 20; i++) vec[c][i] = r.left ? 0.0L : pij(i, r.code[1], r.length, 1.0);
        if (!r.left) return;
        prune(r.left);
        prune(r.right);
        for (int i = 1; i <= 20; i++)
            for (int j = 1; j <= 20; j++)
                vec[c][i] +=
                    static_cast<long double>(pij(i, j, r.length, 1.0)) * vec[r.left][j] * vec[r.right][j];
    };
    int top = n + 1;
    prune(node[top].left), prune(node[top].right), prune(node[top].third);
    long double L = 0.0L;
    for (int i = 1; i <= 20; i++)
        L += PI[i] * vec[node[top].left][i] * vec[node[top].right][i] * vec[node[top].third][i];
    double reference = static_cast<double>(std::log(L));
    ASSERT_LT(reference, -746.0); // below the smallest double

    double logL = calTree(1, top, 1.0);
    EXPECT_TRUE(std::isfinite(logL));
    EXPECT_NEAR(logL, reference, 1e-9 * std::fabs(reference));

    // A branch without length takes no part in the derivative, however far the exponents of
    // the other terms reach.
    gapTree[1][1].length = 0.0;
    double h = 1e-6;
    double slope = (calTree(1, top, 1.0 + h) - calTree(1, top, 1.0 - h)) / (2 * h);
    int sign = 0;
    double lnD = calTree_alfa(1, top, 1.0, &sign);
    ASSERT_TRUE(std::isfinite(lnD));
    EXPECT_NEAR(sign * std::exp(lnD - calTree(1, top, 1.0)), slope, 1e-4 * std::fabs(slope));
}

// Two leaves whose letters the model forbids below one cherry: the column has probability 0
// at every rate. Neither the likelihood nor its derivative may hang on the vanishing vectors,
// and the rate search keeps the grid's first point when nothing beats it.
TEST_F(SiteLikelihood, ImpossibleColumnGivesMinusInfinityAndEnds) {
    fiveLeafTree();
    setColumn(1, "ARNWY");
    PI[18] = 0.0, PI[19] = 0.0;
    cal_Eign(); // the model is rebuilt as the program would after a change
    EXPECT_EQ(calTree(1, 6, 1.0), -HUGE_VAL);
    int sign = 0;
    calTree_alfa(1, 6, 1.0, &sign);
    EXPECT_EQ(std::abs(sign), 1);
    EXPECT_EQ(optimizeAlpha(1), 1e-8);
}

TEST_F(SiteLikelihood, DerivativeMatchesFiniteDifference) {
    std::mt19937 rng(8);
    fiveLeafTree();
    setColumn(1, "RNDCW");
    // Gapped site: leaf 5 pruned; records 5 and 8 keep their lengths but are not in the tree.
    setColumn(2, "RNDC-");
    SiteTreeNode* t = gapTree[2];
    t[6].third = 4, t[4].parent = 6, t[4].length = 0.07 + 0.18;
    t[5].gap = t[8].gap = 1;
    for (int s : {1, 2}) {
        for (double rate : {0.2, 1.0, 3.5}) {
            double h = 1e-5 * rate;
            double slope = (calTree(s, 6, rate + h) - calTree(s, 6, rate - h)) / (2 * h);
            int sign = 0;
            double lnD = calTree_alfa(s, 6, rate, &sign);
            double fromDerivative = sign * std::exp(lnD - calTree(s, 6, rate));
            EXPECT_NEAR(fromDerivative, slope, 1e-6 * (1 + std::fabs(slope))) << s << " " << rate;
        }
    }
}

// On a caterpillar of 400 leaves the vectors of the derivative, some of them wholly negative,
// need rescaling as much as the likelihood's: the slope stays finite and exact, and where the
// likelihood still rises at the grid end the rate search takes that end without a warning.
TEST_F(SiteLikelihood, DerivativeOnALargeCaterpillarMatchesFiniteDifference) {
    std::mt19937 rng(6);
    int n = 400, top = n + 1;
    makeAlignment(n, 12);
    caterpillarTree(n, 0.01);
    copyTreeToSite(1);
    setColumn(1, randomColumn(rng, n));
    for (double rate : {1.0, 12.0}) {
        double h = 1e-5 * rate;
        double slope = (calTree(1, top, rate + h) - calTree(1, top, rate - h)) / (2 * h);
        int sign = 0;
        double lnD = calTree_alfa(1, top, rate, &sign);
        ASSERT_TRUE(std::isfinite(lnD)) << rate;
        EXPECT_NEAR(sign * std::exp(lnD - calTree(1, top, rate)), slope, 1e-5 * std::fabs(slope)) << rate;
    }
    testing::internal::CaptureStdout();
    double best = optimizeAlpha(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(best, 12.0);
}

// Many columns scored with the stored matrices and with pij directly must agree to the bit,
// through site changes, rate changes, model switches and an edited branch length.
TEST_F(SiteLikelihood, StoredMatricesGiveTheUncachedResultBitForBit) {
    std::mt19937 rng(21);
    int n = 30;
    makeAlignment(n, 2);
    randomTree(rng, 0.01, 1.5);
    copyTreeToSite(1);
    copyTreeToSite(2);
    auto score = [&](int s, double rate) {
        transitionCacheEnabled = true;
        double cached = calTree(s, n + 1, rate);
        transitionCacheEnabled = false;
        double direct = calTree(s, n + 1, rate);
        transitionCacheEnabled = true;
        return std::make_pair(cached, direct);
    };
    int mismatches = 0;
    for (int round = 0; round < 600; round++) {
        // Each change falls inside a run of one site and one rate.
        int s = 1 + round / 200 % 2;
        double rate = round / 100 % 2 ? 2.25 : 0.7;
        if (round == 250) {
            auto f = randomFrequencies(rng);
            buildModel(f.data());
        }
        if (round == 350) gapTree[s][5].length *= 1.5;
        setColumn(s, randomColumn(rng, n, round % 2 ? 20 : 4));
        auto [cached, direct] = score(s, rate);
        if (!sameBits(cached, direct)) mismatches++;
    }
    EXPECT_EQ(mismatches, 0);

    int signCached = 0, signDirect = 0;
    double cached = calTree_alfa(1, n + 1, 1.1, &signCached);
    transitionCacheEnabled = false;
    double direct = calTree_alfa(1, n + 1, 1.1, &signDirect);
    transitionCacheEnabled = true;
    EXPECT_TRUE(sameBits(cached, direct));
    EXPECT_EQ(signCached, signDirect);
}

// The recursion as plain loops from pij, each sum in the program's order, each vector rescaled
// by the program's rule: the reference of the vector paths.
int plainRescale(double* v) {
    double g = v[1];
    for (int i = 2; i <= 20; i++)
        if (v[i] > g) g = v[i];
    if (!(g > 1e-200)) return 0;
    int n = 0;
    while (g < 0.1) n++, g *= 10;
    for (int i = 1; i <= 20 && n > 0; i++) v[i] *= std::pow(10, n);
    return n;
}

int plainBelow(int s, int c, double a, std::vector<std::array<double, 21>>& vec) {
    const SiteTreeNode& r = gapTree[s][c];
    double t = modelLength(r.length);
    if (r.left == 0 || r.right == 0) {
        for (int i = 1; i <= 20; i++) vec[c][i] = pij(i, node[c].code[s], t, a);
        return plainRescale(vec[c].data());
    }
    int scale = plainBelow(s, r.left, a, vec) + plainBelow(s, r.right, a, vec);
    for (int i = 1; i <= 20; i++) {
        double sum = 0.0;
        for (int j = 1; j <= 20; j++) sum += pij(i, j, t, a) * vec[r.left][j] * vec[r.right][j];
        vec[c][i] = sum;
    }
    return scale + plainRescale(vec[c].data());
}

double plainLogLikelihood(int s, int root, double a) {
    std::vector<std::array<double, 21>> vec(DIM);
    const SiteTreeNode& r = gapTree[s][root];
    int scale =
        plainBelow(s, r.left, a, vec) + plainBelow(s, r.right, a, vec) + plainBelow(s, r.third, a, vec);
    double S = 0.0;
    for (int i = 1; i <= 20; i++) S += PI[i] * vec[r.left][i] * vec[r.right][i] * vec[r.third][i];
    return std::log(S) - std::log(10.0) * scale;
}

// Columns through the tree together give every column what the plain recursion gives it, to the
// bit, with either vector width, on gap-free and pruned trees of a few to a few hundred leaves;
// columns of few letters repeat their subtrees' patterns, which are computed once.
TEST_F(SiteLikelihood, ColumnsScoredTogetherGiveThePlainRecursionsBitsWithEveryVectorWidth) {
    std::mt19937 rng(31);
    for (int n : {5, 40, 300}) {
        makeAlignment(n, 2);
        randomTree(rng, 0.001, 1.2);
        setLevel(n + 1);
        copyTreeToSite(1);
        std::string gapped = randomColumn(rng, n);
        for (int i = 3; i < n; i += 3) gapped[i] = '-';
        setColumn(2, gapped);
        treeRoot[2] = rebuildTree(2);
        for (int s : {1, 2}) {
            const int count = 37, stride = n + 1;
            std::vector<unsigned char> codes(static_cast<std::size_t>(count) * stride, 0);
            std::vector<double> expected(count);
            for (int b = 0; b < count; b++) {
                std::string column = randomColumn(rng, n, b % 2 ? 20 : 3);
                for (int i = 1; i <= n; i++) {
                    if (node[i].code[s] == 0) column[i - 1] = '-';
                    codes[b * stride + i] = static_cast<unsigned char>(std::strchr(aa, column[i - 1]) - aa);
                }
                setColumn(s, column);
                expected[b] = plainLogLikelihood(s, treeRoot[s], 0.9);
                EXPECT_TRUE(sameBits(calTree(s, treeRoot[s], 0.9), expected[b])) << n << " " << s << " " << b;
            }
            testsupport::forEachVectorWidth([&](VectorWidth width) {
                std::vector<double> logL(count);
                calTreeColumns(s, treeRoot[s], 0.9, codes.data(), stride, count, logL.data());
                for (int b = 0; b < count; b++)
                    EXPECT_TRUE(sameBits(logL[b], expected[b])) << n << " " << s << " " << b << " " << logL[b]
                                                                << " " << testsupport::widthName(width);
            });
        }
    }
}

// More columns than one pass takes, every one a pattern of its own at the records near the root:
// the passes one after another give each column its bits.
TEST_F(SiteLikelihood, ManyDistinctColumnsScoredTogetherGiveThePlainRecursionsBits) {
    std::mt19937 rng(7);
    const int n = 60, count = 300, stride = n + 1;
    makeAlignment(n, 1);
    randomTree(rng, 0.01, 0.8);
    setLevel(n + 1);
    copyTreeToSite(1);
    std::vector<unsigned char> codes(static_cast<std::size_t>(count) * stride, 0);
    std::vector<double> expected(count), logL(count);
    for (int b = 0; b < count; b++) {
        std::string column = randomColumn(rng, n);
        for (int i = 1; i <= n; i++)
            codes[b * stride + i] = static_cast<unsigned char>(std::strchr(aa, column[i - 1]) - aa);
        setColumn(1, column);
        expected[b] = plainLogLikelihood(1, treeRoot[1], 1.1);
    }
    calTreeColumns(1, treeRoot[1], 1.1, codes.data(), stride, count, logL.data());
    for (int b = 0; b < count; b++) EXPECT_TRUE(sameBits(logL[b], expected[b])) << b << " " << logL[b];
}

// A cherry of two different residues on branches of length 0 under a branch of length 0:
// every way of scoring it (stored matrices, pij, the rate derivative, whose sum then has
// terms for these branches too) gives what branches of 1e-6 give, to the bit.
TEST_F(SiteLikelihood, BranchesShorterThan1e6ScoreAsBranchesOf1e6) {
    fiveLeafTree();
    setColumn(1, "RNDCW");
    auto scoresWithCherryAt = [](double length) {
        for (int c : {2, 3, 7}) gapTree[1][c].length = length;
        std::vector<double> scores;
        for (bool stored : {true, false}) {
            transitionCacheEnabled = stored;
            scores.push_back(calTree(1, 6, 1.3));
        }
        transitionCacheEnabled = true;
        int sign = 0;
        scores.push_back(calTree_alfa(1, 6, 1.3, &sign));
        scores.push_back(sign);
        return scores;
    };
    std::vector<double> floor = scoresWithCherryAt(1e-6);
    for (double v : floor) EXPECT_TRUE(std::isfinite(v));
    for (double length : {0.0, 1e-9}) {
        std::vector<double> raised = scoresWithCherryAt(length);
        for (std::size_t i = 0; i < floor.size(); i++)
            EXPECT_TRUE(sameBits(raised[i], floor[i])) << length << " score " << i << ": " << raised[i];
    }
}

class OptimizeAlpha : public SiteLikelihood {};

TEST_F(OptimizeAlpha, FindsTheMaximumOfAFineGrid) {
    std::mt19937 rng(2);
    makeAlignment(8, 40);
    randomTree(rng, 0.05, 0.5);
    for (const char* column : {"AAAARNAA", "ARNDCQEG", "AARRAARR"}) {
        copyTreeToSite(1);
        setColumn(1, column);
        double best = optimizeAlpha(1);
        double gridBest = 0, gridMax = -HUGE_VAL;
        for (int k = 0; k <= 4000; k++) {
            double rate = 1e-3 * std::pow(40.0 / 1e-3, k / 4000.0);
            double value = calTree(1, 9, rate);
            if (value > gridMax) gridMax = value, gridBest = rate;
        }
        EXPECT_GE(calTree(1, 9, best), gridMax - 1e-9) << column;
        EXPECT_NEAR(best, gridBest, 0.01 * gridBest) << column;
    }
}

TEST_F(OptimizeAlpha, FixedValuesForInvariantAndSparseSites) {
    makeAlignment(6, 12);
    std::mt19937 rng(4);
    randomTree(rng, 0.1, 0.3);
    for (int s = 1; s <= 3; s++) copyTreeToSite(s);
    gapForEst = 0.5; // at least 3 letters
    setColumn(1, "KK-KKK");
    setColumn(2, "AR----");
    setColumn(3, "ARNDCQ");
    for (int c = 1; c < DIM; c++) gapTree[3][c].length = 0.001;
    EXPECT_EQ(optimizeAlpha(1), 1e-8);
    EXPECT_EQ(optimizeAlpha(2), 1.0);
    // Six different letters on nearly zero-length branches: the likelihood still rises at the
    // last grid point, the alignment length.
    EXPECT_EQ(optimizeAlpha(3), 12.0);
}

} // namespace
