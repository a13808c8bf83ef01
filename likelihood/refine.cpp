#include "refine.h"

#include "alignment.h"
#include "branchlength.h"
#include "likelihoodstep.h"
#include "model.h"
#include "settings.h"
#include "sitelikelihood.h"
#include "siterules.h"
#include "sitework.h"
#include "transitioncache.h"
#include "treeopt.h"

#include <cstdio>

int Anneal_site_func1 = 0;

// The transition data come from the store, whose entries for tree t hold what the branch
// lengths and the rate give, whatever column is scored on them.
void calRL(int t, int c, int col, double a) {
    SiteTreeNode* tree = gapTree[t];
    for (int k : childrenFirst(tree, c)) {
        SiteTreeNode& r = tree[k];
        Transitions& P = branchTransitions(t, k, a);
        if (r.left == 0 || r.right == 0) {
            const double* v = P.leafColumn(node[k].code[col], &r.scale);
            for (int i = 1; i <= 20; i++) r.vec[i] = v[i];
            continue;
        }
        combineChildren(P.matrix(), tree[r.left].vec, tree[r.right].vec, r.vec);
        r.scale = rescale(r.vec, Gauge::LargestEntry) + tree[r.left].scale + tree[r.right].scale;
    }
}

namespace {

// B[s]: the log-likelihood of every computed site at its rate (with D_A_P_Flag 4 under the
// site's own model, the alignment's model back afterwards); 0 for the others.
std::vector<double> siteLikelihoods() {
    std::vector<double> B(seqLength + 1, 0.0);
    for (int s = 1; s <= seqLength; s++) {
        Anneal_site_func1 = s;
        if (!computedSite(s)) continue;
        double saved[21];
        if (D_A_P_Flag == 4) useSiteFrequencies(s, saved);
        B[s] = calTree(s, treeRoot[s], alfa[s]);
        if (D_A_P_Flag == 4) restoreModel(saved);
    }
    return B;
}

double total(const std::vector<double>& values) {
    double sum = 0.0;
    for (size_t s = 1; s < values.size(); s++) sum += values[s];
    return sum;
}

// The rate of largest likelihood of every site, clipped in its upper tail relative to the
// current rates; becomes alfa. Returns the mean rate of the computed sites, CV; F receives
// each computed site's log-likelihood at its new rate.
double optimiseRates(int leftOut, std::vector<double>& F) {
    int L = seqLength;
    std::printf("optimizing alpha vector...\n");
    std::vector<double> M(L + 1, RATE_TAKEN_AS_ZERO), best(L + 1, 0.0);
    std::vector<int> variable;
    for (int s = 1; s <= L; s++) {
        if (!computedSite(s)) {
            best[s] = 0.0;
        } else if (invariantLetters(s)) {
            best[s] = calTree(s, treeRoot[s], RATE_TAKEN_AS_ZERO);
        } else {
            M[s] = searchAlpha(s, &best[s]);
            variable.push_back(s);
        }
        std::printf("site: %4d  E alpha: %10.5f alfa value: %10.5f  L value: %10.5e\n", s, alfa[s], M[s],
                    best[s]);
    }
    std::printf("Finish finding each alpha value for max L\n");

    std::vector<double> r(L + 1, 0.0);
    std::vector<char> include(L + 1, 0);
    for (int s : variable) r[s] = M[s] / alfa[s], include[s] = 1;
    clipUpperTail(r.data(), include.data(), L, 3.0, CLIP_PASS_LIMIT);
    for (int s : variable) M[s] = r[s] * alfa[s];

    double CV = total(M) / (L - leftOut);
    for (int s = 1; s <= L; s++) F[s] = computedSite(s) ? calTree(s, treeRoot[s], M[s]) : 0.0;
    std::printf("CValue: %12.8f\n", CV);
    for (int s = 1; s <= L; s++)
        std::fprintf(resultFile, "%12.6f   %12.6f  %12.6f\n", alfa[s], M[s] / CV, M[s]);
    for (int s = 1; s <= L; s++) alfa[s] = M[s];
    std::printf("Finish optimizing alpha vector...\n");
    return CV;
}

// Per site its letters, its rate divided by divisor and its log-likelihood logL[s].
void writeFinalTable(double divisor, const std::vector<double>& logL) {
    std::fprintf(resultFile, "\n\nThe final LOG likelyhood: %18.12f\n", total(logL));
    std::fprintf(resultFile, " site");
    for (int i = 1; i <= seqNum; i++) std::fprintf(resultFile, "%c ", ' ');
    std::fprintf(resultFile, "    alfa    LOG(likelihood)\n");
    for (int s = 1; s <= seqLength; s++) {
        std::fprintf(resultFile, "%5d ", s);
        for (int i = 1; i <= seqNum; i++) std::fprintf(resultFile, "%c ", node[i].seq[s]);
        std::fprintf(resultFile, "%8.5f   %12.8f\n", alfa[s] / divisor, logL[s]);
    }
}

// The states of the inner nodes at every computed site, by optTree (method 1) or
// optTree_Goldstein (method 0); rate(s) gives the site's rate.
template <typename Rate> void reconstructSites(int method, Rate rate) {
    for (int s = 1; s <= seqLength; s++) {
        if (!computedSite(s)) continue;
        if (method == 1)
            optTree(s, rate(s));
        else if (method == 0)
            optTree_Goldstein(s, rate(s));
    }
}

void assignInnerLetters() {
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        node[i].seq[0] = ' ';
        for (int s = 1; s <= seqLength; s++) node[i].seq[s] = aa[node[i].code[s]];
    }
}

// One block per inner node in the row layout of the root probability file; blockEnd
// follows each block.
void writeProbabilityTable(const char* blockEnd) {
    allocateNodeProb();
    std::fprintf(resultFile, "\n\n\nThe transition probability:\n");
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        std::fprintf(resultFile, "Sequence Number: %4d  (probability*10^(-4))\n", i);
        std::fprintf(resultFile, "  SN  AA");
        for (int j = 1; j <= 20; j++) std::fprintf(resultFile, "     %c", aa[j]);
        std::fprintf(resultFile, "\n");
        for (int s = 1; s <= seqLength; s++) {
            std::fprintf(resultFile, "%4d  %c ", s, node[i].seq[s]);
            for (int j = 1; j <= 20; j++) std::fprintf(resultFile, "%6.0f", nodeProb[i][s][j] * 10000);
            std::fprintf(resultFile, "\n");
        }
        std::fprintf(resultFile, "%s", blockEnd);
    }
}

void writePrediction() {
    std::fprintf(resultFile, "\n\nThe prediction for all dadiverur nodes:\n");
    for (int i = 1; i <= 2 * seqNum - 2; i++)
        std::fprintf(resultFile, "%5d %20s %s\n", i, node[i].name, node[i].seq);
}

} // namespace

void optimalAlfa(int mode, int method, bool noReport) {
    int leftOut = 0;
    for (int s = 1; s <= seqLength; s++) {
        if (mode == 1) alfa[s] = 1.0;
        if (!computedSite(s)) leftOut++;
    }
    std::vector<double> B = siteLikelihoods();
    std::fprintf(resultFile, "\n\nThe original LOG Likelyhood: %21.15f\n", total(B));
    if (mode == 0) {
        std::vector<double> F(seqLength + 1, 0.0);
        double CV = optimiseRates(leftOut, F);
        writeFinalTable(CV, F);
    } else if (mode == 2) {
        writeFinalTable(1.0, B);
    }
    if (noReport) return;

    reconstructSites(method, [](int s) { return alfa[s]; });
    std::printf("finish finding optimal solution for each internal node\n");
    assignInnerLetters();
    std::printf("finish assigning letter for each internal node\n");
    if (method == 0) writeProbabilityTable("\n\n");
    writePrediction();
}

void noOptimalAlfa(int method) {
    std::printf("Use alfa=1.0 to find result\n");
    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++)
        if (computedSite(s)) sum += calTree(s, treeRoot[s], 1.0);
    std::fprintf(resultFile, "\n\nThe LOG likelihood: %12.5f\n\n", sum);
    reconstructSites(method, [](int) { return 1.0; });
    assignInnerLetters();
    if (method == 0) writeProbabilityTable("\n\n\n");
    writePrediction();
}
