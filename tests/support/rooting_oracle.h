// Test support: the rooting as it was first written, kept as the reference that findMidpoint
// is checked and timed against. For every branch it re-roots tree 0 at the branch's upper end
// and walks every leaf up to it, so it takes time n^2 x depth.
#ifndef TESTS_SUPPORT_ROOTING_ORACLE_H
#define TESTS_SUPPORT_ROOTING_ORACLE_H

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "rooting.h"
#include "settings.h"
#include "sitetree.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace testsupport::oracle {

constexpr double OUTSIDE = 1000000.0;
constexpr double CANDIDATE_LIMIT = 100000.0;

inline void countLeaves() {
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

inline double deviationsFromUpperEnd(int b, double* e, double* f) {
    SiteTreeNode* t = gapTree[0];
    int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
    changeRoot(0, upper);
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
    return x == 0.0 ? 0.0 : x;
}

inline double varianceAt(double x, const double* e, const double* f) {
    double sum = 0.0;
    for (int leaf = 1; leaf <= seqNum; leaf++) sum += (f[leaf] * x + e[leaf]) * (f[leaf] * x + e[leaf]);
    return sum;
}

inline int leafDifference(int b) {
    return std::abs(branch[b].leftLeafNumber - branch[b].rightLeafNumber);
}

inline int chooseBranch(const double* variance, double limit) {
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

inline int chooseClampedBranch(double* x, double* variance, double* e, double* f) {
    for (int b = 1; b <= branchNo; b++) {
        double point = deviationsFromUpperEnd(b, e, f);
        if (point < 0.0) point = 0.0;
        if (point > branch[b].length) point = branch[b].length;
        x[b] = point;
        variance[b] = varianceAt(point, e, f);
    }
    return chooseBranch(variance, INFINITY);
}

inline void rootOnBranch(int b, double x) {
    SiteTreeNode* t = gapTree[0];
    int upper = branch[b].leftPoint, lower = branch[b].rightPoint;
    changeRoot(0, upper);
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

// findMidpoint by walking: the same lines, the same rooted tree 0 and copyTree[0].
inline void findMidpoint() {
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

} // namespace testsupport::oracle

#endif
