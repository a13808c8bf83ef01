#include "rooting.h"

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "sitetree.h"
#include "vantrel.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A point whose variance is this large lies outside its branch.
constexpr double OUTSIDE = 1000000.0;
// Only a point with a variance below this is a candidate root.
constexpr double CANDIDATE_LIMIT = 100000.0;

// Leaves below each record of tree 0 (the record itself included when it is a leaf).
void countLeaves() {
    SiteTreeNode* t = gapTree[0];
    int* below = ivector(1, 2 * seqNum - 2);
    for (int k = 1; k <= 2 * seqNum - 2; k++) below[k] = 0;
    for (int leaf = 1; leaf <= seqNum; leaf++)
        for (int k = leaf; !t[k].isRoot; k = t[k].parent) below[k]++;
    std::printf("finish find all LPoint and RPoint\n");
    for (int b = 1; b <= branchNo; b++) {
        branch[b].rightLeafNumber = below[branch[b].rightPoint];
        branch[b].leftLeafNumber = seqNum - branch[b].rightLeafNumber;
    }
    free_ivector(below, 1, 2 * seqNum - 2);
}

// Roots tree 0 at the upper end U of branch b and sets, per leaf, e (deviation of its path
// length to U from the mean) and f (deviation of its side: -1 below the lower end V, else
// +1). Moving the root by x from U towards V makes the sum of squared deviations
// sum (f*x + e)^2. Returns the x that minimises it.
double deviationsFromUpperEnd(int b, double* e, double* f) {
    SiteTreeNode* t = gapTree[0];
    int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
    changeRoot(0, upper, upper, upper);
    double meanDistance = 0.0, meanSide = 0.0;
    for (int leaf = 1; leaf <= seqNum; leaf++) {
        double distance = 0.0, side = 1.0;
        for (int k = leaf; k != upper; k = t[k].parent) {
            distance += t[k].length;
            if (k == lower) side = -1.0;
        }
        e[leaf] = distance;
        f[leaf] = side;
        meanDistance += distance / seqNum;
        meanSide += side / seqNum;
    }
    double cross = 0.0, square = 0.0;
    for (int leaf = 1; leaf <= seqNum; leaf++) {
        e[leaf] -= meanDistance;
        f[leaf] -= meanSide;
        cross += 2 * e[leaf] * f[leaf];
        square += 2 * f[leaf] * f[leaf];
    }
    double x = -cross / square;
    return x == 0.0 ? 0.0 : x; // a point at U itself is shown as 0, never as -0
}

double varianceAt(double x, const double* e, const double* f) {
    double sum = 0.0;
    for (int leaf = 1; leaf <= seqNum; leaf++) sum += (f[leaf] * x + e[leaf]) * (f[leaf] * x + e[leaf]);
    return sum;
}

int leafDifference(int b) {
    return std::abs(branch[b].leftLeafNumber - branch[b].rightLeafNumber);
}

// The most even split among the branches whose variance is below limit, then the smaller
// variance, then the lower branch number; 0 when no branch qualifies.
int chooseBranch(const double* variance, double limit) {
    int best = 0, bestDifference = 2 * seqNum;
    for (int b = 1; b <= branchNo; b++) {
        if (!(variance[b] < limit)) continue;
        int difference = leafDifference(b);
        if (difference < bestDifference || (difference == bestDifference && variance[b] < variance[best])) {
            best = b;
            bestDifference = difference;
        }
    }
    return best;
}

// Rounding can put every optimum a hair outside its branch: then each point is moved to the
// nearer end of its branch and every branch competes by the same rules.
int chooseClampedBranch(double* x, double* variance, double* e, double* f) {
    for (int b = 1; b <= branchNo; b++) {
        double point = deviationsFromUpperEnd(b, e, f);
        if (point < 0.0) point = 0.0;
        if (point > branch[b].length) point = branch[b].length;
        x[b] = point;
        variance[b] = varianceAt(point, e, f);
    }
    return chooseBranch(variance, INFINITY);
}

// Hangs the chosen branch from the new root record 0, x from its upper end.
void rootOnBranch(int b, double x) {
    SiteTreeNode* t = gapTree[0];
    int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
    changeRoot(0, upper, upper, 0);
    if (t[upper].left == lower)
        t[upper].left = t[upper].third;
    else if (t[upper].right == lower)
        t[upper].right = t[upper].third;
    t[upper].third = 0;
    t[upper].parent = 0;
    t[upper].isRoot = 0;
    t[upper].length = x;
    t[lower].parent = 0;
    t[lower].length = branch[b].length - x;
    t[0].parent = 0;
    t[0].left = upper;
    t[0].right = lower;
    t[0].third = 0;
    t[0].isRoot = 1;
}

} // namespace

void findMidpoint() {
    countLeaves();
    double* x = dvector(1, branchNo);
    double* variance = dvector(1, branchNo);
    double* e = dvector(1, seqNum);
    double* f = dvector(1, seqNum);
    for (int b = 1; b <= branchNo; b++) {
        x[b] = deviationsFromUpperEnd(b, e, f);
        variance[b] = x[b] < 0.0 || x[b] > branch[b].length ? OUTSIDE : varianceAt(x[b], e, f);
        if (variance[b] < OUTSIDE) {
            std::printf(
                "branch:%3d x value:%10.6f variance:%10.6f\t LeftLeaf number:%4d RightLeaf number:%4d ", b,
                x[b], variance[b], branch[b].leftLeafNumber, branch[b].rightLeafNumber);
            std::printf("difference: %4d\n", leafDifference(b));
        }
    }
    int chosen = chooseBranch(variance, CANDIDATE_LIMIT);
    if (chosen == 0) chosen = chooseClampedBranch(x, variance, e, f);
    int upper = branch[chosen].leftPoint, lower = branch[chosen].rightPoint;
    std::fprintf(resultFile, "best point: branch No:%3d distance from left point:%10.6f\n", chosen,
                 x[chosen]);
    std::fprintf(resultFile, "left point: %d: %s ", upper, node[upper].name);
    std::fprintf(resultFile, "right point: %d: %s\n", lower, node[lower].name);
    rootOnBranch(chosen, x[chosen]);
    copyTreeRecords(copyTree[0], gapTree[0]);
    free_dvector(x, 1, branchNo);
    free_dvector(variance, 1, branchNo);
    free_dvector(e, 1, seqNum);
    free_dvector(f, 1, seqNum);
}

// The path from k up to the old root is turned around from the old root back down to k, so
// that every record takes the length of the branch to its new parent while that length is
// still unchanged. The path is kept in a list: a tree may be as deep as it has leaves.
void changeRoot(int s, int k, int target, int prev) {
    SiteTreeNode* t = gapTree[s];
    if (k == target && t[k].isRoot) return;
    std::vector<int> path = {k};
    while (!t[path.back()].isRoot) path.push_back(t[path.back()].parent);
    for (std::size_t i = path.size(); i-- > 0;) {
        SiteTreeNode& r = t[path[i]];
        int below = i > 0 ? path[i - 1] : prev;
        int oldParent = r.parent;
        if (i == 0 && k == target) {
            r.third = oldParent;
            r.length = 0;
            r.isRoot = 1;
            r.parent = k;
        } else if (!r.isRoot) {
            if (r.left == below)
                r.left = oldParent;
            else
                r.right = oldParent;
            r.parent = below;
            r.length = t[below].length;
        } else {
            if (r.left == below)
                r.left = r.third;
            else if (r.right == below)
                r.right = r.third;
            r.third = 0;
            r.parent = below;
            r.length = t[below].length;
            r.isRoot = 0;
        }
    }
}
