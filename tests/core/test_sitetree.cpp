#include "tree_setup.h"

#include "alignment.h"
#include "sitetree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::loadSequences;
using testsupport::readTreeText;

namespace {

struct Record {
    int k, left, right, third, parent, level, isRoot, gap;
    double length;
};

void expectRecords(int s, const std::vector<Record>& expected) {
    for (const Record& e : expected) {
        SCOPED_TRACE("tree " + std::to_string(s) + ", record " + std::to_string(e.k));
        const SiteTreeNode& r = gapTree[s][e.k];
        EXPECT_EQ(r.left, e.left);
        EXPECT_EQ(r.right, e.right);
        EXPECT_EQ(r.third, e.third);
        EXPECT_EQ(r.parent, e.parent);
        EXPECT_EQ(r.level, e.level);
        EXPECT_EQ(r.isRoot, e.isRoot);
        EXPECT_EQ(r.gap, e.gap);
        EXPECT_EQ(r.length, e.length);
    }
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

TEST(SiteTrees, AGappedLeafTakesItsParentOutAndTheSiblingTakesItsLength) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[2], 7);
    expectRecords(2, {{1, 0, 0, 0, 9, 3, 0, 1, 1.0},
                      {2, 0, 0, 0, 8, 2, 0, 0, 2.0 + 3.0},
                      {8, 2, 3, 0, 7, 1, 0, 0, 5.0},
                      {9, 0, 0, 0, 8, 2, 0, 1, 3.0},
                      {7, 8, 4, 10, 7, 0, 1, 0, 0.0}});
}

TEST(SiteTrees, AGappedCherryTakesTheNodeAboveItOutInTheNextPass) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[3], 7);
    expectRecords(3, {{9, 0, 0, 0, 8, 2, 0, 1, 3.0},
                      {8, 0, 0, 0, 7, 1, 0, 1, 5.0},
                      {3, 0, 0, 0, 7, 1, 0, 0, 4.0 + 5.0},
                      {7, 3, 4, 10, 7, 0, 1, 0, 0.0}});
}

TEST(SiteTrees, AnEmptiedChildOfTheTopLeavesTheFirstInnerSurvivorAsRoot) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[4], 8);
    expectRecords(4, {{7, 8, 4, 10, 7, 0, 0, 1, 0.0},
                      {10, 0, 0, 0, 7, 1, 0, 1, 9.0},
                      {8, 9, 3, 4, 8, 0, 1, 0, 0.0},
                      {4, 0, 0, 0, 8, 1, 0, 0, 6.0 + 5.0},
                      {9, 1, 2, 0, 8, 1, 0, 0, 3.0},
                      {3, 0, 0, 0, 8, 1, 0, 0, 4.0},
                      {1, 0, 0, 0, 9, 2, 0, 0, 1.0}});
}

TEST(SiteTrees, WhenTheFirstSurvivorAtTheTopIsALeafTheSecondBecomesRoot) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[6], 10);
    expectRecords(6, {{3, 0, 0, 0, 10, 1, 0, 0, 4.0 + 5.0 + 9.0},
                      {10, 5, 6, 3, 10, 0, 1, 0, 0.0},
                      {5, 0, 0, 0, 10, 1, 0, 0, 7.0},
                      {7, 3, 4, 10, 7, 0, 0, 1, 0.0}});
}

TEST(SiteTrees, ASiteWithTooFewLettersIsLeftOut) {
    setUpSixLeafSites();
    EXPECT_EQ(treeRoot[5], 0);
    for (int k = 0; k <= 10; k++) EXPECT_EQ(gapTree[5][k].gap, 1) << "record " << k;
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

} // namespace
