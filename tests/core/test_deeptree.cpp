// A tree as deep as it has leaves: a caterpillar of 40,000 leaves read from its file, then
// given its per-site trees and branch table, re-rooted at its deepest inner node and scored,
// and rooted.
#include "model_setup.h"
#include "tree_setup.h"

#include "alignment.h"
#include "alignmentfile.h"
#include "rooting.h"
#include "sitelikelihood.h"
#include "sitetree.h"

#include <gtest/gtest.h>

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
    assignTree();
    branchNo = 0;
    assignBranch(top);
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
    changeRoot(0, deepest, deepest, deepest);
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
    assignTree();
    branchNo = 0;
    assignBranch(n + 1);
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

} // namespace
