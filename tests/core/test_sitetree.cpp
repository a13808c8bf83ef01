#include "tree_setup.h"

#include "alignment.h"
#include "sitetree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using testsupport::loadSequences;
using testsupport::readTreeText;

namespace {

void expectRecords(int s, const std::vector<testsupport::ExpectedRecord>& expected) {
    testsupport::expectRecords(gapTree[s], expected, "tree " + std::to_string(s));
}

// (((a,b),c),d,(e,f)): top 7, 8 = ((a,b),c), 9 = (a,b), 10 = (e,f). The columns: no gap;
// a; a and b; e and f; four gaps (left out); a, b and d.
void setUpSixLeafSites() {
    loadSequences({{"a", "A--A--"},
                   {"b", "AA-A--"},
                   {"c", "AAAA-A"},
                   {"d", "AAAA--"},
                   {"e", "AAA-AA"},
                   {"f", "AAA-AA"}});
    readTreeText("(((a:1,b:2):3,c:4):5,d:6,(e:7,f:8):9);");
    assignTree();
}

TEST(SiteTrees, ASiteWithoutGapsAndTreeZeroKeepTheUnrootedTree) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[1], 7);
    for (int s : {0, 1})
        for (int k = 1; k <= 10; k++) {
            SCOPED_TRACE("tree " + std::to_string(s) + ", record " + std::to_string(k));
            const SiteTreeNode& r = gapTree[s][k];
            EXPECT_EQ(r.left, node[k].left);
            EXPECT_EQ(r.right, node[k].right);
            EXPECT_EQ(r.third, node[k].third);
            EXPECT_EQ(r.parent, node[k].parent);
            EXPECT_EQ(r.level, node[k].level);
            EXPECT_EQ(r.isRoot, node[k].isRoot);
            EXPECT_EQ(r.length, node[k].length);
            EXPECT_EQ(r.gap, 0);
        }
}

// Each gapped site of the six leaves: its root and the records of its tree that the pruning
// changes, or, for a site left out, every record flagged.
TEST(SiteTrees, EachGapPatternPrunesItsTreeAsExpected) {
    struct Case {
        int site, root;
        const char* what;
        std::vector<testsupport::ExpectedRecord> records;
    };
    const Case cases[] = {
        {2,
         7,
         "a gapped leaf takes its parent out and the sibling takes its length",
         {{1, 0, 0, 0, 9, 3, 0, 1, 1.0},
          {2, 0, 0, 0, 8, 2, 0, 0, 2.0 + 3.0},
          {8, 2, 3, 0, 7, 1, 0, 0, 5.0},
          {9, 0, 0, 0, 8, 2, 0, 1, 3.0},
          {7, 8, 4, 10, 7, 0, 1, 0, 0.0}}},
        {3,
         7,
         "a gapped cherry takes the node above it out in the next pass",
         {{9, 0, 0, 0, 8, 2, 0, 1, 3.0},
          {8, 0, 0, 0, 7, 1, 0, 1, 5.0},
          {3, 0, 0, 0, 7, 1, 0, 0, 4.0 + 5.0},
          {7, 3, 4, 10, 7, 0, 1, 0, 0.0}}},
        {4,
         8,
         "an emptied child of the top leaves the first inner survivor as root",
         {{7, 8, 4, 10, 7, 0, 0, 1, 0.0},
          {10, 0, 0, 0, 7, 1, 0, 1, 9.0},
          {8, 9, 3, 4, 8, 0, 1, 0, 0.0},
          {4, 0, 0, 0, 8, 1, 0, 0, 6.0 + 5.0},
          {9, 1, 2, 0, 8, 1, 0, 0, 3.0},
          {3, 0, 0, 0, 8, 1, 0, 0, 4.0},
          {1, 0, 0, 0, 9, 2, 0, 0, 1.0}}},
        {5, 0, "a site with too few letters is left out", {}},
        {6,
         10,
         "when the first survivor at the top is a leaf the second becomes root",
         {{3, 0, 0, 0, 10, 1, 0, 0, 4.0 + 5.0 + 9.0},
          {10, 5, 6, 3, 10, 0, 1, 0, 0.0},
          {5, 0, 0, 0, 10, 1, 0, 0, 7.0},
          {7, 3, 4, 10, 7, 0, 0, 1, 0.0}}},
    };
    setUpSixLeafSites();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(treeRoot[c.site], c.root);
        expectRecords(c.site, c.records);
        if (c.root == 0) {
            for (int k = 0; k <= 10; k++) EXPECT_EQ(gapTree[c.site][k].gap, 1) << "record " << k;
        }
    }
}

// Only the third child of the top node keeps letters: it is dissolved too and its two
// children are joined, the first as root when it is an inner node, else the second.
TEST(SiteTrees, ALoneSurvivorAtTheTopIsDissolvedAndItsChildrenJoined) {
    loadSequences({{"a", "-"}, {"b", "-"}, {"c", "A"}, {"d", "A"}, {"e", "A"}, {"f", "A"}});
    readTreeText("(a:1,b:2,((c:3,d:4):5,(e:6,f:7):8):9);");
    assignTree();
    EXPECT_EQ(treeRoot[1], 9);
    expectRecords(1, {{7, 1, 2, 8, 7, 0, 0, 1, 0.0},
                      {8, 9, 10, 0, 7, 1, 0, 1, 9.0},
                      {9, 3, 4, 10, 9, 0, 1, 0, 0.0},
                      {10, 5, 6, 0, 9, 1, 0, 0, 8.0 + 5.0},
                      {5, 0, 0, 0, 10, 2, 0, 0, 6.0}});

    loadSequences({{"a", "-"}, {"b", "-"}, {"c", "A"}, {"d", "A"}, {"e", "A"}});
    readTreeText("(a:1,b:2,(e:6,(c:3,d:4):5):7);");
    assignTree();
    EXPECT_EQ(treeRoot[1], 8);
    expectRecords(1, {{7, 5, 8, 0, 6, 1, 0, 1, 7.0},
                      {8, 3, 4, 5, 8, 0, 1, 0, 0.0},
                      {5, 0, 0, 0, 8, 1, 0, 0, 6.0 + 5.0},
                      {3, 0, 0, 0, 8, 1, 0, 0, 3.0}});
}

TEST(BranchTable, NumbersTheBranchesInPreOrderFromTheTop) {
    setUpSixLeafSites();
    branchNo = 0;
    assignBranch(7);
    const BranchRecord expected[] = {{5, 7, 8, 0, 0},  {3, 8, 9, 0, 0},  {1, 9, 1, 0, 0},
                                     {2, 9, 2, 0, 0},  {4, 8, 3, 0, 0},  {6, 7, 4, 0, 0},
                                     {9, 7, 10, 0, 0}, {7, 10, 5, 0, 0}, {8, 10, 6, 0, 0}};
    ASSERT_EQ(branchNo, 9);
    for (int b = 1; b <= 9; b++) {
        SCOPED_TRACE("branch " + std::to_string(b));
        EXPECT_EQ(branch[b].length, expected[b - 1].length);
        EXPECT_EQ(branch[b].leftPoint, expected[b - 1].leftPoint);
        EXPECT_EQ(branch[b].rightPoint, expected[b - 1].rightPoint);
    }
}

TEST(BranchTable, ThreeSequencesHaveTheTopsThreeBranchesAndNoComputedGappedSite) {
    loadSequences({{"a", "A-"}, {"b", "AA"}, {"c", "AA"}});
    readTreeText("(a:1,b:2,c:3);");
    assignTree();
    EXPECT_EQ(treeRoot[1], 4);
    EXPECT_EQ(treeRoot[2], 0);
    branchNo = 0;
    assignBranch(4);
    ASSERT_EQ(branchNo, 3);
    for (int b = 1; b <= 3; b++) {
        EXPECT_EQ(branch[b].leftPoint, 4);
        EXPECT_EQ(branch[b].rightPoint, b);
        EXPECT_EQ(branch[b].length, b);
    }
}

// Eight sequences and one column for every way of leaving out up to seven of them.
void setUpEveryGapPattern() {
    std::vector<std::pair<std::string, std::string>> sequences;
    for (int i = 0; i < 8; i++) sequences.push_back({"s" + std::to_string(i + 1), ""});
    for (int pattern = 0; pattern < 255; pattern++)
        for (int i = 0; i < 8; i++) sequences[i].second += (pattern >> i & 1) ? '-' : 'A';
    loadSequences(sequences);
    readTreeText(
        "(((s1:0.1,s2:0.2):0.3,(s3:0.15,(s4:0.05,s5:0.25):0.12):0.08):0.2,s6:0.4,(s7:0.33,s8:0.07):0.11);");
    assignTree();
}

// The records reachable from the root of tree s form a tree whose top has three children,
// every other inner record two, with consistent parents and depths; returns its leaves.
std::vector<int> checkedLeaves(int s, int k) {
    const SiteTreeNode& r = gapTree[s][k];
    EXPECT_EQ(r.gap, 0) << "record " << k;
    if (r.left == 0 && r.right == 0) return {k};
    EXPECT_NE(r.left, 0);
    EXPECT_NE(r.right, 0);
    std::vector<int> leaves;
    for (int child : {r.left, r.right, r.third}) {
        if (child == 0) continue;
        EXPECT_EQ(gapTree[s][child].parent, k) << "record " << child;
        EXPECT_EQ(gapTree[s][child].level, r.level + 1) << "record " << child;
        EXPECT_EQ(gapTree[s][child].isRoot, 0) << "record " << child;
        for (int leaf : checkedLeaves(s, child)) leaves.push_back(leaf);
    }
    return leaves;
}

TEST(SiteTrees, EveryGapPatternKeepsTheDistancesBetweenTheLeavesWithLetters) {
    setUpEveryGapPattern();
    for (int s = 1; s <= seqLength; s++) {
        SCOPED_TRACE("site " + std::to_string(s));
        std::vector<int> letters;
        for (int i = 1; i <= 8; i++)
            if (node[i].seq[s] != '-') letters.push_back(i);
        if (letters.size() < 3) {
            EXPECT_EQ(treeRoot[s], 0);
            continue;
        }
        int root = treeRoot[s];
        ASSERT_GT(root, seqNum);
        const SiteTreeNode& top = gapTree[s][root];
        EXPECT_TRUE(top.isRoot && top.parent == root && top.level == 0 && top.length == 0.0);
        EXPECT_NE(top.third, 0);
        std::vector<int> leaves = checkedLeaves(s, root);
        std::sort(leaves.begin(), leaves.end());
        EXPECT_EQ(leaves, letters);
        for (int a : letters)
            for (int b : letters) {
                if (a >= b) continue;
                EXPECT_NEAR(testsupport::pathLength(gapTree[s], a, b), testsupport::pathLength(node, a, b),
                            1e-12)
                    << "leaves " << a << " and " << b;
            }
    }
}

} // namespace
