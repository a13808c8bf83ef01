#include "refine_setup.h"

#include "alignment.h"
#include "enumeration.h"
#include "model.h"
#include "numerics/ran1.h"
#include "refine.h"
#include "settings.h"
#include "simulation.h"
#include "sitelikelihood.h"
#include "treeopt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using refinesetup::loadSixSequences;
using refinesetup::resultOf;

namespace {

// Every assignment of states to the inner nodes of site s's tree (gapTree[s] from
// treeRoot[s]), each with its probability PI(root) times the transition probabilities of
// every branch at the rate.
struct Enumeration {
    std::vector<int> inner;               // inner records of the tree, the root first
    std::vector<std::vector<int>> states; // per assignment, the state of each record
    std::vector<long double> probability; // per assignment
};

Enumeration enumerate(int s, double rate) {
    SiteTreeNode* tree = gapTree[s];
    int root = treeRoot[s];
    std::vector<int> inner, branches;
    std::function<void(int)> visit = [&](int c) {
        if (c != root) branches.push_back(c);
        if (tree[c].left == 0 || tree[c].right == 0) return;
        inner.push_back(c);
        for (int child : {tree[c].left, tree[c].right, tree[c].third})
            if (child) visit(child);
    };
    visit(root);
    std::vector<int> parent(DIM);
    for (int c : inner)
        for (int child : {tree[c].left, tree[c].right, tree[c].third})
            if (child) parent[child] = c;
    Enumeration e{inner, {}, {}};
    std::vector<int> state(DIM, 0);
    for (int leaf = 1; leaf <= seqNum; leaf++) state[leaf] = node[leaf].code[s];
    forEachAssignment(inner, state, [&] {
        long double p = PI[state[root]];
        for (int c : branches) p *= pij(state[parent[c]], state[c], tree[c].length, rate);
        e.states.push_back(state);
        e.probability.push_back(p);
    });
    return e;
}

std::vector<long double> marginal(const Enumeration& e, int record) {
    std::vector<long double> p(21, 0.0L);
    long double total = 0.0L;
    for (size_t k = 0; k < e.states.size(); k++) {
        p[e.states[k][record]] += e.probability[k];
        total += e.probability[k];
    }
    for (long double& x : p) x /= total;
    return p;
}

int firstLargest(const std::vector<long double>& p) {
    int best = 1;
    for (int j = 2; j <= 20; j++)
        if (p[j] > p[best]) best = j;
    return best;
}

std::vector<SiteTreeNode> treeCopy(int s) {
    return std::vector<SiteTreeNode>(gapTree[s], gapTree[s] + DIM);
}

void expectSameShape(const std::vector<SiteTreeNode>& before, int s) {
    for (int i = 1; i < DIM; i++) {
        SCOPED_TRACE("record " + std::to_string(i));
        const SiteTreeNode &b = before[i], &a = gapTree[s][i];
        EXPECT_EQ(a.level, b.level);
        EXPECT_EQ(a.left, b.left);
        EXPECT_EQ(a.right, b.right);
        EXPECT_EQ(a.third, b.third);
        EXPECT_EQ(a.parent, b.parent);
        EXPECT_EQ(a.isRoot, b.isRoot);
        EXPECT_EQ(a.gap, b.gap);
        EXPECT_EQ(std::memcmp(&a.length, &b.length, sizeof a.length), 0);
    }
}

class TreeStates : public ::testing::Test {
  protected:
    void SetUp() override {
        loadSixSequences();
        D_A_P_Flag = 0;
    }
    void TearDown() override { D_A_P_Flag = 0; }
};

TEST_F(TreeStates, OptTreeFindsTheJointlyMostProbableStates) {
    for (int s : {2, 3, 4, 5}) {
        SCOPED_TRACE("site " + std::to_string(s));
        Enumeration e = enumerate(s, 1.3);
        size_t best = 0;
        for (size_t k = 1; k < e.probability.size(); k++)
            if (e.probability[k] > e.probability[best]) best = k;
        optTree(s, 1.3);
        for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
            bool inTree = std::find(e.inner.begin(), e.inner.end(), i) != e.inner.end();
            EXPECT_EQ(node[i].code[s], inTree ? e.states[best][i] : 0) << "record " << i;
        }
    }
}

TEST_F(TreeStates, OptTreeLeavesASiteOutOfComputationAlone) {
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) node[i].code[6] = 5;
    optTree(6, 1.0);
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) EXPECT_EQ(node[i].code[6], 5);
}

// Leaves of two residues the model treats as absent are never reached from any other state:
// every best value of their parent is exactly 0.
TEST_F(TreeStates, AllZeroBestValuesEndTheRescaling) {
    double savedA = PI[1], savedR = PI[2];
    PI[1] = PI[2] = 0.0;
    node[5].code[2] = 1, node[6].code[2] = 2;
    optTree(2, 1.0);
    PI[1] = savedA, PI[2] = savedR;
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        EXPECT_GE(node[i].code[2], 1);
        EXPECT_LE(node[i].code[2], 20);
    }
}

TEST_F(TreeStates, GoldsteinGivesEachInnerNodeItsMarginalStateAndLeavesTheSiteAsItWas) {
    for (int s : {2, 3, 4, 5}) {
        SCOPED_TRACE("site " + std::to_string(s));
        double before = calTree(s, treeRoot[s], 0.8);
        std::vector<SiteTreeNode> shape = treeCopy(s);
        Enumeration e = enumerate(s, 0.8);
        testing::internal::CaptureStdout();
        optTree_Goldstein(s, 0.8);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
            SCOPED_TRACE("record " + std::to_string(i));
            if (gapTree[s][i].gap) {
                EXPECT_EQ(node[i].code[s], 0);
                for (int j = 1; j <= 20; j++) EXPECT_EQ(nodeProb[i][s][j], 0.0);
                continue;
            }
            std::vector<long double> p = marginal(e, i);
            EXPECT_EQ(node[i].code[s], firstLargest(p));
            for (int j = 1; j <= 20; j++) {
                double expected = p[j] < 1e-8 ? 0.0 : static_cast<double>(p[j]);
                EXPECT_NEAR(nodeProb[i][s][j], expected, 1e-10 + 1e-9 * expected) << "residue " << j;
            }
        }
        expectSameShape(shape, s);
        double after = calTree(s, treeRoot[s], 0.8);
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << before << " " << after;
    }
}

TEST_F(TreeStates, GoldsteinUnderTheSiteModelPutsTheAlignmentModelBack) {
    refinesetup::blendSiteFrequencies();
    int s = 2;
    std::vector<double> savedPI(PI + 1, PI + 21), savedQ, savedWr(wr + 1, wr + 21);
    for (int i = 1; i <= 20; i++) savedQ.insert(savedQ.end(), Q_ij[i] + 1, Q_ij[i] + 21);
    double before = calTree(s, treeRoot[s], 1.0);

    double saved[21];
    useSiteFrequencies(s, saved);
    Enumeration e = enumerate(s, 1.0);
    restoreModel(saved);

    D_A_P_Flag = 4;
    optTree_Goldstein(s, 1.0);
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        std::vector<long double> p = marginal(e, i);
        EXPECT_EQ(node[i].code[s], firstLargest(p)) << "record " << i;
        for (int j = 1; j <= 20; j++) {
            double expected = p[j] < 1e-8 ? 0.0 : static_cast<double>(p[j]);
            EXPECT_NEAR(nodeProb[i][s][j], expected, 1e-10 + 1e-9 * expected) << i << " " << j;
        }
    }
    EXPECT_EQ(std::vector<double>(PI + 1, PI + 21), savedPI);
    EXPECT_EQ(std::vector<double>(wr + 1, wr + 21), savedWr);
    std::vector<double> Q;
    for (int i = 1; i <= 20; i++) Q.insert(Q.end(), Q_ij[i] + 1, Q_ij[i] + 21);
    EXPECT_EQ(Q, savedQ);
    double after = calTree(s, treeRoot[s], 1.0);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// ran1's seed update is the minimal standard generator: seed * 16807 mod 2^31 - 1.
long afterDraws(long seed, int draws) {
    for (int k = 0; k < draws; k++) seed = static_cast<long>(seed * 16807LL % 2147483647LL);
    return seed;
}

size_t countOf(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) n++;
    return n;
}

TEST_F(TreeStates, ANodeWithoutSecondBestStateWarnsAndDrawsOneNumber) {
    const std::string warning = "Warning: something wrong to find second best in optTree_Goldstein method\n";
    idum = -1;
    ran1(&idum); // the shuffle table stands; from here on each draw advances idum alone
    idum = 12345;

    // A variable column keeps a second best state at every node: no warning, no draw.
    testing::internal::CaptureStdout();
    optTree_Goldstein(3, 1.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(idum, 12345);

    // An invariant column at a vanishing rate leaves every other state below 1e-8.
    testing::internal::CaptureStdout();
    optTree_Goldstein(1, 1e-8);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countOf(printed, warning), 4u);
    EXPECT_EQ(printed.size(), 4 * warning.size());
    EXPECT_EQ(idum, afterDraws(12345, 4));
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) EXPECT_GT(nodeProb[i][1][1], 1 - 1e-7);
}

TEST_F(TreeStates, PrintTreeDrawsTheTreeSideways) {
    std::string drawing = resultOf([] { print_tree(seqNum + 1); });
    EXPECT_EQ(drawing, "          +---------1:(a)\n"
                       "+---------8\n"
                       "|         +---------2:(b)\n"
                       "7\n"
                       "+---------3:(c)\n"
                       "|         +---------4:(d)\n"
                       "+---------9\n"
                       "          |         +---------5:(e)\n"
                       "          +---------10\n"
                       "                    +---------6:(f)\n");
    EXPECT_EQ(resultOf([] { print_tree(10); }), "          |         +---------5:(e)\n"
                                                "          +---------10\n"
                                                "                    +---------6:(f)\n");
}

TEST_F(TreeStates, PrintTreeRefusesARecordOutsideTheTree) {
    for (int k : {0, 2 * seqNum - 1})
        EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), print_tree(k)), testing::ExitedWithCode(1),
                    "^There is something wrong in printing tree\n$");
}

} // namespace
