#include "treeopt.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "numerics/ran1.h"
#include "rooting.h"
#include "settings.h"
#include "simulation.h"
#include "sitelikelihood.h"
#include "siterules.h"
#include "transitioncache.h"

#include <array>
#include <cstdio>
#include <vector>

double*** nodeProb = nullptr;
int** levelFlag = nullptr;

namespace {

// The tree of one site as the state reconstruction reads it.
struct Link {
    int left, right, third;
    double length;
    bool inTree; // false: pruned from the site's tree
};

bool isInner(const Link& b) {
    return b.left != 0 && b.right != 0;
}

// A site without gaps uses the unrooted tree in node, rooted at the top node; a computed
// gapped site its pruned tree. Records 1..2n-2; *root receives the root.
std::vector<Link> siteTree(int site, int* root) {
    std::vector<Link> tree(DIM);
    *root = 0;
    for (int i = 1; i < DIM; i++) {
        if (!dashFlag[site]) {
            const NODE& r = node[i];
            tree[i] = {r.left, r.right, r.third, r.length, true};
            if (i == seqNum + 1) *root = i;
        } else {
            const SiteTreeNode& r = gapTree[site][i];
            tree[i] = {r.left, r.right, r.third, r.length, !r.gap};
            if (r.isRoot && *root == 0) *root = i;
        }
    }
    return tree;
}

using Vector = std::array<double, 21>;

// First index 1..20 of the largest entry (a later one must be strictly larger).
int firstLargest(const Vector& w) {
    int best = 1;
    for (int j = 2; j <= 20; j++)
        if (w[j] > w[best]) best = j;
    return best;
}

struct JointState {
    int site;
    double rate;
    const std::vector<Link>& tree;
    std::vector<Vector> best;
    std::vector<std::array<int, 21>> choice;
};

// best[k][i]: the largest probability of the leaves below k over the states of the inner
// nodes below, given state i at the upper end of k's branch (in powers of ten that keep it in
// range); choice[k][i] the state of k that reaches it. Filled for c and every record below it.
void fillBest(JointState& js, int c) {
    for (int k : childrenFirst(js.tree.data(), c)) {
        const Link& b = js.tree[k];
        Vector& best = js.best[k];
        Transitions& P = branchTransitions(js.site, k, b.length, js.rate);
        if (!isInner(b)) {
            int code = node[k].code[js.site];
            TransitionColumns column = P.column(code);
            for (int i = 1; i <= 20; i++) best[i] = column[code][i];
            continue;
        }
        bestOfChildren(P.matrix(), js.best[b.left].data(), js.best[b.right].data(), best.data(),
                       js.choice[k].data());
        rescale(best.data(), Gauge::LargestEntry);
    }
}

// The inner nodes below c take the states chosen for the state of their parent.
void assignChoices(const JointState& js, int c) {
    const Link& b = js.tree[c];
    for (int child : {b.left, b.right, b.third}) {
        if (!isInner(js.tree[child])) continue;
        node[child].code[js.site] = js.choice[child][node[c].code[js.site]];
        assignChoices(js, child);
    }
}

} // namespace

void allocateNodeProb() {
    static const NODE* allocatedFor = nullptr;
    static int rows = 0, records = 0;
    if (nodeProb && allocatedFor == node && rows == seqLength + 1 && records == DIM) return;
    if (nodeProb) {
        for (int i = 0; i < records; i++)
            if (nodeProb[i]) free_dmatrix(nodeProb[i], 1, rows, 1, 21);
        delete[] nodeProb;
    }
    allocatedFor = node;
    rows = seqLength + 1;
    records = DIM;
    nodeProb = new double**[DIM]();
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        nodeProb[i] = dmatrix(1, rows, 1, 21);
        for (int s = 1; s <= rows; s++)
            for (int j = 1; j <= 21; j++) nodeProb[i][s][j] = 0.0;
    }
}

namespace {

void allocateLevelFlag() {
    static const NODE* allocatedFor = nullptr;
    static int records = 0;
    if (levelFlag && allocatedFor == node && records == DIM) return;
    if (levelFlag) free_imatrix(levelFlag, 0, records - 1, 0, records - 1);
    allocatedFor = node;
    records = DIM;
    levelFlag = imatrix(0, DIM - 1, 0, DIM - 1);
    for (int i = 0; i < DIM; i++)
        for (int d = 0; d < DIM; d++) levelFlag[i][d] = 0;
}

// The fields of a site tree that re-rooting changes.
struct TreeShape {
    int level, left, right, third, parent;
    char isRoot;
    double length;
    char gap;
};

std::vector<TreeShape> saveShape(int site) {
    std::vector<TreeShape> shape(DIM);
    for (int i = 1; i < DIM; i++) {
        const SiteTreeNode& r = gapTree[site][i];
        shape[i] = {r.level, r.left, r.right, r.third, r.parent, r.isRoot, r.length, r.gap};
    }
    return shape;
}

// The transition matrices kept for the site follow the branch lengths, so putting the
// lengths back is all they need.
void restoreShape(int site, const std::vector<TreeShape>& shape) {
    for (int i = 1; i < DIM; i++) {
        SiteTreeNode& r = gapTree[site][i];
        const TreeShape& k = shape[i];
        r.level = k.level, r.left = k.left, r.right = k.right, r.third = k.third;
        r.parent = k.parent, r.isRoot = k.isRoot, r.length = k.length, r.gap = k.gap;
    }
}

// Inner record i as the root of the site's tree: its state probabilities into its nodeProb
// row and its most probable state into its code.
void marginalState(int site, int i, double rate) {
    changeRoot(site, i);
    calTree(site, i, rate);
    const double* vec = gapTree[site][i].vec;
    double sum = 0.0;
    for (int j = 1; j <= 20; j++) sum += vec[j];
    Vector p{};
    for (int j = 1; j <= 20; j++) p[j] = vec[j] / sum;
    int state = firstLargest(p);
    node[i].code[site] = state;
    double* row = nodeProb[i][site];
    for (int j = 1; j <= 20; j++) row[j] = p[j] < FREQUENCY_TAKEN_AS_ZERO ? 0.0 : p[j];

    int second = 0;
    double secondValue = 0.0;
    for (int j = 1; j <= 20; j++)
        if (j != state && row[j] > secondValue) second = j, secondValue = row[j];
    if (second == 0)
        std::printf("Warning: something wrong to find second best in optTree_Goldstein method\n");
    // A node whose other states all vanish takes one number of the shared stream and drops it.
    if (secondValue < 1e-10) ran1(&idum);
}

void printPrefix(int k) {
    for (int d = 0; d <= node[k].level - 2; d++)
        std::fprintf(resultFile, "%c         ", levelFlag[k][d] == 1 ? '|' : ' ');
    std::fprintf(resultFile, "+---------");
}

bool isChildOf(int k, int p) {
    return node[p].left == k || node[p].right == k || node[p].third == k;
}

void drawTree(int k);

void drawInner(int k) {
    int p = node[k].parent, d = node[k].level;
    int l = node[k].left, r = node[k].right;
    bool leftChild = node[p].left == k;
    for (int j = 0; j <= node[p].level - 1; j++) levelFlag[l][j] = levelFlag[r][j] = levelFlag[k][j];
    levelFlag[l][d - 1] = leftChild ? 0 : 1;
    drawTree(l);
    printPrefix(k);
    std::fprintf(resultFile, "%d\n", k);
    bool topRight = p == seqNum + 1 && node[p].right == k;
    levelFlag[r][d - 1] = leftChild || topRight ? 1 : 0;
    drawTree(r);
}

void drawTree(int k) {
    if (k < 1 || k > 2 * seqNum - 2) {
        std::printf("There is something wrong in printing tree\n");
        fatalExit(1);
    }
    const NODE& r = node[k];
    if (r.isRoot) {
        drawTree(r.left);
        std::fprintf(resultFile, "%d\n", k);
        drawTree(r.right);
        drawTree(r.third);
        return;
    }
    if (!isChildOf(k, r.parent)) return;
    if (r.left != 0 && r.right != 0) {
        drawInner(k);
        return;
    }
    printPrefix(k);
    std::fprintf(resultFile, "%d:(%s)\n", k, r.name);
}

} // namespace

void optTree(int site, double rate) {
    if (!computedSite(site)) return;
    int root;
    std::vector<Link> tree = siteTree(site, &root);
    JointState js{site, rate, tree, std::vector<Vector>(DIM), std::vector<std::array<int, 21>>(DIM)};
    const Link& r = tree[root];
    for (int child : {r.left, r.right, r.third}) fillBest(js, child);
    Vector w{};
    for (int j = 1; j <= 20; j++)
        w[j] = PI[j] * js.best[r.left][j] * js.best[r.right][j] * js.best[r.third][j];
    node[root].code[site] = firstLargest(w);
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++)
        if (!tree[i].inTree) node[i].code[site] = 0;
    assignChoices(js, root);
}

void optTree_Goldstein(int site, double rate) {
    allocateNodeProb();
    std::vector<TreeShape> shape = saveShape(site);
    double savedPI[21];
    if (D_A_P_Flag == 4) useSiteFrequencies(site, savedPI);
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        if (gapTree[site][i].gap) {
            // Not part of the site's tree: no state, no probabilities.
            node[i].code[site] = 0;
            for (int j = 1; j <= 20; j++) nodeProb[i][site][j] = 0.0;
            continue;
        }
        marginalState(site, i, rate);
    }
    restoreShape(site, shape);
    if (D_A_P_Flag == 4) restoreModel(savedPI);
}

void print_tree(int k) {
    allocateLevelFlag();
    drawTree(k);
}
