// The rooting from its sums against the reference that walks every leaf's path for every
// branch: the same lines on standard output, the same result-file text, the same leaf counts
// and the same rooted tree, record for record and bit for bit.
#include "alignmentfile.h"
#include "rooting_oracle.h"
#include "tree_setup.h"

#include "alignment.h"
#include "rooting.h"
#include "settings.h"
#include "sitetree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

using testsupport::loadSequences;
using testsupport::readTreeText;

namespace {

struct Rooting {
    std::string printed, result;
    std::vector<int> rightLeaves;
    std::vector<SiteTreeNode> tree, copy;
};

// Reads the tree over leaves s1..sn with every length multiplied by stretch.
void readStretchedTree(int leaves, const std::string& text, double stretch) {
    std::vector<std::pair<std::string, std::string>> alignment;
    for (int i = 1; i <= leaves; i++) alignment.push_back({"s" + std::to_string(i), "A"});
    loadSequences(alignment);
    readTreeText(text);
    for (int k = 1; k <= 2 * seqNum - 2; k++) node[k].length *= stretch;
}

std::vector<SiteTreeNode> records(const SiteTreeNode* t) {
    std::vector<SiteTreeNode> r(t, t + DIM);
    for (SiteTreeNode& record : r) record.vec = nullptr;
    return r;
}

// Roots a fresh tree 0 (record 0 cleared) with the given routine.
Rooting run(void (*rooting)()) {
    SiteTreeNode& root = gapTree[0][0];
    root = SiteTreeNode{0, 0, 0, 0, 0, 0, 0, 0, 0.0, root.vec};
    testsupport::assignTreesAndBranches();
    resultFile = std::tmpfile();
    testing::internal::CaptureStdout();
    rooting();
    Rooting r;
    r.printed = testing::internal::GetCapturedStdout();
    r.result = resultText();
    std::fclose(resultFile);
    resultFile = stdout;
    for (int b = 1; b <= branchNo; b++) r.rightLeaves.push_back(branch[b].rightLeafNumber);
    r.tree = records(gapTree[0]);
    r.copy = records(copyTree[0]);
    return r;
}

// The first record in which two trees differ, or "" when none does.
std::string firstDifference(const std::vector<SiteTreeNode>& a, const std::vector<SiteTreeNode>& b) {
    for (std::size_t k = 0; k < a.size(); k++) {
        const SiteTreeNode &x = a[k], &y = b[k];
        bool same = x.level == y.level && x.left == y.left && x.right == y.right && x.third == y.third &&
                    x.parent == y.parent && x.scale == y.scale && x.isRoot == y.isRoot && x.gap == y.gap &&
                    x.length == y.length && std::signbit(x.length) == std::signbit(y.length);
        if (!same) return "record " + std::to_string(k);
    }
    return "";
}

void expectSameAsReference(int leaves, const std::string& text, double stretch) {
    readStretchedTree(leaves, text, stretch);
    Rooting expected = run(testsupport::oracle::findMidpoint);
    Rooting actual = run(findMidpoint);
    EXPECT_EQ(actual.printed, expected.printed);
    EXPECT_EQ(actual.result, expected.result);
    EXPECT_EQ(actual.rightLeaves, expected.rightLeaves);
    EXPECT_EQ(firstDifference(actual.tree, expected.tree), "") << "tree 0";
    EXPECT_EQ(firstDifference(actual.copy, expected.copy), "") << "copy";
}

// ---- Random trees ----------------------------------------------------------------------------

enum class Shape { Balanced, RandomSplits, Caterpillar };
// Star: a star resolved into a binary tree, every inner length 0 and every leaf the same
// length; StarOfRandomLeaves: the same with random leaf lengths.
enum class Lengths { Random, Equal, Zero, Mixed, Star, StarOfRandomLeaves };

class TreeText {
  public:
    // Leaf k of the tree (from the left) is s(k), or with shuffled names s(some permutation of k).
    // Only a star draws its leaf length, so that the other kinds keep the trees of their seeds.
    TreeText(Lengths lengths, unsigned seed, bool shuffledNames = false) : lengths_(lengths), random_(seed) {
        const double leafLengths[] = {0.1, 0.3, 0.7, 1.234567};
        if (lengths == Lengths::Star) starLeafLength_ = leafLengths[random_() % 4];
        shuffledNames_ = shuffledNames;
    }

    // Three subtrees at the top over leaves 1..n, binary below.
    std::string tree(Shape shape, int n) {
        int first = 1, second = 1;
        if (shape == Shape::Balanced) {
            first = n / 3;
            second = (n - first) / 2;
        } else if (shape == Shape::RandomSplits) {
            first = 1 + static_cast<int>(random_() % (n - 2));
            second = 1 + static_cast<int>(random_() % (n - first - 1));
        }
        names_.resize(n + 1);
        for (int k = 1; k <= n; k++) names_[k] = k;
        if (shuffledNames_) std::shuffle(names_.begin() + 1, names_.end(), random_);
        return "(" + subtree(shape, 1, first) + "," + subtree(shape, first + 1, second) + "," +
               subtree(shape, first + second + 1, n - first - second) + ");";
    }

  private:
    // Leaves from..from+count-1.
    std::string subtree(Shape shape, int from, int count) {
        if (count == 1) return "s" + std::to_string(names_[from]) + length(true);
        int left = shape == Shape::Balanced      ? count / 2
                   : shape == Shape::Caterpillar ? 1
                                                 : 1 + static_cast<int>(random_() % (count - 1));
        return "(" + subtree(shape, from, left) + "," + subtree(shape, from + left, count - left) + ")" +
               length();
    }

    std::string length(bool toLeaf = false) {
        std::uniform_real_distribution<double> uniform(0.0, 1.0);
        double value = uniform(random_);
        switch (lengths_) {
        case Lengths::Star:
            value = toLeaf ? starLeafLength_ : 0.0;
            break;
        case Lengths::StarOfRandomLeaves:
            if (!toLeaf) value = 0.0;
            break;
        case Lengths::Equal:
            value = 0.1;
            break;
        case Lengths::Zero:
            value = 0.0;
            break;
        case Lengths::Mixed:
            value = value < 0.3 ? 0.0 : value < 0.6 ? 0.2 : value;
            break;
        case Lengths::Random:
            break;
        }
        char text[32];
        std::snprintf(text, sizeof text, ":%.6f", value);
        return text;
    }

    Lengths lengths_;
    std::mt19937 random_;
    double starLeafLength_ = 0.0;
    bool shuffledNames_;
    std::vector<int> names_;
};

const char* shapeName(Shape s) {
    return s == Shape::Balanced ? "balanced" : s == Shape::Caterpillar ? "caterpillar" : "random splits";
}

// Sizes from 3 to 500 leaves; caterpillars of a few hundred leaves have no candidate and go
// to the clamped points, as do the trees stretched a thousandfold.
TEST(RootingReference, RandomTreesAreRootedAsTheWalkRootsThem) {
    unsigned seed = 1;
    for (Shape shape : {Shape::Balanced, Shape::RandomSplits, Shape::Caterpillar})
        for (Lengths lengths : {Lengths::Random, Lengths::Equal, Lengths::Zero, Lengths::Mixed})
            for (int n : {3, 4, 5, 6, 9, 17, 64, 150, 333, 500})
                for (double stretch : {1.0, 1000.0}) {
                    if (lengths == Lengths::Zero && stretch != 1.0) continue;
                    TreeText text(lengths, seed++);
                    std::string tree = text.tree(shape, n);
                    SCOPED_TRACE(std::string(shapeName(shape)) + ", " + std::to_string(n) +
                                 " leaves, stretch " + std::to_string(stretch) + ": " + tree.substr(0, 200));
                    expectSameAsReference(n, tree, stretch);
                    if (HasFailure()) return;
                }
}

// Trees of ties: every length 0 (identical sequences), where every point is at its branch's
// upper end with variance 0, and stars resolved into binary trees with equal leaf lengths,
// where every point is there in exact arithmetic and the walk's rounding puts it to either
// side; stars of random leaf lengths besides. The walk adds up the leaves in the order of their
// numbers, so they are numbered along the tree and shuffled.
TEST(RootingReference, TreesOfTiesAreRootedAsTheWalkRootsThem) {
    unsigned seed = 1000;
    for (Shape shape : {Shape::Balanced, Shape::RandomSplits, Shape::Caterpillar})
        for (Lengths lengths : {Lengths::Zero, Lengths::Star, Lengths::StarOfRandomLeaves})
            for (bool shuffled : {false, true})
                for (int n : {3, 4, 5, 6, 7, 16, 64, 100, 333})
                    for (double stretch : {1.0, 0.37}) {
                        TreeText text(lengths, seed++, shuffled);
                        std::string tree = text.tree(shape, n);
                        SCOPED_TRACE(std::string(shapeName(shape)) + ", " + std::to_string(n) +
                                     " leaves, stretch " + std::to_string(stretch) + ": " +
                                     tree.substr(0, 200));
                        expectSameAsReference(n, tree, stretch);
                        if (HasFailure()) return;
                    }
}

// ---- Values on a limit -----------------------------------------------------------------------

// Trees whose points lie, in exact arithmetic, at an end of their branch or whose variances tie
// with another branch of the same split. Scaled by factors that no binary fraction holds, the
// two computations may round to different sides unless the walk decides.
TEST(RootingReference, PointsAtBranchEndsAndTiesAreDecidedAsTheWalkDecidesThem) {
    struct Case {
        int leaves;
        const char* tree;
    };
    const Case cases[] = {
        {3, "(s1:1,s2:1,s3:1);"},                            // every point at the top, variance 0
        {4, "((s1:1,s2:1):1,s3:2,s4:2);"},                   // inner branch: point at its upper end
        {4, "((s1:2,s2:2):1,s3:1,s4:1);"},                   // inner branch: point at its lower end
        {5, "((s1:1,s2:1):1,(s3:1,s4:1):1,s5:2);"},          // two inner branches tie
        {6, "((s1:1,s2:1):1,(s3:1,s4:1):1,(s5:1,s6:1):1);"}, // three tie
        {3, "(s1:0,s2:0,s3:1);"},                            // s1 and s2 tie, points at the top
    };
    for (const Case& c : cases)
        for (double stretch : {0.1, 0.3, 0.7, 1.0 / 3, 1.1})
            for (int k = 0; k < 8; k++) {
                double factor = stretch * (1 + k * 1e-15);
                SCOPED_TRACE(std::string(c.tree) + " stretched by " + std::to_string(factor));
                expectSameAsReference(c.leaves, c.tree, factor);
            }
}

// The walk's point and variance of every branch whose point lies well inside it.
struct BranchFit {
    int branch;
    double x, variance;
};

std::vector<BranchFit> pointsInside(int leaves, const std::string& tree) {
    readStretchedTree(leaves, tree, 1.0);
    testsupport::assignTreesAndBranches();
    std::vector<double> e(seqNum + 1), f(seqNum + 1);
    std::vector<BranchFit> fits;
    for (int b = 1; b <= branchNo; b++) {
        double x = testsupport::oracle::deviationsFromUpperEnd(b, e.data(), f.data());
        if (x > 0.01 * branch[b].length && x < 0.99 * branch[b].length)
            fits.push_back({b, x, testsupport::oracle::varianceAt(x, e.data(), f.data())});
    }
    return fits;
}

// A tree scaled so that one branch's variance lies on the candidate limit, on the limit of the
// printed lines or half a printed unit from two decimal texts, or its point half a unit, and
// then by factors a few units of the last place to either side: somewhere among them the sums
// and the walk round to different sides of the limit.
TEST(RootingReference, ValuesScaledOntoALimitAreDecidedAsTheWalkDecidesThem) {
    for (int leaves : {12, 40}) {
        std::string tree = TreeText(Lengths::Random, leaves).tree(Shape::RandomSplits, leaves);
        std::vector<BranchFit> fits = pointsInside(leaves, tree);
        ASSERT_FALSE(fits.empty()) << tree;
        for (const BranchFit& fit : fits) {
            ASSERT_GT(fit.variance, 0.0) << tree;
            const double stretches[] = {std::sqrt(1e5 / fit.variance), std::sqrt(1e6 / fit.variance),
                                        std::sqrt(12.3456785 / fit.variance), 0.1234565 / fit.x};
            for (double stretch : stretches) {
                double factor = stretch;
                for (int k = 0; k < 24; k++) factor = std::nextafter(factor, 0.0);
                for (int k = -24; k <= 24; k++, factor = std::nextafter(factor, INFINITY)) {
                    SCOPED_TRACE(tree + ", branch " + std::to_string(fit.branch) + " stretched by " +
                                 std::to_string(factor));
                    expectSameAsReference(leaves, tree, factor);
                    if (HasFailure()) return;
                }
            }
        }
    }
}

} // namespace
