#include "tree_setup.h"

#include "alignment.h"
#include "rooting.h"
#include "settings.h"
#include "sitetree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using testsupport::ExpectedRecord;
using testsupport::expectRecords;
using testsupport::loadSequences;
using testsupport::readTreeText;

namespace {

struct Rooting {
    std::string printed; // standard output of findMidpoint
    std::string result;  // what it wrote into the result file
};

// The start-up from the tree on: per-site trees, branch table, rooting. Every length is
// multiplied by stretch once read, for trees longer than a tree file may hold (a built tree
// can be).
Rooting rootTree(int sequences, const std::string& tree, double stretch = 1.0) {
    std::vector<std::pair<std::string, std::string>> alignment;
    for (int i = 0; i < sequences; i++)
        alignment.push_back({std::string(1, static_cast<char>('a' + i)), "A"});
    loadSequences(alignment);
    readTreeText(tree);
    for (int k = 1; k <= 2 * seqNum - 2; k++) node[k].length *= stretch;
    testsupport::assignTreesAndBranches();
    resultFile = std::tmpfile();
    testing::internal::CaptureStdout();
    findMidpoint();
    Rooting r{testing::internal::GetCapturedStdout(), resultText()};
    std::fclose(resultFile);
    resultFile = stdout;
    return r;
}

// Tree 0 and its copy hold the rooted tree (the rooting leaves the depths as they were).
void expectRootedTree(const std::vector<ExpectedRecord>& expected) {
    expectRecords(gapTree[0], expected, "tree 0");
    expectRecords(copyTree[0], expected, "copy");
}

const char* leafCounts = "\t LeftLeaf number:   2 RightLeaf number:   1 difference:    1\n";

TEST(Rooting, TheSmallerVarianceWinsAmongEqualSplits) {
    Rooting r = rootTree(3, "(a:1,b:2,c:3);");
    // a's branch has its point outside (x = -0.75) and is not shown.
    EXPECT_EQ(r.printed, "finish find all LPoint and RPoint\n"
                         "branch:  2 x value:  0.000000 variance:  2.000000" +
                             std::string(leafCounts) + "branch:  3 x value:  0.750000 variance:  0.500000" +
                             leafCounts);
    EXPECT_EQ(r.result, "best point: branch No:  3 distance from left point:  0.750000\n"
                        "left point: 4:  right point: 3: c\n");
    expectRootedTree({{0, 4, 3, 0, 0, -1, 1, 0, 0.0},
                      {4, 1, 2, 0, 0, -1, 0, 0, 0.75},
                      {3, 0, 0, 0, 0, -1, 0, 0, 2.25},
                      {1, 0, 0, 0, 4, -1, 0, 0, 1.0},
                      {2, 0, 0, 0, 4, -1, 0, 0, 2.0}});
}

TEST(Rooting, ExactTiesKeepTheLowerBranchNumber) {
    Rooting r = rootTree(3, "(a:1,b:1,c:1);");
    std::string expected = "finish find all LPoint and RPoint\n";
    for (int b = 1; b <= 3; b++)
        expected += "branch:  " + std::to_string(b) + " x value:  0.000000 variance:  0.000000" + leafCounts;
    EXPECT_EQ(r.printed, expected);
    EXPECT_EQ(r.result, "best point: branch No:  1 distance from left point:  0.000000\n"
                        "left point: 4:  right point: 1: a\n");
    // a was the top's left child: the top's third child takes its slot.
    expectRootedTree(
        {{0, 4, 1, 0, 0, -1, 1, 0, 0.0}, {4, 3, 2, 0, 0, -1, 0, 0, 0.0}, {1, 0, 0, 0, 0, -1, 0, 0, 1.0}});
}

TEST(Rooting, OnlyBranchesHoldingTheirPointAreCandidates) {
    // d far out: branch 1 (top 5 to 6) splits evenly, but only d's branch (5) holds its
    // point, 5/3 from the top.
    Rooting r = rootTree(4, "((a:1,b:1):1,c:1,d:5);");
    const int right[] = {0, 2, 1, 1, 1, 1};
    for (int b = 1; b <= 5; b++) {
        EXPECT_EQ(branch[b].rightLeafNumber, right[b]) << "branch " << b;
        EXPECT_EQ(branch[b].leftLeafNumber, 4 - right[b]) << "branch " << b;
    }
    EXPECT_EQ(r.printed, "finish find all LPoint and RPoint\n"
                         "branch:  5 x value:  1.666667 variance:  0.666667\t LeftLeaf number:   3 RightLeaf "
                         "number:   1 difference:    2\n");
    EXPECT_EQ(r.result, "best point: branch No:  5 distance from left point:  1.666667\n"
                        "left point: 5:  right point: 4: d\n");
    // d was the top's third child: only the third slot is cleared.
    expectRootedTree({{0, 5, 4, 0, 0, -1, 1, 0, 0.0},
                      {5, 6, 3, 0, 0, -1, 0, 0, 5.0 / 3},
                      {4, 0, 0, 0, 0, -1, 0, 0, 5 - 5.0 / 3}});
}

TEST(Rooting, WithoutACandidateEveryBranchCompetesWithItsPointClampedIntoIt) {
    // The same tree a thousand times longer: d's branch still holds its point, but with a
    // variance above the candidate limit; the even split of branch 1 wins with its point
    // (-500) moved to the branch's upper end.
    Rooting r = rootTree(4, "((a:1,b:1):1,c:1,d:5);", 1000);
    EXPECT_EQ(r.printed,
              "finish find all LPoint and RPoint\n"
              "branch:  5 x value:1666.666667 variance:666666.666667\t LeftLeaf number:   3 RightLeaf "
              "number:   1 difference:    2\n");
    EXPECT_EQ(r.result, "best point: branch No:  1 distance from left point:  0.000000\n"
                        "left point: 5:  right point: 6: \n");
    expectRootedTree(
        {{0, 5, 6, 0, 0, -1, 1, 0, 0.0}, {5, 4, 3, 0, 0, -1, 0, 0, 0.0}, {6, 1, 2, 0, 0, -1, 0, 0, 1000.0}});
}

// Below record 0 every inner record has two children, and the path between two leaves is as
// long as in the unrooted tree.
TEST(Rooting, TheRootedTreeKeepsEveryLeafAndEveryDistance) {
    rootTree(8, "(((a:0.1,b:0.2):0.3,(c:0.15,(d:0.05,e:0.25):0.12):0.08):0.2,f:0.4,(g:0.33,h:0.07):0.11);");
    const SiteTreeNode* t = gapTree[0];
    int chosen = 0;
    for (int b = 1; b <= branchNo; b++)
        if (branch[b].leftPoint == t[0].left && branch[b].rightPoint == t[0].right) chosen = b;
    ASSERT_NE(chosen, 0);
    EXPECT_DOUBLE_EQ(t[t[0].left].length + t[t[0].right].length, branch[chosen].length);
    std::vector<int> pending = {0}, leaves;
    while (!pending.empty()) {
        int k = pending.back();
        pending.pop_back();
        EXPECT_EQ(t[k].third, 0) << "record " << k;
        if (t[k].left == 0 && t[k].right == 0) {
            leaves.push_back(k);
            continue;
        }
        for (int child : {t[k].left, t[k].right}) {
            ASSERT_NE(child, 0) << "record " << k;
            EXPECT_EQ(t[child].parent, k);
            pending.push_back(child);
        }
    }
    std::sort(leaves.begin(), leaves.end());
    EXPECT_EQ(leaves, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    for (int a = 1; a <= 8; a++)
        for (int b = a + 1; b <= 8; b++)
            EXPECT_NEAR(testsupport::pathLength(t, a, b), testsupport::pathLength(node, a, b), 1e-12)
                << "leaves " << a << " and " << b;
}

TEST(ChangeRoot, TurnsThePathToTheNewRootAroundAndKeepsEveryLength) {
    loadSequences({{"a", "A"}, {"b", "A"}, {"c", "A"}, {"d", "A"}, {"e", "A"}, {"f", "A"}});
    readTreeText("(((a:1,b:2):3,c:4):5,d:6,(e:7,f:8):9);");
    assignTree();
    changeRoot(0, 9);
    const SiteTreeNode* t = gapTree[0];
    expectRecords(t, {{9, 1, 2, 8, 9, -1, 1, 0, 0.0},
                      {8, 7, 3, 0, 9, -1, 0, 0, 3.0},
                      {7, 10, 4, 0, 8, -1, 0, 0, 5.0},
                      {10, 5, 6, 0, 7, -1, 0, 0, 9.0},
                      {1, 0, 0, 0, 9, -1, 0, 0, 1.0},
                      {4, 0, 0, 0, 7, -1, 0, 0, 6.0}});
    changeRoot(0, 9); // already the root: nothing changes
    EXPECT_EQ(t[9].third, 8);
    EXPECT_EQ(t[8].parent, 9);
}

} // namespace
