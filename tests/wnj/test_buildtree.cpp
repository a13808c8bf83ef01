#include "wnjtrees.h"

#include "wnj/build.h"
#include "wnj/calcb.h"
#include "wnj/calcq.h"
#include "wnj/calcz.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace wnjtest;

namespace {

// Leaf names "t0", "t1", ... as the builder's names table.
struct Names {
    std::vector<std::string> text;
    std::vector<char*> rows;
    explicit Names(int n) {
        for (int k = 0; k < n; k++) text.push_back("t" + std::to_string(k));
        for (auto& t : text) rows.push_back(&t[0]);
    }
};

wnj::RootNodeT* build(int n, double** D, int length = 1000) {
    static std::vector<Names> keep; // names outlive the trees that point at them
    keep.emplace_back(n);
    wnj::setParameters(length);
    return wnj::buildTree(n, D, keep.back().rows.data());
}

// A tree over leaves 0..n-1, each once, with n-3 inner nodes below the top and finite,
// non-negative lengths.
void expectValidTree(const wnj::RootNodeT* root, int n) {
    std::vector<int> seen(n, 0);
    int inner = 0;
    visit(root, [&](const wnj::_NodeT* node) {
        EXPECT_TRUE(std::isfinite(node->length));
        EXPECT_GE(node->length, 0.0);
        if (node->child1) {
            inner++;
            ASSERT_NE(node->child2, nullptr);
        } else {
            ASSERT_GE(node->index, 0);
            ASSERT_LT(node->index, n);
            seen[node->index]++;
        }
    });
    EXPECT_EQ(inner, n - 3);
    for (int k = 0; k < n; k++) EXPECT_EQ(seen[k], 1) << "leaf " << k;
}

void expectSameTree(const Splits& expected, const Splits& built, double tolerance) {
    ASSERT_EQ(expected.size(), built.size());
    for (auto& [split, length] : expected) {
        auto it = built.find(split);
        ASSERT_NE(it, built.end()) << "missing split " << split;
        EXPECT_NEAR(it->second, length, tolerance) << "split " << split;
    }
}

// Symmetric, zero diagonal, off-diagonal uniform in [0, top): mostly not a tree metric.
double** randomMatrix(int n, double top, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> value(0.0, top);
    double** D = wnj::matrix(n);
    for (int a = 0; a < n; a++)
        for (int b = 0; b < a; b++) D[a][b] = D[b][a] = value(rng);
    return D;
}

struct AdditiveCase {
    int n;
    Shape shape;
    double lo, hi;
};

std::string shapeName(Shape shape) {
    return shape == Shape::Random ? "random" : shape == Shape::Caterpillar ? "caterpillar" : "balanced";
}

} // namespace

TEST(BuildTree, AdditiveDistancesGiveBackTheTreeAndItsLengths) {
    std::vector<AdditiveCase> cases;
    for (int n : {4, 5, 6, 8, 12, 20, 33, 50})
        for (Shape shape : {Shape::Random, Shape::Caterpillar, Shape::Balanced}) {
            cases.push_back({n, shape, 0.001, 0.02});
            // Long branches: paths of up to about 50, well beyond the distances of real runs.
            double hi = std::fmin(2.0, 50.0 / n);
            cases.push_back({n, shape, hi / 2, hi});
        }
    unsigned seed = 1;
    for (const AdditiveCase& c : cases) {
        for (int repeat = 0; repeat < 3; repeat++, seed++) {
            SCOPED_TRACE(std::to_string(c.n) + " leaves, " + shapeName(c.shape) + ", branches " +
                         std::to_string(c.lo) + ".." + std::to_string(c.hi) + ", seed " +
                         std::to_string(seed));
            Tree t = randomTree(c.n, c.shape, c.lo, c.hi, seed);
            double** D = additiveDistances(t);
            wnj::RootNodeT* root = build(c.n, D);
            expectSameTree(splitsOf(t), splitsOf(root, c.n), 1e-9);
            wnj::deleteTree(root);
            wnj::freeMatrix(D);
        }
    }
}

TEST(BuildTree, SequencesEvolvedOnATreeGiveBackItsTopology) {
    for (unsigned seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(seed);
        Tree t = randomTree(10, Shape::Random, 0.08, 0.3, seed);
        const int length = 5000;
        double** D = evolvedDistances(t, length, seed);
        wnj::RootNodeT* root = build(10, D, length);
        expectSameTree(splitsOf(t), splitsOf(root, 10), 0.05);
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}

TEST(BuildTree, ThreeLeavesMakeTheTopDirectly) {
    struct Case {
        double d01, d02, d12, l0, l1, l2;
    };
    // The last two break the triangle inequality: the short side is 0 and the other two
    // take half the deficit each.
    const Case cases[] = {
        {3, 4, 5, 1, 2, 3}, {0, 0, 0, 0, 0, 0}, {1, 1, 4, 0, 1.5, 1.5}, {5, 1, 1, 1.75, 1.75, 0}};
    for (const Case& c : cases) {
        double** D = wnj::matrix(3);
        D[0][1] = D[1][0] = c.d01;
        D[0][2] = D[2][0] = c.d02;
        D[1][2] = D[2][1] = c.d12;
        wnj::RootNodeT* root = build(3, D);
        EXPECT_EQ(root->child2->index, 0);
        EXPECT_EQ(root->child1->index, 1);
        EXPECT_EQ(root->child0->index, 2);
        EXPECT_DOUBLE_EQ(root->child2->length, c.l0);
        EXPECT_DOUBLE_EQ(root->child1->length, c.l1);
        EXPECT_DOUBLE_EQ(root->child0->length, c.l2);
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}

TEST(BuildTree, DegenerateDistancesStillGiveAValidTree) {
    for (int n : {4, 6, 9}) {
        SCOPED_TRACE(n);
        double** D = wnj::matrix(n); // all zero
        wnj::RootNodeT* root = build(n, D);
        expectValidTree(root, n);
        visit(root, [](const wnj::_NodeT* node) { EXPECT_EQ(node->length, 0.0); });
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
    for (unsigned seed = 1; seed <= 40; seed++) {
        int n = 4 + seed % 9;
        SCOPED_TRACE("triangle-breaking, n " + std::to_string(n) + ", seed " + std::to_string(seed));
        double** D = randomMatrix(n, seed % 2 ? 2.0 : 10.0, seed);
        wnj::RootNodeT* root = build(n, D);
        expectValidTree(root, n);
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}

TEST(BuildTree, APairAtDistanceZeroIsJoinedWithZeroLengths) {
    Tree t = randomTree(7, Shape::Random, 0.05, 0.2, 5);
    double** D = additiveDistances(t);
    // Leaf 6 becomes a copy of leaf 3.
    for (int k = 0; k < 7; k++) D[6][k] = D[k][6] = D[3][k];
    D[6][6] = D[3][6] = D[6][3] = 0.0;
    wnj::RootNodeT* root = build(7, D);
    expectValidTree(root, 7);
    bool found = false;
    visit(root, [&](const wnj::_NodeT* node) {
        if (!node->child1 || node->child1->child1 || node->child2->child1) return;
        int a = node->child1->index, b = node->child2->index;
        if ((a == 3 && b == 6) || (a == 6 && b == 3)) {
            found = true;
            EXPECT_EQ(node->child1->length, 0.0);
            EXPECT_EQ(node->child2->length, 0.0);
        }
    });
    EXPECT_TRUE(found);
    wnj::deleteTree(root);
    wnj::freeMatrix(D);
}

namespace {

// The loop's own scratch and working state, driven step by step by a test.
struct Loop {
    int n;
    Names names;
    double** b;
    double *R, *P, *Z;
    std::vector<int> q, q2;
    Loop(int leaves, double** D, int length) : n(leaves), names(leaves), q(leaves), q2(leaves) {
        wnj::setParameters(length);
        b = wnj::matrix(n);
        R = wnj::vector(n);
        P = wnj::vector(n);
        Z = wnj::vector(n);
        wnj::createWorkingState(n, D, names.rows.data());
    }
    void score(int i) { wnj::calc_q(i, q.data(), R, b, q2.data(), P, Z); }
    void join(int i, int next) {
        int J = wnj::choosePair(i, q.data(), R);
        wnj::joinPair(i, next, J, q[J], b, Z);
    }
    ~Loop() {
        wnj::releaseWorkingState();
        wnj::freeMatrix(b);
        for (double* v : {R, P, Z}) wnj::freeVector(v);
    }
};

} // namespace

// The cached sums of every step, corrected in three terms, against a sum over every third
// node; matrices that break the triangle inequality make the split terms depend on the
// order of the pair.
TEST(BuildTree, CachedWeightSumsEqualFullSums) {
    for (unsigned seed = 1; seed <= 30; seed++) {
        const int n = 8 + seed % 5;
        SCOPED_TRACE("n " + std::to_string(n) + ", seed " + std::to_string(seed));
        double** D = randomMatrix(n, 2.0, 100 + seed);
        wnj::RootNodeT* root;
        {
            Loop loop(n, D, 300);
            int next = n;
            for (int i = n; i > 3; i--, next++) {
                loop.score(i);
                for (int a = 0; a < i; a++)
                    for (int c = 0; c < i; c++) {
                        if (a == c) continue;
                        double sum = 0, delta = 0;
                        for (int k = 0; k < i; k++) {
                            if (k == a || k == c) continue;
                            double w = 1.0 / (wnj::sigma2_3(a, k, c) + wnj::sigma2_3(c, k, a) + wnj::EPSILON);
                            sum += w;
                            delta += w * (wnj::slotD(a, k) - wnj::slotD(c, k));
                        }
                        ASSERT_NEAR(wnj::s[a][c], sum, 1e-9 * sum)
                            << "step " << n - i << ", slots " << a << ", " << c;
                        // Differences of distances below 2.
                        ASSERT_NEAR(wnj::deltaB[a][c], delta / sum, 1e-8);
                    }
                for (int k = 0; k < i; k++) ASSERT_TRUE(std::isfinite(loop.R[k]) && std::isfinite(loop.Z[k]));
                loop.join(i, next);
            }
            root = wnj::makeTop();
        }
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}

TEST(BuildTree, PairChoicePrefersMutualPartnersAndBreaksTiesAsTheLoopDoes) {
    struct Case {
        std::vector<int> q;
        std::vector<double> R;
        int J;
    };
    const Case cases[] = {
        {{1, 0, 3, 2}, {-1, -1, -1, -1}, 0},     // tie among mutual partners: the lower slot
        {{1, 0, 3, 2}, {5, 5, -2, 7}, 2},        // the smallest R among mutual partners
        {{1, 2, 3, 0}, {3, 3, 4, 5}, 1},         // no mutual pair: equal R in slots 0 and 1 give 1
        {{1, 2, 3, 0}, {4, 3, 2, 2}, 2},         // no mutual pair: the earliest of later equal values
        {{2, 0, 0, 1, 1}, {9, 0, -5, 8, -9}, 2}, // slot 4 is smallest but has no mutual partner
    };
    for (const Case& c : cases)
        EXPECT_EQ(wnj::choosePair(static_cast<int>(c.q.size()), c.q.data(), c.R.data()), c.J);
}

// The routines of the configurations the builder does not run agree with those it runs.
TEST(BuildTree, AlternativeScoresAgreeWithTheCriterion) {
    const int n = 8;
    Tree t = randomTree(n, Shape::Random, 0.05, 0.4, 77);
    double** D = additiveDistances(t);
    {
        Loop loop(n, D, 500);
        loop.score(n);
        for (int i = 0; i < n; i++) {
            EXPECT_DOUBLE_EQ(wnj::calcR2(n, i, loop.q[i], loop.q2[i], loop.b), loop.R[i]);
            EXPECT_DOUBLE_EQ(wnj::calcZ2(n, i, loop.q[i], loop.q2[i], loop.b), loop.Z[i]);
        }
        // For a cherry (a, c) every third leaf k has d_ak - d_ck = l_a - l_c, whatever the weights.
        std::vector<double> z1(n);
        wnj::calc_z1(n, z1.data(), loop.q.data());
        wnj::recalc_b(n, loop.b, wnj::deltaB, wnj::delta2B, wnj::s);
        int cherries = 0;
        for (int a = 0; a < n; a++) {
            int c = loop.q[a];
            if (t.adj[a][0].first != t.adj[c][0].first) continue;
            cherries++;
            EXPECT_NEAR(wnj::deltaB[a][c], t.adj[a][0].second - t.adj[c][0].second, 1e-12);
            EXPECT_NEAR(loop.b[a][c], t.adj[a][0].second, 1e-12);
            EXPECT_GT(z1[a], 0.0);
        }
        EXPECT_GT(cherries, 0);
        for (int k = 0; k < n; k++) std::free(wnj::nodes[k]);
    }
    wnj::freeMatrix(D);
}

// The partner search reuses the tournament's scores and the z-scores share the cross
// variances between PQ and its variance; every step must give, bit for bit, what the
// tournament over calcR and the two minima over PQ and sigma2PQ themselves give.
TEST(BuildTree, PartnersAndZScoresFollowTheTournamentAndTheQuartetMinima) {
    auto scaled = [](int i, int e, int j, int h) {
        double variance = (wnj::sigma2_3(i, e, h) + wnj::sigma2_3(i, e, j)) / 8.0 +
                          wnj::sigma2PQ(i, e, j, h) + wnj::EPSILON;
        return wnj::PQ(i, e, j, h) / std::sqrt(variance);
    };
    for (unsigned seed : {3u, 4u}) {
        const int n = 9;
        SCOPED_TRACE(seed);
        double** D = randomMatrix(n, 2.0, 200 + seed);
        wnj::RootNodeT* root;
        {
            Loop loop(n, D, 300);
            int next = n;
            for (int i = n; i > 3; i--, next++) {
                loop.score(i);
                for (int a = 0; a < i; a++) {
                    int jp = a == 0 ? 1 : 0, c = -1;
                    for (int j = 0; j < i; j++)
                        if (j != a && j != jp && wnj::calcR(i, a, j, jp) < 0) jp = j;
                    for (int j = 0; j < i; j++)
                        if (j != a && j != jp && (c < 0 || wnj::calcR(i, a, j, jp) < wnj::calcR(i, a, c, jp)))
                            c = j;
                    bool better = wnj::calcR(i, a, c, jp) < 0;
                    ASSERT_EQ(loop.q[a], better ? c : jp) << "step " << n - i << ", slot " << a;
                    ASSERT_EQ(loop.q2[a], better ? jp : c);
                    ASSERT_EQ(loop.P[a], -0.5 * wnj::calcR(i, a, loop.q[a], loop.q2[a]));

                    int e = loop.q[a], g = loop.q2[a], h = -1;
                    for (int j = 0; j < i; j++)
                        if (j != a && j != e && j != g && (h < 0 || scaled(a, e, g, j) < scaled(a, e, g, h)))
                            h = j;
                    double z = 0.0;
                    bool first = true;
                    for (int j = 0; j < i; j++) {
                        if (j == a || j == e || j == h) continue;
                        if (first || scaled(a, e, j, h) < z) z = scaled(a, e, j, h);
                        first = false;
                    }
                    ASSERT_EQ(loop.Z[a], z) << "step " << n - i << ", slot " << a;
                }
                loop.join(i, next);
            }
            root = wnj::makeTop();
        }
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}

namespace {

// A golden case of the builder: its distances and, from the reference beside the fixtures,
// every join in order (the new node, its two children and their lengths) and the top.
struct GoldenCase {
    int length = 0;
    std::vector<std::vector<double>> D;
    struct Join {
        int node, child1, child2;
        double length1, length2;
    };
    std::vector<Join> joins;
    int top[3] = {};
    double topLength[3] = {};
};

GoldenCase readCase(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    GoldenCase c;
    std::string line, word;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        if (!(fields >> word) || word[0] == '#') continue;
        if (word == "length") {
            fields >> c.length;
        } else if (word == "taxa") {
            int n = 0;
            fields >> n;
            c.D.assign(n, std::vector<double>(n));
            for (auto& row : c.D)
                for (double& x : row) in >> x;
        } else if (word == "join") {
            GoldenCase::Join j{};
            fields >> j.node >> j.child1 >> j.length1 >> j.child2 >> j.length2;
            c.joins.push_back(j);
        } else if (word == "top") {
            for (int k = 0; k < 3; k++) fields >> c.top[k] >> c.topLength[k];
        }
        EXPECT_FALSE(fields.fail()) << path << ": " << line;
    }
    return c;
}

} // namespace

// Noisy distances from a simulated alignment and random non-metric matrices: the joins, the
// topology and every branch length agree with a plain reference that takes every sum in full
// at every step (fixtures/wnj/reference.py). The cases are chosen so that every term of the
// pair criterion, of the z-scores, of the correction of a doubtful pair and of the length
// split changes the tree or a length; in negativeshare10 a corrected share comes out negative.
TEST(BuildTree, AgreesWithThePlainReferenceOnNoisyAndNonMetricDistances) {
    for (std::string name : {"alignment10", "nonmetric12", "nonmetric10", "negativeshare10"}) {
        SCOPED_TRACE(name);
        GoldenCase c = readCase(std::string(FIXTURES_DIR) + "/wnj/" + name + ".case");
        const int n = static_cast<int>(c.D.size());
        ASSERT_EQ(static_cast<int>(c.joins.size()), n - 3);
        double** D = wnj::matrix(n);
        for (int a = 0; a < n; a++)
            for (int b = 0; b < n; b++) D[a][b] = c.D[a][b];
        wnj::RootNodeT* root = build(n, D, c.length);

        // The node of index n + k is made by the k-th join.
        std::map<int, const wnj::_NodeT*> joined;
        visit(root, [&](const wnj::_NodeT* node) {
            if (node->child1) joined[node->index] = node;
        });
        for (const GoldenCase::Join& expected : c.joins) {
            SCOPED_TRACE("join making node " + std::to_string(expected.node));
            ASSERT_EQ(joined.count(expected.node), 1u);
            const wnj::_NodeT* node = joined[expected.node];
            EXPECT_EQ(node->child1->index, expected.child1);
            EXPECT_EQ(node->child2->index, expected.child2);
            EXPECT_NEAR(node->child1->length, expected.length1, 1e-9);
            EXPECT_NEAR(node->child2->length, expected.length2, 1e-9);
        }
        const wnj::_NodeT* top[3] = {root->child2, root->child1, root->child0};
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(top[k]->index, c.top[k]) << "top slot " << k;
            EXPECT_NEAR(top[k]->length, c.topLength[k], 1e-9) << "top slot " << k;
        }
        wnj::deleteTree(root);
        wnj::freeMatrix(D);
    }
}
