// The step of every recursion over a site's tree, on raw vectors of 20 states (entries 1..20):
// a record's values from its two children's through the 20 x 20 transition matrix of its
// branch, and the powers of ten that keep the values in range. The recursions up the tree
// (the likelihood, its rate derivative, the joint state reconstruction) visit the records in
// the order childrenFirst gives; the expected leaf distribution takes the step down the tree.
//
// Each sum is taken in one fixed order and association, the one written beside it: the
// likelihood's results are compared to the bit between its paths and between builds.
#ifndef CORE_LIKELIHOODSTEP_H
#define CORE_LIKELIHOODSTEP_H

#include <algorithm>
#include <vector>

// A transition matrix by columns, as the store keeps it: P[j][i] is the probability of state j
// at the lower end of the branch given state i at its upper end, i, j in 1..20. A leaf's vector
// is then one column as it stands, and a step runs over all i at once.
using ColumnMatrix = double[21][21];

// P[j][i] = entry(i, j) for i, j in 1..20.
template <typename Entry> void fillColumns(ColumnMatrix& P, Entry entry) {
    for (int j = 1; j <= 20; j++)
        for (int i = 1; i <= 20; i++) P[j][i] = entry(i, j);
}

// out[i] = the sum over j = 1..20, in that order, of (P(i, j) * left[j]) * right[j].
void combineChildren(const double (*P)[21], const double* left, const double* right, double* out);

// The step of count columns on one branch: out[b] from left[b] and right[b] as combineChildren
// gives it, then rescaled by the largest entry; scale[b] receives the powers of ten (rescale).
void combineColumns(const double (*P)[21], const double* const* left, const double* const* right,
                    double* const* out, int* scale, int count);

// out[i] = the largest (P(i, j) * left[j]) * right[j] over j = 1..20 and choice[i] the first j
// that reaches it (a later j only when strictly larger): the step of the joint reconstruction.
void bestOfChildren(const double (*P)[21], const double* left, const double* right, double* out, int* choice);

// out[j] = the sum over i = 1..20, in that order, of P(i, j) * parent[i]: the state
// probabilities at the lower end of a branch from those at its upper end.
void passDown(const double (*P)[21], const double* parent, double* out);

// What a vector's size is measured by: its largest entry, or its largest magnitude for the
// vectors of the rate derivative, which can be wholly negative and left unscaled vanish on
// large trees.
enum class Gauge { LargestEntry, LargestMagnitude };

// Multiplies vec[1..20] by 10^n, n the least count of powers of ten that brings the gauge to
// 0.1 or above, and returns n. A vector whose gauge is at or below 1e-200 (zero, negative,
// vanishing or not a number) is left as it is and gives 0, so that the count always ends.
int rescale(double* vec, Gauge gauge);

// The count of powers of ten that brings a gauge g to 0.1 or above; 0 for a gauge at or below
// 1e-200 or not a number.
int powersToRescale(double g);

// 10^n as pow(10, n) gives it.
double powerOfTen(int n);

// The records of the subtree of c with every record after its left subtree and its right
// subtree, the order of a pruning recursion; a record whose left or right is 0 is a leaf.
// Trees may be as deep as they have leaves, so the order is built on lists rather than on the
// call stack; the lists are kept between calls, and the next call overwrites the order.
template <typename Record> const std::vector<int>& childrenFirst(const Record* tree, int c) {
    static std::vector<int> order, pending;
    order.clear();
    pending.assign(1, c);
    // Record, right subtree, left subtree, each subtree in the same order: reversed, that is
    // left subtree, right subtree, record.
    while (!pending.empty()) {
        int k = pending.back();
        pending.pop_back();
        order.push_back(k);
        if (tree[k].left != 0 && tree[k].right != 0) {
            pending.push_back(tree[k].left);
            pending.push_back(tree[k].right);
        }
    }
    std::reverse(order.begin(), order.end());
    return order;
}

#endif
