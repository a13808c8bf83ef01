#include "wnj/build.h"

#include "wnj/calcb.h"
#include "wnj/calcq.h"
#include "wnj/calcz.h"
#include "wnj/io.h"
#include "wnj/matrix.h"
#include "wnj/noise.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace wnj {

namespace {

template <typename T> T* allocateOrFail(int count, const char* msg) {
    T* p = static_cast<T*>(std::malloc(sizeof(T) * static_cast<std::size_t>(count)));
    if (!p) printError(msg);
    return p;
}

// Slot a's row and column of the compact copies from nodes, mD and vC, over the first
// active slots.
void refreshSlot(int a, int active) {
    int na = nodes[a]->index;
    slotNodeIndex[a] = na;
    slotOffset[a] = vC[na];
    for (int b = 0; b < active; b++) {
        int nb = nodes[b]->index;
        slotDistance[a][b] = slotDistance[b][a] = mD[na][nb];
    }
    for (int b = 0; b < active; b++) {
        int first = na < slotNodeIndex[b] ? a : b, second = first == a ? b : a;
        double whole = slotDistance[a][b] + slotOffset[first] + slotOffset[second];
        slotPathVariance[a][b] = slotPathVariance[b][a] = sigma2t(whole);
        mS[a][b] = mS[b][a] = -1.0; // a new node has no cached sums
    }
}

// Slot a's node, about to leave the active slots, goes into the parked row.
void parkSlot(int a, int active) {
    slotNodeIndex[PARKED_SLOT] = slotNodeIndex[a];
    slotOffset[PARKED_SLOT] = slotOffset[a];
    for (double** m : {slotDistance, slotPathVariance}) {
        for (int b = 0; b < active; b++) m[PARKED_SLOT][b] = m[b][PARKED_SLOT] = m[a][b];
        m[PARKED_SLOT][PARKED_SLOT] = m[a][a];
    }
}

// The compact copies follow two slots that exchange their nodes.
void swapSlots(int a, int b, int active) {
    if (a == b) return;
    std::swap(slotNodeIndex[a], slotNodeIndex[b]);
    std::swap(slotOffset[a], slotOffset[b]);
    for (double** m : {slotDistance, slotPathVariance, mS, mDelB, mDel2B}) {
        std::swap_ranges(m[a], m[a] + active, m[b]);
        for (int k = 0; k < active; k++) std::swap(m[k][a], m[k][b]);
        std::swap(m[PARKED_SLOT][a], m[PARKED_SLOT][b]);
        std::swap(m[a][PARKED_SLOT], m[b][PARKED_SLOT]);
    }
}

// The variance of the path from the node in slot J (branch share bJ) to every other
// active node, summed: the larger it is, the less its distances count for the new node.
double pathVariances(int i, int J, int M, double bJ) {
    double sum = 0.0;
    for (int j = 0; j < i; j++)
        if (j != J && j != M)
            sum += sigma_na(DMAX(bJ, MINB) + slotC(J), DMAX(slotD(J, j) - bJ, MINB) + slotC(j));
    return sum + EPSILON;
}

// The lengths of the joined pair: a negative side becomes 0 and the other takes the whole.
void setLengths(int J, int M, double lJ, double lM) {
    if (lJ < 0) {
        lJ = 0.0;
        lM = slotD(J, M);
    } else if (lM < 0) {
        lM = 0.0;
        lJ = slotD(J, M);
    }
    nodes[J]->length = lJ;
    nodes[M]->length = lM;
}

} // namespace

void createWorkingState(int n, double** D, char** names) {
    s = matrix(n);
    deltaB = matrix(n);
    delta2B = matrix(n);
    // n x n doubles exist, so 2n-3 cannot overflow.
    int N = 2 * n - 3;
    mD = matrix(N);
    vC = vector(N);
    mS = matrix(n + 1);
    mDelB = matrix(n + 1);
    mDel2B = matrix(n + 1);
    setMM(n, D, mD);
    nodes = allocateOrFail<_NodeT*>(N, "build::buildTree:out of memory-nodes");
    for (int k = 0; k < n; k++) {
        nodes[k] = createNode();
        nodes[k]->name = names[k];
        nodes[k]->index = k;
    }
    forgetAllZScores();
    PARKED_SLOT = n;
    slotDistance = matrix(n + 1);
    slotPathVariance = matrix(n + 1);
    slotOffset = vector(n + 1);
    slotNodeIndex = allocateOrFail<int>(n + 1, "build::buildTree:out of memory-slots");
    for (int k = 0; k < n; k++) slotNodeIndex[k] = k;
    for (int k = 0; k < n; k++) refreshSlot(k, n);
}

void releaseWorkingState() {
    for (double** m : {s, deltaB, delta2B, mD, mS, mDelB, mDel2B, slotDistance, slotPathVariance})
        freeMatrix(m);
    freeVector(vC);
    freeVector(slotOffset);
    std::free(slotNodeIndex);
    forgetAllZScores();
    std::free(nodes);
    nodes = nullptr;
}

int choosePair(int i, const int* q, const double* R) {
    int J = -1;
    for (int k = 0; k < i; k++)
        if (q[q[k]] == k && (J < 0 || R[k] < R[J])) J = k;
    if (J >= 0) return J;
    J = R[1] > R[0] ? 0 : 1;
    for (int k = 2; k < i; k++)
        if (R[k] < R[J]) J = k;
    return J;
}

void joinPair(int i, int next, int J, int M, double** b, const double* Z) {
    if (M < J) std::swap(J, M);
    if (Z[J] < 0) {
        double phi = calcPhi(i, J, M);
        if (phi > 0) {
            double dbar = slotD(J, M) - phi;
            b[J][M] = branchShare(dbar, deltaB[J][M]);
            b[M][J] = branchShare(dbar, deltaB[M][J]);
        }
    }
    setLengths(J, M, b[J][M], b[M][J]);
    double lJ = nodes[J]->length, lM = nodes[M]->length;

    _NodeT* W = createNode();
    W->index = next;
    W->child1 = nodes[J];
    W->child2 = nodes[M];
    W->name = W->child1->name;

    double SJ = pathVariances(i, J, M, b[J][M]), SM = pathVariances(i, M, J, b[M][J]);
    for (int j = 0; j < i; j++) {
        if (j == J || j == M) continue;
        double d = ((slotD(M, j) - lM) / SM + (slotD(J, j) - lJ) / SJ) / (1.0 / SM + 1.0 / SJ);
        if (d < 0) d = 0.0;
        mD[next][nodes[j]->index] = mD[nodes[j]->index][next] = d;
    }
    mD[next][next] = 0.0;
    double vJ = sigma2t(DMAX(lJ, MINB) + slotC(J)), vM = sigma2t(DMAX(lM, MINB) + slotC(M));
    vC[next] = SJ + SM > 0 ? sigma2tinv((SJ * SJ * vM + SM * SM * vJ) / SQR(SJ + SM)) : sigma2tinv(0.0);

    forgetZScores(nodes[J]->index);
    forgetZScores(nodes[M]->index);
    nodes[next] = nodes[J];
    nodes[J] = W;
    std::swap(nodes[M], nodes[i - 1]);
    parkSlot(J, i);
    swapSlots(M, i - 1, i);
    refreshSlot(J, i - 1);
    W->createIndex = next;
    W->activeCount = i - 1;
    ta = next;
    tb = i - 1;
    tc = J;
}

RootNodeT* makeTop() {
    double d01 = slotD(0, 1), d02 = slotD(0, 2), d12 = slotD(1, 2);
    double l[3] = {(d01 + d02 - d12) / 2.0, (d01 - d02 + d12) / 2.0, (d02 - d01 + d12) / 2.0};
    // A negative length (distances that break the triangle inequality) becomes 0; the
    // other two share its deficit.
    for (int k = 0; k < 3; k++) {
        if (l[k] >= 0) continue;
        for (int other = 0; other < 3; other++)
            if (other != k) l[other] += l[k] / 2.0;
        l[k] = 0.0;
    }
    for (int k = 0; k < 3; k++) nodes[k]->length = l[k];
    RootNodeT* root = createRootNode();
    root->child2 = nodes[0];
    root->child1 = nodes[1];
    root->child0 = nodes[2];
    return root;
}

RootNodeT* buildTree(int n, double** D, char** names) {
    double** b = matrix(n);
    double *R = vector(n), *P = vector(n), *Z = vector(n);
    int* q = allocateOrFail<int>(n, "build::buildTree:out of memory-q\n");
    int* q2 = allocateOrFail<int>(n, "build::buildTree:out of memory-q2\n");
    createWorkingState(n, D, names);

    int next = n;
    for (int i = n; i > 3; i--, next++) {
        joinsMade = n - i;
        calc_q(i, q, R, b, q2, P, Z);
        int J = choosePair(i, q, R);
        joinPair(i, next, J, q[J], b, Z);
    }
    RootNodeT* root = makeTop();

    releaseWorkingState();
    freeMatrix(b);
    for (double* v : {R, P, Z}) freeVector(v);
    std::free(q);
    std::free(q2);
    return root;
}

int maxVector(int n, double* v) {
    int best = 0;
    for (int k = 1; k < n; k++)
        if (v[k] > v[best]) best = k;
    return best;
}

} // namespace wnj
