// A tree as deep as it has leaves: a caterpillar of 40,000 leaves read from its file, then
// given its per-site trees and branch table, re-rooted at its deepest inner node, scored and
// rooted; and a rooted caterpillar pruned and simulated down on a small stack.
#include "model_setup.h"
#include "tree_setup.h"

#include "alignment.h"
#include "alignmentfile.h"
#include "numerics/matrixalgebra.h"
#include "numerics/ran1.h"
#include "rooting.h"
#include "rootprob.h"
#include "simulation.h"
#include "sitefixture.h"
#include "sitelikelihood.h"
#include "sitetree.h"
#include "smallstack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using testsupport::loadSequences;
using testsupport::pathLength;
using testsupport::readTreeText;

namespace {

constexpr int LEAVES = 40000;

std::string leafName(int i) {
    return "s" + std::to_string(i);
}

// (((s1:0.1,s2:0.1):0.1,s3:0.1):0.1, ... s(n-2):0.1):0.1,s(n-1):0.1,sn:0.1); the inner nodes
// are numbered from the outside in, so (s1,s2) is the last, 2n-2, at depth n-3.
std::string caterpillar(int n) {
    std::string text(n - 2, '(');
    text += "s1:0.1,s2:0.1)";
    for (int i = 3; i <= n - 2; i++) text += ":0.1," + leafName(i) + ":0.1)";
    return text + ":0.1," + leafName(n - 1) + ":0.1," + leafName(n) + ":0.1);\n";
}

// Site 1 alternates two residues down the tree; site 2 has a gap at s1.
void readCaterpillar() {
    std::vector<std::pair<std::string, std::string>> sequences;
    for (int i = 1; i <= LEAVES; i++)
        sequences.push_back({leafName(i), std::string(i % 2 ? "A" : "R") + (i == 1 ? "-" : "A")});
    loadSequences(sequences);
    readTreeText(caterpillar(LEAVES));
}

TEST(DeepTree, ACaterpillarOf40000LeavesIsRead) {
    readCaterpillar();
    const int n = LEAVES, top = n + 1, deepest = 2 * n - 2;
    EXPECT_EQ(node[top].left, top + 1);
    EXPECT_EQ(node[top].right, n - 1);
    EXPECT_EQ(node[top].third, n);
    EXPECT_EQ(node[deepest].left, 1);
    EXPECT_EQ(node[deepest].right, 2);
    EXPECT_EQ(node[deepest].parent, deepest - 1);
    EXPECT_EQ(node[3].parent, deepest - 1);
    EXPECT_EQ(node[deepest].level, n - 3);
    EXPECT_EQ(node[1].level, n - 2);
    EXPECT_EQ(node[n].level, 1);
    EXPECT_EQ(node[1].length, static_cast<double>(0.1f));
}

TEST(DeepTree, ACaterpillarOf40000LeavesIsPreparedAndScored) {
    readCaterpillar();
    const int n = LEAVES, top = n + 1, deepest = 2 * n - 2;
    testsupport::assignTreesAndBranches();
    ASSERT_EQ(branchNo, 2 * n - 3);
    EXPECT_EQ(branch[1].leftPoint, top);
    EXPECT_EQ(branch[1].rightPoint, top + 1);
    EXPECT_EQ(branch[2 * n - 3].rightPoint, n);

    // Site 2 loses s1: s2 hangs from the node above the cherry with both lengths.
    EXPECT_EQ(treeRoot[2], top);
    EXPECT_EQ(gapTree[2][2].parent, deepest - 1);
    EXPECT_FLOAT_EQ(gapTree[2][2].length, 0.2f);
    EXPECT_EQ(gapTree[2][2].level, n - 3);

    buildModel(wagFrequencies());
    for (int s = 1; s <= 2; s++) {
        double logL = calTree(s, treeRoot[s], 1.0);
        EXPECT_TRUE(std::isfinite(logL) && logL < 0) << "site " << s << ": " << logL;
    }

    // The whole path from the deepest inner node up to the top is turned around.
    double across = pathLength(gapTree[0], 1, n);
    changeRoot(0, deepest);
    EXPECT_EQ(gapTree[0][deepest].isRoot, 1);
    EXPECT_EQ(gapTree[0][deepest].third, deepest - 1);
    EXPECT_EQ(gapTree[0][top].isRoot, 0);
    EXPECT_EQ(gapTree[0][top].parent, top + 1);
    EXPECT_DOUBLE_EQ(pathLength(gapTree[0], 1, n), across);
}

// The variances are far above the candidate limit, so every point is moved into its branch;
// the one even split, 20,000 leaves on either side, holds its point halfway along it.
TEST(DeepTree, ACaterpillarOf40000LeavesIsRooted) {
    readCaterpillar();
    const int n = LEAVES, chosen = n / 2 - 1;
    testsupport::assignTreesAndBranches();
    resultFile = std::tmpfile();
    testing::internal::CaptureStdout();
    findMidpoint();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "finish find all LPoint and RPoint\n");
    const int upper = branch[chosen].leftPoint, lower = branch[chosen].rightPoint;
    EXPECT_EQ(branch[chosen].rightLeafNumber, n / 2);
    EXPECT_EQ(resultText(), "best point: branch No:" + std::to_string(chosen) +
                                " distance from left point:  0.050000\nleft point: " + std::to_string(upper) +
                                ":  right point: " + std::to_string(lower) + ": \n");
    std::fclose(resultFile);
    resultFile = stdout;
    const SiteTreeNode* t = copyTree[0];
    EXPECT_EQ(t[0].left, upper);
    EXPECT_EQ(t[0].right, lower);
    EXPECT_EQ(t[upper].parent, 0);
    EXPECT_EQ(t[lower].parent, 0);
    EXPECT_DOUBLE_EQ(t[upper].length + t[lower].length, branch[chosen].length);
}

// ---- the simulation down a rooted caterpillar ---------------------------------------------

// Deep enough that a recursion over it overflows the small stack many times over.
constexpr int ROOTED_LEAVES = 12000;

void hang(SiteTreeNode* t, int parent, int child, bool onLeft) {
    (onLeft ? t[parent].left : t[parent].right) = child;
    t[child].parent = parent;
    t[child].length = 0.1;
}

// copyTree[0] as a caterpillar of n leaves rooted at record 0: record 0 holds inner record
// n+1 and leaf n, record n+k holds n+k+1 and leaf n-k, and the last, 2n-2, holds leaves 1 and
// 2. The inner records take the left and the right side by turns, so that each walk goes
// down both ways.
void rootedCaterpillar(int n) {
    SiteTreeNode* t = copyTree[0];
    t[0].isRoot = 1;
    for (int k = 0; k <= n - 3; k++) {
        int inner = k == 0 ? 0 : n + k;
        hang(t, inner, n + k + 1, k % 2 == 0);
        hang(t, inner, n - k, k % 2 != 0);
    }
    hang(t, 2 * n - 2, 1, true);
    hang(t, 2 * n - 2, 2, false);
}

// At rate 0 every leaf takes the root state; one draw per branch of the pruned tree.
TEST(DeepTree, ARootedCaterpillarIsPrunedAndSimulatedDownOnASmallStack) {
    const int n = ROOTED_LEAVES, middle = n / 2;
    sitefixture::makeAlignment(n, 1);
    buildModel(wagFrequencies());
    copyTree = topmatrix(0, 1, 0, DIM - 1);
    rootedCaterpillar(n);
    RootProbMatrix = dmatrix(1, 1, 1, 20);
    for (int j = 1; j <= 20; j++) RootProbMatrix[1][j] = j == 3 ? 0.4 : j == 9 ? 0.6 : 0.0;
    // Leaf 1 of the deepest pair and the leaf beside record n + middle are gaps.
    std::string column(n, 'W');
    column[0] = column[n - middle - 1] = '-';
    sitefixture::setColumn(1, column);
    alfa[1] = 0.0;

    const int branches = 2 * (n - 2) - 2;
    idum = -99;
    for (int b = 0; b < branches; b++) ran1(&idum);
    const long seedAfter = idum;
    const float drawAfter = ran1(&idum);

    testsupport::runOnSmallStack([&] {
        ASSERT_TRUE(prepareSimulationTree(1));
        const SiteTreeNode* t = gapTree[0];
        EXPECT_TRUE(t[2 * n - 2].gap);
        EXPECT_EQ(t[2].parent, 2 * n - 3);
        EXPECT_DOUBLE_EQ(t[2].length, 0.2);
        EXPECT_TRUE(t[n + middle].gap);
        EXPECT_EQ(t[n + middle + 1].parent, n + middle - 1);
        const SiteTreeNode& above = t[n + middle - 1];
        EXPECT_EQ((middle - 1) % 2 == 0 ? above.left : above.right, n + middle + 1);
        EXPECT_DOUBLE_EQ(t[n + middle + 1].length, 0.2);

        idum = -99;
        long rootSeed = -5;
        drawRootState(1, &rootSeed);
        EXPECT_EQ(idum, seedAfter);
        EXPECT_EQ(ran1(&idum), drawAfter);
        int root = node[0].code[1], unlike = 0;
        for (int i = 1; i <= n; i++) unlike += node[i].code[1] != (column[i - 1] == '-' ? 0 : root);
        EXPECT_EQ(unlike, 0);

        // The expected leaf distribution is the root's own; the column has one letter.
        EXPECT_NEAR(func_simulation_vector(1, 0.0, 1), -(0.4 * std::log(0.4) + 0.6 * std::log(0.6)), 1e-9);
        double farthest = 0.0;
        for (int i = 1; i <= n; i++)
            if (!t[i].gap)
                for (int j = 1; j <= 20; j++)
                    farthest = std::max(farthest, std::fabs(t[i].vec[j] - RootProbMatrix[1][j]));
        EXPECT_LT(farthest, 1e-9);
    });
}

} // namespace
