#include "refine_setup.h"

#include "alignment.h"
#include "model.h"
#include "refine.h"
#include "rootprob.h"
#include "settings.h"
#include "sitelikelihood.h"
#include "siterules.h"
#include "sitework.h"
#include "treeopt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using refinesetup::loadSixSequences;
using refinesetup::resultOf;

namespace {

std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

class Refinement : public ::testing::Test {
  protected:
    void SetUp() override {
        loadSixSequences();
        D_A_P_Flag = 0;
        for (int s = 1; s <= seqLength; s++) alfa[s] = 0.5 + 0.25 * s;
    }
    void TearDown() override { D_A_P_Flag = 0; }

    // The log-likelihood of every site at its rate, 0 for a site left out.
    std::vector<double> likelihoods() {
        std::vector<double> B(seqLength + 1, 0.0);
        for (int s = 1; s <= seqLength; s++)
            if (computedSite(s)) B[s] = calTree(s, treeRoot[s], alfa[s]);
        return B;
    }

    // The table of sites, letters, rates (divided by divisor) and log-likelihoods.
    std::string finalTable(const std::vector<double>& logL, double divisor) {
        double sum = 0.0;
        for (int s = 1; s <= seqLength; s++) sum += logL[s];
        std::string text = format("\n\nThe final LOG likelyhood: %18.12f\n", sum);
        text += " site" + std::string(2 * seqNum, ' ') + "    alfa    LOG(likelihood)\n";
        for (int s = 1; s <= seqLength; s++) {
            text += format("%5d ", s);
            for (int i = 1; i <= seqNum; i++) text += format("%c ", node[i].seq[s]);
            text += format("%8.5f   %12.8f\n", alfa[s] / divisor, logL[s]);
        }
        return text;
    }

    // The closing table: every record with its letters; the inner records carry the letters
    // of the states left in their codes.
    std::string prediction() {
        const char* leaves[] = {"", " AAA---L", " AAR-A-L", " ARNRR-L", " ARDR--L", " AKCKKK-", " AKQKKRL"};
        std::string text = "\n\nThe prediction for all dadiverur nodes:\n";
        for (int i = 1; i <= seqNum; i++) text += format("%5d %20s %s\n", i, node[i].name, leaves[i]);
        for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
            std::string letters = " ";
            for (int s = 1; s <= seqLength; s++) letters += aa[node[i].code[s]];
            text += format("%5d %20s %s\n", i, "", letters.c_str());
        }
        return text;
    }
};

TEST_F(Refinement, FourArgumentCalRLTakesTheLeafCodesOfTheGivenColumn) {
    // Sites 2 and 3 have no gap and so the same tree: column 3 on tree 2 is site 3 on its own.
    calTree(3, treeRoot[3], 1.7);
    // The sites' trees share their vectors: site 3's values are kept aside.
    std::vector<int> ownScale(DIM);
    std::vector<std::array<double, 21>> ownVec(DIM);
    for (int c = 1; c < DIM; c++) {
        ownScale[c] = gapTree[3][c].scale;
        std::copy(gapTree[3][c].vec, gapTree[3][c].vec + 21, ownVec[c].begin());
    }
    for (int c : {gapTree[2][7].left, gapTree[2][7].right, gapTree[2][7].third}) calRL(2, c, 3, 1.7);
    for (int c = 1; c < DIM; c++) {
        if (c == 7) continue;
        EXPECT_EQ(gapTree[2][c].scale, ownScale[c]) << "record " << c;
        for (int i = 1; i <= 20; i++) EXPECT_DOUBLE_EQ(gapTree[2][c].vec[i], ownVec[c][i]) << c << " " << i;
    }
}

// Leaves e and f of column 3 hold residues C and Q; with both taken as absent from the model
// no state above reaches both, so their parent's vector is exactly 0 and is left unscaled.
TEST_F(Refinement, FourArgumentCalRLLeavesAZeroVectorUnscaled) {
    double savedC = PI[5], savedQ = PI[6];
    PI[5] = PI[6] = 0.0;
    calRL(2, 10, 3, 1.0);
    PI[5] = savedC, PI[6] = savedQ;
    EXPECT_EQ(gapTree[2][10].scale, 0);
    for (int i = 1; i <= 20; i++) EXPECT_EQ(gapTree[2][10].vec[i], 0.0);
}

// A clipped value stands above the mean plus 3 standard deviations of the values it leaves
// behind, so clipping, once begun, runs to the last pass.
TEST(ClipUpperTail, ClipsTheUpperTailPassByPassUpToTheLimit) {
    std::vector<double> single(100, 0.0);
    single.back() = 1.0; // (K-1)/sqrt(K) = 9.9 deviations out
    std::vector<double> lowTail = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, -1000};
    struct Case {
        std::vector<double> values;
        bool clips;
    };
    std::vector<Case> cases = {
        {{}, false},
        {{7.0}, false},
        {{2.0, 2.0, 2.0, 2.0, 2.0, 2.0}, false},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, false},
        {lowTail, false},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 1000}, true},
        {single, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.values.size()) + " values");
        std::vector<double> r = c.values;
        r.insert(r.begin(), 0.0); // sites count from 1
        std::vector<char> include(r.size(), 1);
        int n = static_cast<int>(c.values.size());
        int passes = clipUpperTail(r.data(), include.data(), n, 3.0, 21);
        r.erase(r.begin());
        if (!c.clips) {
            EXPECT_EQ(r, c.values);
            EXPECT_LE(passes, 1);
            continue;
        }
        EXPECT_EQ(passes, 21);
        EXPECT_EQ(std::vector<double>(r.begin(), r.end() - 1),
                  std::vector<double>(c.values.begin(), c.values.end() - 1));
        EXPECT_LT(r.back(), c.values.back());
        EXPECT_GT(r.back(), c.values[c.values.size() - 2]);
    }
}

TEST_F(Refinement, KeptRatesReportTheirLikelihoodsAndTheJointStates) {
    std::vector<double> rates(alfa, alfa + seqLength + 1);
    std::vector<double> B = likelihoods();
    double sum = 0.0;
    for (double b : B) sum += b;
    testing::internal::CaptureStdout();
    std::string result = resultOf([] { optimalAlfa(2, 1, false); });
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "finish finding optimal solution for each internal node\n"
              "finish assigning letter for each internal node\n");
    EXPECT_EQ(std::vector<double>(alfa, alfa + seqLength + 1), rates);
    EXPECT_EQ(result,
              format("\n\nThe original LOG Likelyhood: %21.15f\n", sum) + finalTable(B, 1.0) + prediction());

    // The letters are those of the joint states, '-' where the site was not reconstructed.
    std::vector<std::vector<int>> codes(2 * seqNum - 1, std::vector<int>(seqLength + 1));
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++)
        for (int s = 1; s <= seqLength; s++) codes[i][s] = node[i].code[s];
    for (int s = 1; s <= seqLength; s++)
        if (computedSite(s)) optTree(s, alfa[s]);
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        for (int s = 1; s <= seqLength; s++) EXPECT_EQ(node[i].code[s], codes[i][s]) << i << " " << s;
        EXPECT_EQ(node[i].seq[6], '-');
    }
}

TEST_F(Refinement, OptimisedRatesAreTheMaximumLikelihoodRatesScaledByTheirMean) {
    std::vector<double> before(alfa, alfa + seqLength + 1);
    std::vector<double> M(seqLength + 1, 1e-8);
    testing::internal::CaptureStdout();
    for (int s : {2, 3, 4, 5}) M[s] = optimizeAlpha(s); // four letters or more at each
    testing::internal::GetCapturedStdout();
    double CV = 0.0;
    for (int s = 1; s <= seqLength; s++) CV += M[s];
    CV /= seqLength - 1; // site 6 is left out

    testing::internal::CaptureStdout();
    std::string result = resultOf([] { optimalAlfa(0, 1, true); });
    std::string printed = testing::internal::GetCapturedStdout();

    std::string table;
    std::vector<double> F(seqLength + 1, 0.0);
    for (int s = 1; s <= seqLength; s++) {
        EXPECT_DOUBLE_EQ(alfa[s], M[s]) << "site " << s;
        table += format("%12.6f   %12.6f  %12.6f\n", before[s], M[s] / CV, M[s]);
        if (computedSite(s)) F[s] = calTree(s, treeRoot[s], alfa[s]);
    }
    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++)
        if (computedSite(s)) sum += calTree(s, treeRoot[s], before[s]);
    std::string expected =
        format("\n\nThe original LOG Likelyhood: %21.15f\n", sum) + table + finalTable(F, CV);
    EXPECT_EQ(result, expected);

    EXPECT_EQ(printed.rfind("optimizing alpha vector...\n", 0), 0u);
    EXPECT_NE(printed.find(format("site: %4d  E alpha: %10.5f alfa value: %10.5f  L value: %10.5e\n", 6,
                                  before[6], 1e-8, 0.0)),
              std::string::npos);
    EXPECT_NE(printed.find(format("Finish finding each alpha value for max L\nCValue: %12.8f\n"
                                  "Finish optimizing alpha vector...\n",
                                  CV)),
              std::string::npos);
    EXPECT_EQ(printed.find("finish finding optimal solution"), std::string::npos);
}

TEST_F(Refinement, RateOneForEverySiteWritesNoRateTable) {
    std::string result = resultOf([] { optimalAlfa(1, 1, true); });
    for (int s = 1; s <= seqLength; s++) EXPECT_EQ(alfa[s], 1.0);
    std::vector<double> B = likelihoods();
    double sum = 0.0;
    for (double b : B) sum += b;
    EXPECT_EQ(result, format("\n\nThe original LOG Likelyhood: %21.15f\n", sum));
}

// The marginal states' table: one block per inner node, each in the row layout of the root
// probability file, so the first block reads back as root probabilities.
TEST_F(Refinement, MarginalStatesWriteTheProbabilityTable) {
    std::string path = testing::TempDir() + "refine_probabilities.txt";
    testing::internal::CaptureStdout();
    resultFile = std::fopen(path.c_str(), "w+");
    noOptimalAlfa(0);
    std::string result = resultText();
    std::fclose(resultFile);
    resultFile = stdout;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Use alfa=1.0 to find result\n");

    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++)
        if (computedSite(s)) sum += calTree(s, treeRoot[s], 1.0);
    std::string expected =
        format("\n\nThe LOG likelihood: %12.5f\n\n", sum) + "\n\n\nThe transition probability:\n";
    for (int i = seqNum + 1; i <= 2 * seqNum - 2; i++) {
        expected += format("Sequence Number: %4d  (probability*10^(-4))\n", i);
        expected += "  SN  AA     A     R     N     D     C     Q     E     G     H     I     L     K     M  "
                    "   F     P"
                    "     S     T     W     Y     V\n";
        for (int s = 1; s <= seqLength; s++) {
            expected += format("%4d  %c ", s, aa[node[i].code[s]]);
            for (int j = 1; j <= 20; j++) expected += format("%6.0f", nodeProb[i][s][j] * 10000);
            expected += "\n";
        }
        expected += "\n\n\n";
    }
    EXPECT_EQ(result, expected + prediction());

    // The first block's rows of zeros (sites whose tree leaves the top node out) are no
    // distribution and are refused; made uniform, they let the block read back.
    EXPECT_EXIT(readRootProbMatrix(path.c_str()), testing::ExitedWithCode(1),
                "line 14: the row of site 4 sums to 0 units");
    std::string zeros, uniform;
    for (int j = 1; j <= 20; j++) zeros += "     0", uniform += "   500";
    for (size_t at; (at = result.find(zeros)) != std::string::npos;)
        result.replace(at, zeros.size(), uniform);
    std::ofstream(path) << result;
    readRootProbMatrix(path.c_str());
    for (int s = 1; s <= seqLength; s++) {
        double sum = 0.0;
        for (int j = 1; j <= 20; j++) sum += nodeProb[seqNum + 1][s][j];
        for (int j = 1; j <= 20; j++)
            EXPECT_NEAR(RootProbMatrix[s][j], sum == 0.0 ? 0.05 : nodeProb[seqNum + 1][s][j], 0.5e-4 + 1e-12)
                << s << " " << j;
    }

    // optimalAlfa closes each block with two line ends.
    result = resultOf([] {
        testing::internal::CaptureStdout();
        optimalAlfa(1, 0, false);
        testing::internal::GetCapturedStdout();
    });
    size_t end = result.find("Sequence Number:    8");
    ASSERT_NE(end, std::string::npos);
    EXPECT_EQ(result.substr(end - 3, 3), "\n\n\n");
    EXPECT_NE(result.substr(end - 4, 4), "\n\n\n\n");
}

TEST_F(Refinement, SiteModelsScoreTheSitesAndTheAlignmentModelComesBack) {
    refinesetup::blendSiteFrequencies();
    std::vector<double> savedPI(PI + 1, PI + 21), savedWr(wr + 1, wr + 21);
    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        if (!computedSite(s)) continue;
        double saved[21];
        useSiteFrequencies(s, saved);
        sum += calTree(s, treeRoot[s], alfa[s]);
        restoreModel(saved);
    }
    std::vector<double> B = likelihoods();
    D_A_P_Flag = 4;
    std::string result = resultOf([] { optimalAlfa(2, 1, true); });
    EXPECT_EQ(result.substr(0, result.find(" site")),
              format("\n\nThe original LOG Likelyhood: %21.15f\n", sum) +
                  format("\n\nThe final LOG likelyhood: %18.12f\n", sum));
    EXPECT_EQ(Anneal_site_func1, seqLength);
    EXPECT_EQ(std::vector<double>(PI + 1, PI + 21), savedPI);
    EXPECT_EQ(std::vector<double>(wr + 1, wr + 21), savedWr);
    EXPECT_EQ(likelihoods(), B);
}

// The six-leaf tree with columns given site by site: 19 variable sites where one or two leaves
// differ, one site of six residues whose rate stands far above the rest, an invariant site,
// one left out (four gaps) and one computed with a gap.
void loadOutlyingRateSites() {
    const std::vector<std::string> columns = {"AAAAAR", "AAAARA", "AAARAA", "AARAAA", "ARAAAA", "RAAAAA",
                                              "LLLLIL", "LLILLL", "ILLLLL", "KKKKKR", "KKRKKK", "KRKKKK",
                                              "SSSSTT", "SSTTSS", "TTSSSS", "GGGGGA", "GGAGGG", "EEEDEE",
                                              "VIVVVV", "ARNDCQ", "MMMMMM", "A----A", "A-AAAG"};
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < 6; i++) {
        rows.push_back({std::string(1, static_cast<char>('a' + i)), ""});
        for (const std::string& c : columns) rows.back().second += c[i];
    }
    refinesetup::loadOnSixLeafTree(rows);
}

// The upper-tail clipping of the rate ratios as the refinement states it: mean and standard
// deviation (divisor K - 1) of the included ratios, every z above 3 put back to 3, again while a
// pass clipped something, 21 passes at most.
void clipRatios(std::vector<double>& r, const std::vector<int>& sites) {
    double K = static_cast<double>(sites.size());
    for (int pass = 0; pass < 21; pass++) {
        double mean = 0, squares = 0;
        for (int s : sites) mean += r[s];
        mean /= K;
        for (int s : sites) squares += (r[s] - mean) * (r[s] - mean);
        double sd = std::sqrt(squares / (K - 1));
        bool clipped = false;
        for (int s : sites)
            if ((r[s] - mean) / sd > 3.0) r[s] = 3.0 * sd + mean, clipped = true;
        if (!clipped) break;
    }
}

TEST(RateRefinement, AnOutlyingRateRatioIsClippedToThreeDeviationsAboveTheMean) {
    loadOutlyingRateSites();
    D_A_P_Flag = 0;
    for (int s = 1; s <= seqLength; s++) alfa[s] = 0.8 + 0.02 * s;
    std::vector<double> before(alfa, alfa + seqLength + 1);

    std::vector<int> variable;
    std::vector<double> ml(seqLength + 1, 1e-8), r(seqLength + 1, 0.0);
    testing::internal::CaptureStdout();
    for (int s = 1; s <= seqLength; s++) {
        if (!computedSite(s) || invariantLetters(s)) continue;
        double logL;
        ml[s] = searchAlpha(s, &logL);
        r[s] = ml[s] / alfa[s];
        variable.push_back(s);
    }
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(variable.size(), 21u);
    clipRatios(r, variable);

    testing::internal::CaptureStdout();
    resultOf([] { optimalAlfa(0, 1, true); });
    testing::internal::GetCapturedStdout();
    const int outlier = 20;
    EXPECT_LT(alfa[outlier], 0.9 * ml[outlier]);
    for (int s = 1; s <= seqLength; s++) {
        double expected = s == outlier ? r[s] * before[s] : ml[s];
        EXPECT_NEAR(alfa[s], expected, 1e-12 * expected) << "site " << s;
    }
}

} // namespace
