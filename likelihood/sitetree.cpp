#include "sitetree.h"

#include "alignment.h"
#include "treefile.h"

#include <initializer_list>
#include <utility>
#include <vector>

int branchNo = 0;

namespace {

// Tree s as a plain copy of the unrooted tree in node, leaves flagged where site s has a gap
// (tree 0 flags none: position 0 of every letter string is a blank).
void copyUnrootedTree(int s) {
    SiteTreeNode* t = gapTree[s];
    for (int k = 1; k <= 2 * seqNum - 2; k++) {
        const NODE& n = node[k];
        t[k].level = n.level;
        t[k].left = n.left;
        t[k].right = n.right;
        t[k].third = n.third;
        t[k].parent = n.parent;
        t[k].isRoot = n.isRoot;
        t[k].length = n.length;
        t[k].gap = k <= seqNum && n.seq[s] == '-';
    }
}

// In the parent of j, the slot that holds j (left, else right, else third) now holds to.
void replaceChild(SiteTreeNode* t, int j, int to) {
    SiteTreeNode& p = t[t[j].parent];
    if (p.left == j)
        p.left = to;
    else if (p.right == j)
        p.right = to;
    else if (p.third == j)
        p.third = to;
}

// newRoot takes other as its third child; the branch between them keeps its whole length.
void hangUnder(SiteTreeNode* t, int newRoot, int other) {
    t[other].parent = newRoot;
    t[newRoot].third = other;
    t[newRoot].isRoot = 1;
    t[other].length += t[newRoot].length;
    t[newRoot].length = 0;
}

// Two survivors x, y become one tree with three children at the top: x is that top when it
// is an inner node, else y is.
void joinSurvivors(SiteTreeNode* t, int x, int y) {
    if (x > seqNum)
        hangUnder(t, x, y);
    else
        hangUnder(t, y, x);
}

// A top node that lost a child no longer has three; the survivors are rejoined under a new
// top.
void rejoinAtTop(SiteTreeNode* t) {
    int top = seqNum + 1;
    int survivors[3], count = 0;
    for (int child : {t[top].left, t[top].right, t[top].third})
        if (!t[child].gap) survivors[count++] = child;
    if (count == 3) return;
    t[top].gap = 1;
    t[top].isRoot = 0;
    if (count == 2) {
        joinSurvivors(t, survivors[0], survivors[1]);
    } else {
        // A computed site has at least three letters, so a lone survivor is an inner node.
        int only = survivors[0];
        t[only].gap = 1;
        joinSurvivors(t, t[only].left, t[only].right);
    }
}

// The branches from k to its children (left, right, and third at a root), pushed so that the
// first of them comes off the list first.
void pushBranchesBelow(int k, std::vector<std::pair<int, int>>& pending) {
    const NODE& r = node[k];
    if (r.left == 0 || r.right == 0) return;
    for (int child : {r.isRoot ? r.third : 0, r.right, r.left})
        if (child) pending.push_back({k, child});
}

} // namespace

void pruneInner(SiteTreeNode* t, int j, int emptied) {
    int l = t[j].left, r = t[j].right;
    bool leftGap = t[l].gap, rightGap = t[r].gap;
    if (!leftGap && !rightGap) return;
    if (leftGap != rightGap) {
        int survivor = leftGap ? r : l;
        t[survivor].parent = t[j].parent;
        t[survivor].length += t[j].length;
        replaceChild(t, j, survivor);
    }
    t[j].left = t[j].right = emptied;
    t[j].gap = 1;
}

void assignTree() {
    for (int s = 0; s <= seqLength; s++) copyUnrootedTree(s);
    for (int s = 1; s <= seqLength; s++) {
        if (!dashFlag[s]) {
            treeRoot[s] = seqNum + 1;
        } else if (calFlag[s]) {
            treeRoot[s] = rebuildTree(s);
        } else {
            treeRoot[s] = 0;
            for (int k = 0; k <= 2 * seqNum - 2; k++) gapTree[s][k].gap = 1;
        }
    }
}

int rebuildTree(int s) {
    SiteTreeNode* t = gapTree[s];
    copyUnrootedTree(s);
    int deepest = 0;
    for (int k = 1; k <= 2 * seqNum - 2; k++)
        if (node[k].level > deepest) deepest = node[k].level;
    // Deepest inner nodes first, so that every child is settled before its parent looks at it;
    // within one depth in the order of the records. Pruning changes no depth, so the inner
    // nodes are sorted by depth once rather than searched for each depth of a deep tree.
    std::vector<std::vector<int>> innerAtDepth(deepest + 1);
    for (int j = seqNum + 1; j <= 2 * seqNum - 2; j++) innerAtDepth[t[j].level].push_back(j);
    for (int d = deepest - 1; d >= 1; d--)
        for (int j : innerAtDepth[d]) pruneInner(t, j, 0);
    rejoinAtTop(t);
    int root = 1;
    while (!t[root].isRoot) root++;
    t[root].parent = root;
    setRLevel(s, root);
    return root;
}

void setRLevel(int s, int k) {
    setDepths(gapTree[s], k);
}

// Pre-order from k: a branch is numbered before every branch below it, and the whole subtree
// of a child before its next sibling. The list of branches still to number stands in for a
// recursion as deep as the tree.
void assignBranch(int k) {
    std::vector<std::pair<int, int>> pending;
    pushBranchesBelow(k, pending);
    while (!pending.empty()) {
        auto [upper, child] = pending.back();
        pending.pop_back();
        branchNo++;
        branch[branchNo].length = node[child].length;
        branch[branchNo].leftPoint = upper;
        branch[branchNo].rightPoint = child;
        pushBranchesBelow(child, pending);
    }
}
