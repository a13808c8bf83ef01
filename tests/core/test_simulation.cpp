#include "simulation.h"

#include "alignment.h"
#include "branchlength.h"
#include "model.h"
#include "model_setup.h"
#include "numerics/matrixalgebra.h"
#include "numerics/ran1.h"
#include "rootprob.h"
#include "sitefixture.h"
#include "sitelikelihood.h"
#include "tree_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Alignment stores for n leaves and L sites, the model, an empty rooted copy and root
// probabilities rp at every site.
void makeWorld(int n, int L, const std::map<int, double>& rp) {
    sitefixture::makeAlignment(n, L);
    buildModel(wagFrequencies());
    copyTree = topmatrix(0, 1, 0, DIM - 1);
    RootProbMatrix = dmatrix(1, L, 1, 20);
    for (int s = 1; s <= L; s++)
        for (int j = 1; j <= 20; j++) RootProbMatrix[s][j] = rp.count(j) ? rp.at(j) : 0.0;
}

void link(int parent, int child, double length, bool left) {
    SiteTreeNode* c = copyTree[0];
    (left ? c[parent].left : c[parent].right) = child;
    c[child].parent = parent;
    c[child].length = length;
}

// Three leaves rooted as 0 -> (4 -> (1, 2), 3).
void rootedThree(double t1, double t2, double t3, double t4) {
    copyTree[0][0].isRoot = 1;
    link(0, 4, t4, true);
    link(0, 3, t3, false);
    link(4, 1, t1, true);
    link(4, 2, t2, false);
}

// Five leaves rooted as 0 -> (6 -> (7 -> (1, 2), 3), 8 -> (4, 5)); leaf i has length i/10.
void rootedFive() {
    copyTree[0][0].isRoot = 1;
    link(0, 6, 0.01, true);
    link(0, 8, 0.03, false);
    link(6, 7, 0.02, true);
    link(6, 3, 0.3, false);
    link(7, 1, 0.1, true);
    link(7, 2, 0.2, false);
    link(8, 4, 0.4, true);
    link(8, 5, 0.5, false);
}

// Chi-square bound at the 0.999 quantile (Wilson-Hilferty).
double chiSquareBound(int df) {
    double k = 2.0 / (9.0 * df);
    return df * std::pow(1 - k + 3.09 * std::sqrt(k), 3);
}

struct ChiSquare {
    double statistic = 0;
    int df = -1;
};

// Pearson's statistic of observed counts against expected probabilities over cells with an
// expected count of at least 5, the rest pooled into one cell.
ChiSquare chiSquare(const std::map<int, double>& p, const std::map<int, int>& seen, int draws) {
    ChiSquare r;
    double restExpected = draws;
    int restSeen = draws;
    for (const auto& [cell, prob] : p) {
        double e = prob * draws;
        if (e < 5) continue;
        int o = seen.count(cell) ? seen.at(cell) : 0;
        r.statistic += (o - e) * (o - e) / e;
        r.df++;
        restExpected -= e;
        restSeen -= o;
    }
    if (restExpected >= 5) {
        r.statistic += (restSeen - restExpected) * (restSeen - restExpected) / restExpected;
        r.df++;
    }
    return r;
}

int columnCell(int site) {
    return (node[1].code[site] * 21 + node[2].code[site]) * 21 + node[3].code[site];
}

// The exact probability of every leaf column of rootedThree at rate a: the sum over the root
// state r and the inner state s of R(r) P(r,s;t4) P(s,x;t1) P(s,y;t2) P(r,z;t3).
std::map<int, double> exactColumns(double t1, double t2, double t3, double t4, double a) {
    std::map<int, double> p;
    for (int x = 1; x <= 20; x++)
        for (int y = 1; y <= 20; y++)
            for (int z = 1; z <= 20; z++) {
                double sum = 0;
                for (int r = 1; r <= 20; r++) {
                    if (RootProbMatrix[1][r] == 0) continue;
                    double inner = 0;
                    for (int s = 1; s <= 20; s++)
                        inner += pij(r, s, t4, a) * pij(s, x, t1, a) * pij(s, y, t2, a);
                    sum += RootProbMatrix[1][r] * inner * pij(r, z, t3, a);
                }
                p[(x * 21 + y) * 21 + z] = sum;
            }
    return p;
}

void setColumn(int site, const std::string& letters) {
    sitefixture::setColumn(site, letters);
}

} // namespace

TEST(Simulation, SimulatedLeafColumnsFollowTheExactDistribution) {
    makeWorld(3, 1, {{1, 0.5}, {11, 0.3}, {8, 0.2}});
    rootedThree(0.15, 0.3, 0.2, 0.1);
    setColumn(1, "ALG");
    alfa[1] = 1.3;
    ASSERT_TRUE(prepareSimulationTree(1));
    const int draws = 40000;
    std::map<int, int> seen;
    idum = -2024;
    for (int k = 0; k < draws; k++) {
        drawRootState(1, &idum);
        seen[columnCell(1)]++;
    }
    ChiSquare right = chiSquare(exactColumns(0.15, 0.3, 0.2, 0.1, 1.3), seen, draws);
    ASSERT_GE(right.df, 20);
    EXPECT_LT(right.statistic, chiSquareBound(right.df));
    // The same counts against a tree with leaves 1 and 3 exchanged: the test can tell.
    ChiSquare wrong = chiSquare(exactColumns(0.2, 0.3, 0.15, 0.1, 1.3), seen, draws);
    EXPECT_GT(wrong.statistic, 2 * chiSquareBound(wrong.df));
}

TEST(Simulation, TheRootStateFollowsTheRootProbabilities) {
    makeWorld(3, 1, {{1, 1.0}});
    rootedThree(0.1, 0.1, 0.1, 0.1);
    setColumn(1, "AAA");
    prepareSimulationTree(1);
    idum = -5;
    for (int k = 0; k < 200; k++) {
        drawRootState(1, &idum);
        EXPECT_EQ(node[0].code[1], 1);
        EXPECT_EQ(node[0].seq[1], 'A');
    }
    // Probabilities summing to less than 1 leave the draw to the last residue.
    for (int j = 1; j <= 20; j++) RootProbMatrix[1][j] = 0.0;
    for (int k = 0; k < 50; k++) {
        drawRootState(1, &idum);
        EXPECT_EQ(node[0].code[1], 20);
    }
}

namespace {

// The WAG frequencies without the given residues, the rest scaled to sum 1 (index 0 unused).
std::array<double, 21> wagWithout(const std::vector<int>& absent) {
    std::array<double, 21> f{};
    double sum = 0.0;
    for (int j = 1; j <= 20; j++) f[j] = wagFrequencies()[j];
    for (int j : absent) f[j] = 0.0;
    for (int j = 1; j <= 20; j++) sum += f[j];
    for (int j = 1; j <= 20; j++) f[j] /= sum;
    return f;
}

std::map<int, double> asMap(const std::array<double, 21>& f) {
    std::map<int, double> m;
    for (int j = 1; j <= 20; j++)
        if (f[j] > 0) m[j] = f[j];
    return m;
}

} // namespace

TEST(Simulation, TheRootDrawKeepsToResiduesTheModelInUseCanHold) {
    const int A = 1, R = 2, L = 11, W = 18, Y = 19, V = 20;
    struct Case {
        const char* what;
        std::vector<int> absent; // from the alignment
        bool ownModel;           // a site's own model, of the WAG frequencies without ownAbsent
        std::vector<int> ownAbsent;
        std::map<int, double> row;
        std::map<int, double> expected;
    };
    const Case cases[] = {
        {"every residue held: the row as it is, its shortfall to the last residue",
         {},
         false,
         {},
         {{A, 0.5}, {L, 0.2}},
         {{A, 0.5}, {L, 0.2}, {V, 0.3}}},
        {"weight on a residue the alignment lacks: the rest scaled to sum 1",
         {W},
         false,
         {},
         {{A, 0.5}, {W, 0.25}, {L, 0.25}},
         {{A, 2.0 / 3}, {L, 1.0 / 3}}},
        {"a shortfall whose last residue the alignment lacks: the last residue it has",
         {V},
         false,
         {},
         {{A, 0.5}},
         {{A, 0.5}, {Y, 0.5}}},
        {"no weight left: the model's own frequencies",
         {W, Y},
         false,
         {},
         {{W, 0.6}, {Y, 0.4}},
         asMap(wagWithout({W, Y}))},
        {"a site's own model: a residue the alignment lacks stays out of its fallback",
         {W},
         true,
         {},
         {{W, 1.0}},
         asMap(wagWithout({W}))},
        {"a site's own model lacking a residue the alignment has",
         {},
         true,
         {A},
         {{A, 0.5}, {R, 0.5}},
         {{R, 1.0}}},
    };
    for (const Case& c : cases) {
        makeWorld(3, 1, c.row);
        buildModel(wagWithout(c.absent).data());
        if (c.ownModel) {
            std::array<double, 21> own = wagWithout(c.ownAbsent);
            cal_Q(own.data());
            cal_Eign();
        }
        // Leaf 3, alone on one side of the root, is a gap: only the root is drawn.
        rootedThree(0.1, 0.1, 0.1, 0.1);
        setColumn(1, "AA-");
        ASSERT_FALSE(prepareSimulationTree(1));
        const int draws = 20000;
        std::map<int, int> seen;
        long seed = -31;
        for (int k = 0; k < draws; k++) {
            drawRootState(1, &seed);
            seen[node[0].code[1]]++;
        }
        for (const auto& [state, count] : seen)
            EXPECT_TRUE(c.expected.count(state)) << c.what << ": " << state;
        ChiSquare fit = chiSquare(c.expected, seen, draws);
        if (fit.df > 0) {
            EXPECT_LT(fit.statistic, chiSquareBound(fit.df)) << c.what;
        }
    }
    // Where every residue is held, each draw is the plain subtraction of the row from the
    // uniform value, to the bit.
    makeWorld(3, 1, asMap(wagWithout({})));
    RootProbMatrix[1][A] += 1e-9; // a row that does not sum to exactly 1 is not scaled
    rootedThree(0.1, 0.1, 0.1, 0.1);
    setColumn(1, "AA-");
    prepareSimulationTree(1);
    for (long k = 1; k <= 2000; k++) {
        long seed = -k;
        double u = ran1(&seed);
        int expected = 20;
        for (int j = 1; j <= 19; j++) {
            u -= RootProbMatrix[1][j];
            if (u < 0) {
                expected = j;
                break;
            }
        }
        seed = -k;
        drawRootState(1, &seed);
        ASSERT_EQ(node[0].code[1], expected) << k;
    }
}

TEST(Simulation, AnInnerNodeWithoutStateStartsFromTheLastResidue) {
    // Record 0 without a drawn state: the descent starts from a usable state, never code 0.
    makeWorld(3, 1, {{1, 1.0}});
    rootedThree(0.1, 0.1, 0.1, 0.1);
    setColumn(1, "AAA");
    prepareSimulationTree(1);
    node[0].code[1] = 0;
    idum = -3;
    mutation(1, 0);
    for (int k = 1; k <= 4; k++) EXPECT_TRUE(node[k].code[1] >= 1 && node[k].code[1] <= 20) << k;
}

TEST(Simulation, PruningSplicesOutEmptiedNodesAndFlagsAWhollyGappedSide) {
    struct Case {
        std::string column;
        int left, right;
        bool rootFlagged;
        double leftLength, rightLength;
    };
    const Case cases[] = {
        {"ALLLL", 6, 8, false, 0.01, 0.03}, // nothing gapped
        {"-LLLL", 6, 8, false, 0.01, 0.03}, // 2 replaces 7 under 6
        {"--LLL", 3, 8, false, 0.31, 0.03}, // 7 emptied, 3 takes 6's place at the root
        {"LLL-L", 6, 5, false, 0.01, 0.53}, // 5 takes 8's place
        {"LLL--", 6, 8, true, 0.01, 0.03},  // the right side wholly gapped
        {"---LL", 6, 8, true, 0.01, 0.03},  // the left side wholly gapped
        {"LL-L-", 7, 4, false, 0.03, 0.43}, // both sides spliced
    };
    for (const Case& c : cases) {
        makeWorld(5, 1, {{1, 1.0}});
        rootedFive();
        setColumn(1, c.column);
        EXPECT_EQ(prepareSimulationTree(1), !c.rootFlagged) << c.column;
        const SiteTreeNode* t = gapTree[0];
        EXPECT_EQ(t[0].left, c.left) << c.column;
        EXPECT_EQ(t[0].right, c.right) << c.column;
        if (c.rootFlagged) continue;
        EXPECT_NEAR(t[c.left].length, c.leftLength, 1e-15) << c.column;
        EXPECT_NEAR(t[c.right].length, c.rightLength, 1e-15) << c.column;
        EXPECT_EQ(t[c.left].parent, 0);
        EXPECT_EQ(t[c.right].parent, 0);
    }
    // Under 6 leaf 2 replaces 7, with both lengths.
    makeWorld(5, 1, {{1, 1.0}});
    rootedFive();
    setColumn(1, "-LLLL");
    prepareSimulationTree(1);
    EXPECT_EQ(gapTree[0][6].left, 2);
    EXPECT_NEAR(gapTree[0][2].length, 0.22, 1e-15);
    EXPECT_TRUE(gapTree[0][7].gap);
    EXPECT_EQ(gapTree[0][7].left, -1);
}

TEST(Simulation, AFlaggedRootSimulatesNothing) {
    makeWorld(5, 1, {{1, 1.0}});
    rootedFive();
    setColumn(1, "WYV--");
    EXPECT_FALSE(prepareSimulationTree(1));
    drawRootState(1, &idum);
    EXPECT_EQ(node[1].seq[1], 'W');
    EXPECT_EQ(node[2].code[1], 19);
    EXPECT_EQ(node[3].code[1], 20);
}

TEST(Simulation, AtRateZeroEveryLeafTakesTheRootStateAndTheTargetIsMinusTheObservedEntropy) {
    makeWorld(5, 1, {{3, 0.4}, {9, 0.6}});
    rootedFive();
    setColumn(1, "AR-DA");
    alfa[1] = 0.7;
    double h0 = leafEntropy(1);
    EXPECT_NEAR(h0, -(0.5 * std::log(0.5) + 2 * 0.25 * std::log(0.25)), 1e-15);
    EXPECT_EQ(func_simulation_alpha(1, 0.0, 40), -h0);
    // The observed column and the rate are as they were.
    EXPECT_EQ(node[1].seq[1], 'A');
    EXPECT_EQ(node[2].code[1], 2);
    EXPECT_EQ(node[3].code[1], 0);
    EXPECT_EQ(alfa[1], 0.7);
    EXPECT_GT(func_simulation_alpha(1, 5.0, 40), -h0);
}

TEST(Simulation, TheExpectedEntropyTargetScalesWithN) {
    makeWorld(5, 1, {{3, 0.4}, {9, 0.6}});
    rootedFive();
    setColumn(1, "AR-DA");
    double h0 = leafEntropy(1);
    for (double x : {0.0, 0.5, 3.0}) {
        double one = func_simulation_vector(1, x, 1) + h0;
        double two = func_simulation_vector(1, x, 2) + h0;
        EXPECT_NEAR(two, one / 2, 1e-14) << x;
    }
    // At rate 0 every leaf has the root distribution.
    EXPECT_NEAR(func_simulation_vector(1, 0.0, 1) + h0, -(0.4 * std::log(0.4) + 0.6 * std::log(0.6)), 1e-12);
}

TEST(Simulation, AShuffledSingletonSpreadsUniformlyOverTheLettersAndNeverIntoAGap) {
    makeWorld(5, 1, {{1, 1.0}});
    setColumn(1, "WL-LL");
    const int shuffles = 4000;
    int at[6] = {};
    idum = -77;
    for (int k = 0; k < shuffles; k++) {
        shuffleColumn(1);
        int w = 0;
        for (int i = 1; i <= 5; i++) {
            EXPECT_EQ(node[i].seq[1], aa[node[i].code[1]]);
            if (node[i].seq[1] == 'W') w = i;
        }
        ASSERT_NE(w, 0);
        at[w]++;
        EXPECT_EQ(node[3].code[1], 0);
        setColumn(1, "WL-LL");
    }
    double chi = 0;
    for (int i : {1, 2, 4, 5}) chi += (at[i] - shuffles / 4.0) * (at[i] - shuffles / 4.0) / (shuffles / 4.0);
    EXPECT_EQ(at[3], 0);
    EXPECT_LT(chi, chiSquareBound(3));
    // A single letter among gaps has nowhere to go.
    setColumn(1, "--W--");
    shuffleColumn(1);
    EXPECT_EQ(node[3].seq[1], 'W');
}

TEST(Simulation, TheShuffleStatisticOfAnInvariantColumnIsZero) {
    std::mt19937 rng(3);
    makeWorld(6, 2, {{1, 1.0}});
    sitefixture::randomTree(rng, 0.05, 0.4);
    for (int s = 1; s <= 2; s++) sitefixture::copyTreeToSite(s);
    setColumn(1, "KKKKKK");
    EXPECT_NEAR(shuffleStatistic(1), 0.0, 1e-12);
    // A variable column: shuffles are less likely than the column itself on this tree, and
    // the column is put back afterwards.
    setColumn(2, "KKKRRW");
    double x = shuffleStatistic(2);
    EXPECT_LT(x, 1.0);
    EXPECT_NE(x, 0.0);
    EXPECT_EQ(node[6].seq[2], 'W');
    EXPECT_EQ(node[4].code[2], 2);
}

namespace {

// Leaves 1..n around the top node n + 1, with leaves 1 and 2 below inner node 6 when there are
// four; the lengths of records 1..2n-2 in order.
void unrootedSmallTree(const std::vector<double>& length) {
    int n = seqNum, top = n + 1;
    node[top].isRoot = 1;
    node[top].parent = top;
    node[top].left = n == 4 ? 6 : 1;
    node[top].right = n == 4 ? 3 : 2;
    node[top].third = n == 4 ? 4 : 3;
    for (int k = 1; k <= 2 * n - 2; k++)
        if (k != top) node[k].parent = top, node[k].length = length[k - 1];
    if (n == 4) {
        node[6].left = 1, node[6].right = 2;
        node[1].parent = node[2].parent = 6;
    }
    sitefixture::copyTreeToSite(1);
}

} // namespace

// 100·n transpositions mix a column of 3 or 4 leaves completely, so the mean log-likelihood
// of 100 shuffles estimates the mean over every distinct arrangement of the column's letters
// within a few standard errors (the spread over the arrangements, divided by 10).
TEST(Simulation, TheShuffleStatisticIsTheMeanOverTheArrangementsLessTheColumnOverThatMean) {
    struct Case {
        std::string column;
        std::vector<double> length;
    };
    const std::vector<Case> cases = {
        {"KKW", {0.05, 0.1, 1.0}},
        {"WWKK", {0.05, 0.1, 0.6, 0.8, 0.0, 0.3}},
        {"WWKC", {0.05, 0.1, 0.6, 0.8, 0.0, 0.3}},
    };
    for (const auto& [column, length] : cases) {
        SCOPED_TRACE(column);
        int n = static_cast<int>(column.size());
        makeWorld(n, 1, {{1, 1.0}});
        unrootedSmallTree(length);
        alfa[1] = 1.4;
        std::string arrangement = column;
        std::sort(arrangement.begin(), arrangement.end());
        std::vector<double> logL;
        do {
            setColumn(1, arrangement);
            logL.push_back(calTree(1, treeRoot[1], alfa[1]));
        } while (std::next_permutation(arrangement.begin(), arrangement.end()));
        double mean = 0, squares = 0;
        for (double v : logL) mean += v / logL.size();
        for (double v : logL) squares += (v - mean) * (v - mean) / logL.size();

        setColumn(1, column);
        double x = calTree(1, treeRoot[1], alfa[1]);
        double expected = (mean - x) / mean;
        // The statistic moves by x / mean^2 per unit of the estimated mean.
        double tolerance = 4 * std::fabs(x) / (mean * mean) * std::sqrt(squares) / 10;
        ASSERT_GT(std::fabs(expected), tolerance); // the sign of the statistic can be told
        for (long seed : {-3L, -400L}) {
            idum = seed;
            EXPECT_NEAR(shuffleStatistic(1), expected, tolerance) << "seed " << seed;
        }
        EXPECT_EQ(calTree(1, treeRoot[1], alfa[1]), x); // the column is put back
    }
}

// One shuffle makes 100·n transpositions, each two leaves drawn, the second again until it
// differs from the first: replaying the draws from the same seed lands on the same column and
// leaves the generator at the same place.
TEST(Simulation, AShuffleMakesOneHundredTranspositionsPerLeaf) {
    const std::string column = "WL-KLA";
    const int n = static_cast<int>(column.size());
    makeWorld(n, 1, {{1, 1.0}});
    setColumn(1, column);
    idum = -31;
    shuffleColumn(1);
    std::string shuffled;
    for (int i = 1; i <= n; i++) shuffled += node[i].seq[1];
    float next = ran1(&idum);

    idum = -31;
    auto leaf = [&] { return static_cast<int>(ran1(&idum) * n + 1); };
    std::string replay = column;
    for (int k = 0; k < 100 * n; k++) {
        int i = leaf(), j = leaf();
        while (j == i) j = leaf();
        if (replay[i - 1] != '-' && replay[j - 1] != '-') std::swap(replay[i - 1], replay[j - 1]);
    }
    EXPECT_EQ(shuffled, replay);
    EXPECT_EQ(ran1(&idum), next);
}

namespace {

// A random tree of the n leaves of makeWorld in copyTree[0], rooted at record 0 in the middle
// of the branch above the top node's third child.
void randomRootedTree(std::mt19937& rng) {
    sitefixture::randomTree(rng, 0.01, 0.8);
    int n = seqNum, top = n + 1, third = node[top].third;
    SiteTreeNode* t = copyTree[0];
    for (int k = 1; k <= 2 * n - 2; k++) {
        t[k].left = node[k].left;
        t[k].right = node[k].right;
        t[k].parent = node[k].parent;
        t[k].length = node[k].length;
    }
    t[0].isRoot = 1;
    t[0].left = top;
    t[0].right = third;
    t[top].third = 0;
    t[top].parent = t[third].parent = 0;
    t[top].length = t[third].length = node[third].length / 2;
}

// The descent as a plain recursion: for the left child, then the right one, the cumulative
// transition row from the record's state, one draw, the state it falls into, then the
// child's own subtree.
void recursiveDescent(int site, int k) {
    const SiteTreeNode* t = gapTree[0];
    if (t[k].gap || (k >= 1 && k <= seqNum)) return;
    auto usable = [](int state) { return state >= 1 && state <= 20 ? state : NONE_CAUGHT_STATE; };
    int from = usable(node[k].code[site]);
    for (int c : {t[k].left, t[k].right}) {
        double length = modelLength(t[c].length), cum[21];
        cum[1] = pij(from, 1, length, alfa[site]);
        for (int j = 2; j <= 20; j++) cum[j] = cum[j - 1] + pij(from, j, length, alfa[site]);
        double u = ran1(&idum);
        int state = u <= cum[1] ? 1 : 0;
        for (int j = 1; j <= 19 && state == 0; j++)
            if (cum[j] < u && u <= cum[j + 1] + 1e-10) state = j + 1;
        if (state == 0) state = usable(node[c].code[site]);
        node[c].code[site] = state;
        node[c].seq[site] = aa[state];
        recursiveDescent(site, c);
    }
}

void recursiveVectorDescent(int site, int k) {
    SiteTreeNode* t = gapTree[0];
    if (t[k].gap || (k >= 1 && k <= seqNum)) return;
    for (int c : {t[k].left, t[k].right}) {
        for (int j = 1; j <= 20; j++) {
            double sum = 0.0;
            for (int i = 1; i <= 20; i++)
                sum += pij(i, j, modelLength(t[c].length), alfa[site]) * t[k].vec[i];
            t[c].vec[j] = sum;
        }
        recursiveVectorDescent(site, c);
    }
}

struct Descent {
    std::vector<int> codes; // records 0..DIM-1
    std::string letters;
    long seed;
    float next; // the draw after the descent
    std::vector<double> vectors;
};

// The states and vectors that the descents leave from the same start: the codes as given, the
// root in state 9, idum at -41, and the root probabilities as the root's vector.
template <typename States, typename Vectors>
Descent descend(const std::vector<int>& start, States states, Vectors vectors) {
    Descent d;
    for (int k = 0; k < DIM; k++) {
        node[k].code[1] = start[k];
        node[k].seq[1] = aa[start[k]];
        for (int j = 1; j <= 20; j++) gapTree[0][k].vec[j] = -1.0;
    }
    node[0].code[1] = 9;
    idum = -41;
    states();
    for (int k = 0; k < DIM; k++) {
        d.codes.push_back(node[k].code[1]);
        d.letters += node[k].seq[1];
    }
    d.seed = idum;
    d.next = ran1(&idum);
    for (int j = 1; j <= 20; j++) gapTree[0][0].vec[j] = RootProbMatrix[1][j];
    vectors();
    for (int k = 0; k < DIM; k++)
        d.vectors.insert(d.vectors.end(), gapTree[0][k].vec + 1, gapTree[0][k].vec + 21);
    return d;
}

} // namespace

// The descents walk the tree in pre-order: the same draws land on the same records as in a
// plain recursion, bit for bit, and the generator ends at the same place.
TEST(Simulation, TheDescentsDrawAndMultiplyInTheOrderOfAPlainRecursion) {
    std::mt19937 rng(11);
    for (int n : {5, 17, 40}) {
        for (int round = 0; round < 3; round++) {
            makeWorld(n, 1, {{3, 0.4}, {9, 0.5}, {20, 0.1}});
            randomRootedTree(rng);
            std::string column = sitefixture::randomColumn(rng, n);
            for (int i = 0; i < n; i++)
                if (rng() % 4 == 0) column[i] = '-';
            setColumn(1, column);
            alfa[1] = 0.3 + round;
            SCOPED_TRACE(std::to_string(n) + " leaves, column " + column);
            if (!prepareSimulationTree(1)) continue;
            std::vector<int> start(DIM, 0);
            for (int i = 1; i <= n; i++) start[i] = node[i].code[1];
            Descent reference = descend(
                start, [] { recursiveDescent(1, 0); }, [] { recursiveVectorDescent(1, 0); });
            Descent iterative = descend(
                start, [] { mutation(1, 0); }, [] { mutation_vector(1, 0); });
            EXPECT_EQ(iterative.codes, reference.codes);
            EXPECT_EQ(iterative.letters, reference.letters);
            EXPECT_EQ(iterative.seed, reference.seed);
            EXPECT_EQ(iterative.next, reference.next);
            EXPECT_EQ(iterative.vectors, reference.vectors);
        }
    }
}

namespace {

// As the worker's own model of a gapped site under -P: the alignment (PI) lacks the residues
// C M W Y V, the rate matrix is built from frequencies that give every residue weight.
const std::vector<int> lackedResidues = {5, 13, 18, 19, 20};

void useOwnModelOverLackingAlignment() {
    buildModel(wagWithout(lackedResidues).data());
    std::array<double, 21> every = wagWithout({});
    cal_Q(every.data());
    cal_Eign();
}

} // namespace

// The rows of the own model lose the weight of the residues the alignment lacks, so that draws
// often fall beyond every bound; an inner record without a state then takes V, which the
// alignment lacks, and the leaves below it draw from V's row. A column whose leaves show only
// held residues is drawn as a plain recursion draws it, to the bit; a column where the plain
// recursion leaves a lacked residue at a leaf (likelihood 0) differs only at those leaves, which
// show held residues, and the generator ends at the same place.
TEST(Simulation, OnlyALeafThatWouldShowAResidueTheModelCanNotHoldIsDrawnAgain) {
    std::mt19937 rng(23);
    int heldColumns = 0, mendedColumns = 0;
    for (int n : {8, 20}) {
        makeWorld(n, 1, {{1, 1.0}});
        useOwnModelOverLackingAlignment();
        randomRootedTree(rng);
        std::string column;
        for (int i = 0; i < n; i++) column += "ARNDQEGHILKFPST-"[rng() % 16];
        setColumn(1, column);
        alfa[1] = 1.5;
        ASSERT_TRUE(prepareSimulationTree(1)) << column;
        for (long seed = 1; seed <= 300; seed++) {
            auto draw = [&](auto descent) {
                for (int k = seqNum + 1; k < DIM; k++) node[k].code[1] = 0; // the site's first column
                setColumn(1, column);
                node[0].code[1] = 1;
                idum = -seed;
                descent();
                Descent d;
                for (int k = 0; k < DIM; k++) d.codes.push_back(node[k].code[1]);
                d.seed = idum;
                d.next = ran1(&idum);
                return d;
            };
            Descent plain = draw([] { recursiveDescent(1, 0); });
            Descent mended = draw([] { mutation(1, 0); });
            SCOPED_TRACE(std::to_string(n) + " leaves, seed " + std::to_string(seed));
            EXPECT_EQ(mended.seed, plain.seed);
            EXPECT_EQ(mended.next, plain.next);
            bool held = true;
            for (int k = 0; k < DIM; k++) {
                bool leaf = k >= 1 && k <= n && !gapTree[0][k].gap;
                if (!leaf || modelHolds(plain.codes[k])) {
                    EXPECT_EQ(mended.codes[k], plain.codes[k]) << k;
                    continue;
                }
                held = false;
                EXPECT_TRUE(modelHolds(mended.codes[k])) << k << ": " << mended.codes[k];
            }
            (held ? heldColumns : mendedColumns)++;
        }
    }
    EXPECT_GT(heldColumns, 0);
    EXPECT_GT(mendedColumns, 0);
}

// A leaf whose draw from V's row gives V (which the alignment lacks) takes a draw from that
// row without V, scaled; a draw beyond every bound keeps the leaf's state, as before. So each
// held residue j shows with p(j) (1 + p(V) / held weight), and the leaf's own residue A also
// with the weight that no bound catches.
TEST(Simulation, ALeafDrawnAgainFollowsItsParentsRowAmongTheHeldResidues) {
    const int A = 1, V = 20;
    makeWorld(3, 1, {{A, 1.0}});
    useOwnModelOverLackingAlignment();
    copyTree[0][0].isRoot = 1;
    link(0, 1, 0.8, true);
    link(0, 2, 0.8, false);
    setColumn(1, "AAA");
    ASSERT_TRUE(prepareSimulationTree(1));
    double p[21], held = 0.0, caught = 0.0;
    for (int j = 1; j <= 20; j++) {
        p[j] = pij(V, j, 0.8, alfa[1]);
        caught += p[j];
        if (modelHolds(j)) held += p[j];
    }
    ASSERT_GT(p[V], 0.05);
    std::map<int, double> expected;
    for (int j = 1; j <= 20; j++)
        if (modelHolds(j)) expected[j] = p[j] * (1.0 + p[V] / held);
    expected[A] += 1.0 - caught;
    const int draws = 20000;
    std::map<int, int> seen;
    idum = -17;
    for (int k = 0; k < draws; k++) {
        node[0].code[1] = V;
        node[1].code[1] = A;
        mutation(1, 0);
        seen[node[1].code[1]]++;
    }
    for (const auto& [state, count] : seen) EXPECT_TRUE(expected.count(state)) << state;
    ChiSquare fit = chiSquare(expected, seen, draws);
    EXPECT_LT(fit.statistic, chiSquareBound(fit.df));
}

// Whatever the shape and the gaps, the pruned tree holds exactly the leaves with a letter, at
// the distances they have in the whole tree.
TEST(Simulation, PruningKeepsEveryLetteredLeafAtItsDistances) {
    std::mt19937 rng(5);
    for (int n : {4, 9, 30}) {
        for (int round = 0; round < 4; round++) {
            makeWorld(n, 1, {{1, 1.0}});
            randomRootedTree(rng);
            std::string column(n, 'A');
            for (int i = 0; i < n; i++)
                if (rng() % 3 == 0) column[i] = '-';
            setColumn(1, column);
            SCOPED_TRACE(std::to_string(n) + " leaves, column " + column);
            bool rooted = prepareSimulationTree(1);
            const SiteTreeNode* t = gapTree[0];
            if (!rooted) {
                EXPECT_TRUE(t[t[0].left].gap || t[t[0].right].gap);
                continue;
            }
            std::vector<int> reached;
            std::vector<int> pending = {0};
            while (!pending.empty()) {
                int k = pending.back();
                pending.pop_back();
                ASSERT_FALSE(t[k].gap) << k;
                if (k >= 1 && k <= n) {
                    reached.push_back(k);
                    continue;
                }
                for (int c : {t[k].left, t[k].right}) {
                    ASSERT_EQ(t[c].parent, k);
                    pending.push_back(c);
                }
            }
            std::vector<int> lettered;
            for (int i = 1; i <= n; i++)
                if (column[i - 1] != '-') lettered.push_back(i);
            std::sort(reached.begin(), reached.end());
            EXPECT_EQ(reached, lettered);
            for (int a : lettered)
                for (int b : lettered)
                    if (a < b) {
                        EXPECT_NEAR(testsupport::pathLength(t, a, b),
                                    testsupport::pathLength(copyTree[0], a, b), 1e-12)
                            << a << "-" << b;
                    }
        }
    }
}
