// Site likelihood with and without the stored branch transition matrices: the same columns
// on one 50-leaf gap-free site tree, as the final phase scores shuffled and simulated columns.
// Prints both timings, the speed-up and whether every result agrees to the bit.
//
// Usage: bench_likelihood [columns]   (default 10000)
#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "sitelikelihood.h"
#include "transitioncache.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int leaves = 50;

void buildModel(std::mt19937& rng) {
    S_ij = dmatrix(1, 20, 1, 20);
    Q_ij = dmatrix(1, 20, 1, 20);
    a = dmatrix(1, 20, 1, 20);
    v = dmatrix(1, 20, 1, 20);
    inv = dmatrix(1, 20, 1, 20);
    svdv = dmatrix(1, 20, 1, 20);
    PI = dvector(1, 20);
    wr = dvector(1, 20);
    wi = dvector(1, 20);
    w = dvector(1, 20);
    colu = dvector(1, 20);
    init_S();
    std::uniform_real_distribution<double> u(0.5, 1.5);
    double sum = 0.0;
    for (int k = 1; k <= 20; k++) sum += (PI[k] = u(rng));
    for (int k = 1; k <= 20; k++) PI[k] /= sum;
    cal_Q(PI);
    cal_Eign();
}

// One site, a random unrooted tree: leaves 1..n, top node n+1, inner nodes n+2..2n-2.
void buildSiteTree(std::mt19937& rng) {
    seqNum = leaves;
    seqLength = 1;
    DIM = 2 * leaves - 1;
    node = new NODE[DIM]();
    for (int i = 0; i < DIM; i++) node[i].code = new int[2]();
    gapTree = new SiteTreeNode*[2];
    gapTree[1] = new SiteTreeNode[DIM]();
    std::uniform_real_distribution<double> len(0.02, 0.6), u(0.0, 1.0);
    SiteTreeNode* t = gapTree[1];
    int top = leaves + 1;
    t[top].left = 1, t[top].right = 2, t[top].third = 3, t[top].parent = top, t[top].isRoot = 1;
    for (int i = 1; i <= 3; i++) t[i].parent = top, t[i].length = len(rng);
    int next = leaves + 2;
    for (int leaf = 4; leaf <= leaves; leaf++) {
        std::uniform_int_distribution<int> pick(0, leaf - 2 + (next - (leaves + 2)));
        int r = pick(rng);
        int c = r < leaf - 1 ? r + 1 : leaves + 2 + (r - (leaf - 1));
        int m = next++, p = t[c].parent;
        if (t[p].left == c)
            t[p].left = m;
        else if (t[p].right == c)
            t[p].right = m;
        else
            t[p].third = m;
        double x = u(rng);
        t[m].parent = p, t[m].left = c, t[m].right = leaf, t[m].length = t[c].length * x;
        t[c].length *= 1 - x, t[c].parent = m;
        t[leaf].parent = m, t[leaf].length = len(rng);
    }
}

double scoreAll(const std::vector<int>& columns, int count, std::vector<double>& result) {
    auto start = std::chrono::steady_clock::now();
    for (int col = 0; col < count; col++) {
        for (int i = 1; i <= leaves; i++) node[i].code[1] = columns[col * leaves + i - 1];
        result[col] = calTree(1, leaves + 1, 1.3);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count < 1) {
        fprintf(stderr, "usage: bench_likelihood [columns]\n");
        return 1;
    }
    std::mt19937 rng(2024);
    buildModel(rng);
    buildSiteTree(rng);
    std::vector<int> columns(static_cast<size_t>(count) * leaves);
    std::uniform_int_distribution<int> residue(1, 20);
    for (int& k : columns) k = residue(rng);

    std::vector<double> cached(count), direct(count);
    transitionCacheEnabled = true;
    double cachedTime = scoreAll(columns, count, cached);
    transitionCacheEnabled = false;
    double directTime = scoreAll(columns, count, direct);

    int differ = 0;
    for (int col = 0; col < count; col++)
        if (std::memcmp(&cached[col], &direct[col], sizeof(double)) != 0) differ++;
    printf("%d columns, %d leaves, one gap-free site tree\n", count, leaves);
    printf("stored matrices: %10.4f s (%8.2f us per column)\n", cachedTime, 1e6 * cachedTime / count);
    printf("pij in the loop: %10.4f s (%8.2f us per column)\n", directTime, 1e6 * directTime / count);
    printf("speed-up: %.1fx\n", directTime / cachedTime);
    printf("results differing: %d of %d\n", differ, count);
    return differ == 0 ? 0 : 1;
}
