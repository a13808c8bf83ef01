#include "simulation.h"

#include "alignment.h"
#include "likelihoodstep.h"
#include "model.h"
#include "numerics/ran1.h"
#include "rootprob.h"
#include "sitelikelihood.h"
#include "sitetree.h"
#include "transitioncache.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

long idum = -64;
std::time_t (*seedClock)() = [] { return std::time(nullptr); };

namespace {

bool isResidue(int state) {
    return state >= 1 && state <= RESIDUE_STATES;
}

bool isLeaf(int k) {
    return k >= 1 && k <= seqNum;
}

// A state that pij can take: inner records start with code 0 and a draw may catch nothing.
int usableState(int state) {
    return isResidue(state) ? state : NONE_CAUGHT_STATE;
}

void setState(int k, int site, int state) {
    node[k].code[site] = state;
    node[k].seq[site] = aa[state];
}

// The state that u falls into under the cumulative sums c; 0 when no bound catches it.
int caughtState(const double* c, double u) {
    if (u <= c[1]) return 1;
    for (int j = 1; j <= 19; j++)
        if (c[j] < u && u <= c[j + 1] + 1e-10) return j + 1;
    return 0;
}

// Where u lies within the stretch that gave it its state under the cumulative sums c, as a
// share from 0 to 1: (c[j-1], c[j]] for state j (c[0] = 0), (c[20], 1) when no bound caught
// it. A uniform u lies uniformly within its stretch, so the share can stand for a draw of its
// own.
double stretchShare(const double* c, double u, int caught) {
    double lower = caught == 0 ? c[RESIDUE_STATES] : caught == 1 ? 0.0 : c[caught - 1];
    double upper = caught == 0 ? 1.0 : c[caught];
    if (!(upper > lower)) return 1.0;
    return std::clamp((u - lower) / (upper - lower), 0.0, 1.0);
}

// The state of a draw that subtracts p[1], p[2], ... from u: the first j in 1..19 that leaves
// u below 0, else 20 when u is left above 0; 0 when u is left at exactly 0.
int subtractedState(const double* p, double u) {
    for (int j = 1; j <= 19; j++) {
        u -= p[j];
        if (u < 0) return j;
    }
    return u > 0 ? RESIDUE_STATES : 0;
}

// Whether f gives weight to a residue that the model in use can not hold.
bool weighsUnheldState(const double* f) {
    for (int j = 1; j <= RESIDUE_STATES; j++)
        if (!modelHolds(j) && f[j] != 0.0) return true;
    return false;
}

// The weight that f gives to the residues the model in use can hold.
double heldWeight(const double* f) {
    double held = 0.0;
    for (int j = 1; j <= RESIDUE_STATES; j++)
        if (modelHolds(j)) held += f[j];
    return held;
}

// The probabilities a draw among the residues the model in use can hold takes in place of f:
// f itself when it gives no weight to any other residue, so that such draws stay exactly as
// they are; otherwise, into restricted, f without those residues scaled to sum 1, or the
// model's own frequencies alike when nothing of f is left. A simulated column showing a
// residue that the model can not hold would have likelihood 0.
const double* heldDrawProbabilities(const double* f, double* restricted) {
    if (!weighsUnheldState(f)) return f;
    if (!(heldWeight(f) > 0.0)) f = modelPI;
    if (!weighsUnheldState(f)) return f;
    double held = heldWeight(f);
    for (int j = 1; j <= RESIDUE_STATES; j++) restricted[j] = modelHolds(j) ? f[j] / held : 0.0;
    return restricted;
}

// The state a draw falls back on when no bound catches it and the usual fallback is a
// residue the model can not hold: the last one it can.
int lastHeldState() {
    int state = NONE_CAUGHT_STATE;
    for (int j = 1; j <= RESIDUE_STATES; j++)
        if (modelHolds(j)) state = j;
    return state;
}

// A state of the draw from row `from` of the branch's transitions among the residues the model
// in use can hold, the share (0..1) standing for the draw.
int heldState(Transitions& branch, int from, double share) {
    TransitionColumns P = branch.matrix();
    double row[RESIDUE_STATES + 1];
    for (int j = 1; j <= RESIDUE_STATES; j++) row[j] = P[j][from];
    double restricted[RESIDUE_STATES + 1];
    const double* p = heldDrawProbabilities(row, restricted);
    int state = subtractedState(p, share * heldWeight(p));
    return state != 0 && modelHolds(state) ? state : lastHeldState();
}

// alfa at one site, set to another rate for a simulation and put back when the scope ends,
// however it ends.
class SavedRate {
  public:
    SavedRate(int site, double rate) : site(site), saved(alfa[site]) { alfa[site] = rate; }
    ~SavedRate() { alfa[site] = saved; }
    SavedRate(const SavedRate&) = delete;
    SavedRate& operator=(const SavedRate&) = delete;

  private:
    int site;
    double saved;
};

// The leaves' codes at a site, entries 1..seqNum.
std::vector<int> leafCodes(int site) {
    std::vector<int> codes(seqNum + 1, 0);
    for (int i = 1; i <= seqNum; i++) codes[i] = node[i].code[site];
    return codes;
}

template <typename Code> bool hasGap(const Code* codes, int n) {
    return std::find(codes + 1, codes + n + 1, Code(0)) != codes + n + 1;
}

// One shuffle on a copy of the column's codes[1..n], which is faster than on the node records:
// 100·n transpositions, each of two distinct leaves taken from draws (indices 1..n of idum) that
// exchange their codes when both hold a residue. A column without gaps (gapped false) exchanges
// every pair, without the test.
template <typename Code> void shuffleCodes(Code* codes, int n, bool gapped, Ran1Indices& draws) {
    if (!gapped) {
        draws.transpositions(100L * n, [codes](int i, int j) { std::swap(codes[i], codes[j]); });
        return;
    }
    draws.transpositions(100L * n, [codes](int i, int j) {
        // Without a branch: the leaves drawn are gapped at random, so that a branch on it would
        // often be mispredicted, at a cost beyond the exchange's.
        int ci = codes[i];
        int cj = codes[j];
        int both = -static_cast<int>(ci * cj != 0);
        int exchanged = (ci ^ cj) & both;
        codes[i] = static_cast<Code>(ci ^ exchanged);
        codes[j] = static_cast<Code>(cj ^ exchanged);
    });
}

// step(parent, child) on every branch below record k of tree 0 in pre-order: the left
// child, its whole subtree, then the right child and its subtree. Nothing lies below a
// flagged record or a leaf. The branches still to visit stand in for a recursion as deep as
// the tree; a record's children are read before anything below the left one is visited.
template <typename Step> void forEachBranchBelow(int k, Step step) {
    SiteTreeNode* t = gapTree[0];
    std::vector<std::pair<int, int>> pending;
    auto pushBranchesBelow = [&](int p) {
        if (t[p].gap || isLeaf(p)) return;
        pending.push_back({p, t[p].right});
        pending.push_back({p, t[p].left});
    };
    pushBranchesBelow(k);
    while (!pending.empty()) {
        auto [parent, child] = pending.back();
        pending.pop_back();
        step(parent, child);
        pushBranchesBelow(child);
    }
}

} // namespace

void reconstructTree(int tree, int root, bool rooted) {
    SiteTreeNode* t = gapTree[tree];
    reconstruct(tree, t[root].left);
    reconstruct(tree, t[root].right);
    if (!rooted) {
        reconstruct(tree, t[root].third);
        return;
    }
    if (t[t[root].left].gap || t[t[root].right].gap) t[root].gap = 1;
}

// Post-order: a record's left subtree, then its right one, then the record itself. Its slots
// are read only when the subtrees before them are done, as pruning the left subtree puts a
// new child into the left slot. The records still waiting stand in for a recursion as deep as
// the tree.
void reconstruct(int tree, int k) {
    SiteTreeNode* t = gapTree[tree];
    enum Stage { LEFT, RIGHT, SELF };
    struct Waiting {
        int k;
        Stage next;
    };
    std::vector<Waiting> waiting = {{k, LEFT}};
    while (!waiting.empty()) {
        Waiting& w = waiting.back();
        int j = w.k;
        if (w.next == LEFT) {
            if (t[j].left == 0 || t[j].right == 0) {
                waiting.pop_back();
                continue;
            }
            w.next = RIGHT;
            if (t[j].left > seqNum) waiting.push_back({t[j].left, LEFT});
        } else if (w.next == RIGHT) {
            w.next = SELF;
            if (t[j].right > seqNum) waiting.push_back({t[j].right, LEFT});
        } else {
            waiting.pop_back();
            pruneInner(t, j, -1);
        }
    }
}

// A leaf never shows a residue that the model in use can not hold: its column would have
// likelihood 0 and its statistic would not be a number. A leaf whose draw gives one (from an
// inner record that holds one, as a record without a state keeps V when no bound catches its
// draw) takes a draw among the held residues from the same row, on the same uniform value: no
// further draw is taken, so every column whose leaves all show held residues stays as it was.
// Inner records keep their draws for the same reason.
void mutation(int site, int k) {
    forEachBranchBelow(k, [site](int parent, int c) {
        int from = usableState(node[parent].code[site]);
        Transitions& branch = branchTransitions(0, c, alfa[site]);
        const double* cum = branch.cumulativeRow(from);
        double u = ran1(&idum);
        int caught = caughtState(cum, u);
        int state = caught != 0 ? caught : usableState(node[c].code[site]);
        if (isLeaf(c) && !modelHolds(state)) state = heldState(branch, from, stretchShare(cum, u, caught));
        setState(c, site, state);
    });
}

void mutation_vector(int site, int k) {
    SiteTreeNode* t = gapTree[0];
    forEachBranchBelow(k, [site, t](int parent, int c) {
        passDown(branchTransitions(0, c, alfa[site]).matrix(), t[parent].vec, t[c].vec);
    });
}

bool prepareSimulationTree(int site) {
    copyTreeRecords(gapTree[0], copyTree[0]);
    for (int i = 1; i <= seqNum; i++)
        if (node[i].seq[site] == '-') gapTree[0][i].gap = 1;
    reconstructTree(0, 0, true);
    return !gapTree[0][0].gap;
}

void drawRootState(int site, long* seed) {
    double u = ran1(seed);
    double restricted[RESIDUE_STATES + 1];
    const double* p = heldDrawProbabilities(RootProbMatrix[site], restricted);
    int state = subtractedState(p, u);
    if (state == 0) state = usableState(node[0].code[site]);
    if (!modelHolds(state)) state = lastHeldState();
    setState(0, site, state);
    mutation(site, 0);
}

double leafEntropy(int site, double divisor, double start) {
    int count[RESIDUE_STATES + 1] = {};
    for (int i = 1; i <= seqNum; i++) count[node[i].code[site]]++;
    int letters = seqNum - count[0];
    double h = start;
    if (letters == 0) return h;
    for (int j = 1; j <= RESIDUE_STATES; j++) {
        double f = static_cast<double>(count[j]) / letters;
        if (f > FREQUENCY_TAKEN_AS_ZERO) h += -f * std::log(f) / divisor;
    }
    return h;
}

double func_simulation_alpha(int site, double x, int N) {
    prepareSimulationTree(site);
    SavedColumn observed(site);
    SavedRate rate(site, x);
    srand(seedClock());
    long ownSeed = -rand();
    double h0 = leafEntropy(site);
    double mean = 0.0;
    for (int n = 0; n < N; n++) {
        drawRootState(site, &ownSeed);
        mean = leafEntropy(site, N, mean);
    }
    return mean - h0;
}

double func_simulation_vector(int site, double x, int N) {
    // With a flagged root no leaf vector is reached: there is no expected column to compare.
    if (!prepareSimulationTree(site)) return 0.0;
    SiteTreeNode* t = gapTree[0];
    SavedRate rate(site, x);
    double h0 = leafEntropy(site);
    for (int j = 1; j <= RESIDUE_STATES; j++) t[0].vec[j] = RootProbMatrix[site][j];
    mutation_vector(site, 0);
    int leaves = 0;
    double f[RESIDUE_STATES + 1] = {};
    for (int i = 1; i <= seqNum; i++) {
        if (t[i].gap) continue;
        leaves++;
        for (int j = 1; j <= RESIDUE_STATES; j++) f[j] += t[i].vec[j];
    }
    double h = 0.0;
    for (int j = 1; j <= RESIDUE_STATES; j++) {
        double fj = f[j] / leaves;
        if (fj > FREQUENCY_TAKEN_AS_ZERO) h += -fj * std::log(fj) / N;
    }
    return h - h0;
}

void shuffleColumn(int site) {
    std::vector<int> codes = leafCodes(site);
    Ran1Indices draws(&idum, seqNum);
    shuffleCodes(codes.data(), seqNum, hasGap(codes.data(), seqNum), draws);
    for (int i = 1; i <= seqNum; i++) setState(i, site, codes[i]);
}

SavedColumn::SavedColumn(int s) : site(s), code(seqNum + 1), letter(seqNum + 1) {
    for (int i = 1; i <= seqNum; i++) {
        code[i] = node[i].code[site];
        letter[i] = node[i].seq[site];
    }
}

SavedColumn::~SavedColumn() {
    for (int i = 1; i <= seqNum; i++) {
        node[i].code[site] = code[i];
        node[i].seq[site] = letter[i];
    }
}

void drawShuffles(int site, unsigned char* codes, int stride) {
    for (int i = 1; i <= seqNum; i++) codes[i] = static_cast<unsigned char>(node[i].code[site]);
    // The shuffles draw one after another, from one stream of indices; the gaps stay in place.
    bool gapped = hasGap(codes, seqNum);
    Ran1Indices draws(&idum, seqNum);
    for (int s = 1; s <= SHUFFLES; s++) {
        unsigned char* column = codes + static_cast<std::size_t>(s) * stride;
        std::copy(codes, codes + stride, column);
        shuffleCodes(column, seqNum, gapped, draws);
    }
}

// The column and its shuffles go through the tree together: the shuffles are drawn first, in
// the order of the draws, then all their likelihoods computed in one pass.
double shuffleStatistic(int site) {
    int stride = seqNum + 1;
    std::vector<unsigned char> codes(static_cast<std::size_t>(SHUFFLES + 1) * stride, 0);
    drawShuffles(site, codes.data(), stride);
    std::vector<double> logL(SHUFFLES + 1);
    calTreeColumns(site, treeRoot[site], alfa[site], codes.data(), stride, SHUFFLES + 1, logL.data());
    double sum = 0.0;
    for (int s = 1; s <= SHUFFLES; s++) sum += logL[s];
    double mean = sum / SHUFFLES;
    return (mean - logL[0]) / mean;
}
