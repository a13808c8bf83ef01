#include "sitefixture.h"

#include "alignment.h"
#include "model.h"
#include "rates.h"
#include "settings.h"
#include "settings_reset.h"
#include "siterules.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace sitefixture;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class InitialRates : public ::testing::Test {
  protected:
    void SetUp() override {
        std::mt19937 rng(17);
        auto f = randomFrequencies(rng);
        buildModel(f.data());
        testsupport::resetSettings();
        resultFile = tmpfile();
    }
    void TearDown() override {
        fclose(resultFile);
        testsupport::resetSettings();
    }
    void columns(const std::vector<std::string>& sites) {
        makeAlignment(static_cast<int>(sites[0].size()), static_cast<int>(sites.size()));
        for (size_t s = 0; s < sites.size(); s++) setColumn(static_cast<int>(s + 1), sites[s]);
        for (int s = 1; s <= seqLength; s++) alfa[s] = 7.0; // anything the method must replace
    }
    std::string runAlpha() {
        CaptureStdout();
        alpha();
        return GetCapturedStdout();
    }
    std::vector<std::string> resultLines() {
        fflush(resultFile);
        rewind(resultFile);
        std::vector<std::string> lines;
        char buffer[256];
        while (fgets(buffer, sizeof buffer, resultFile)) lines.push_back(buffer);
        return lines;
    }
};

TEST_F(InitialRates, NonGapMinimumFromFractionOrCount) {
    struct Case {
        double gapForEst;
        int n, expected;
    } cases[] = {{0.5, 10, 5}, {0.5, 4, 3},        {0.0, 10, 3}, {1.0, 10, 10},      {1.0, 2, 3},
                 {3.0, 10, 3}, {4.9999995, 10, 5}, {7.0, 5, 7},  {1e12, 10, INT_MAX}};
    for (const Case& c : cases) {
        gapForEst = c.gapForEst;
        seqNum = c.n;
        EXPECT_EQ(nonGapMinimum(), c.expected) << c.gapForEst << " " << c.n;
    }
}

TEST_F(InitialRates, ConstantRatesByDefault) {
    columns({"AAAAAA", "ARNDCQ", "A-----"});
    for (int flag : {1, 3, 4}) {
        refineFlag = flag;
        EXPECT_EQ(runAlpha(), "");
        for (int s = 1; s <= 3; s++) EXPECT_EQ(alfa[s], 1.0);
    }
    EXPECT_EQ(estFlag[1] + 2 * estFlag[2] + 4 * estFlag[3], 3);
    EXPECT_TRUE(resultLines().empty());
}

TEST_F(InitialRates, CorrelatedRatesScaleVariableSitesAndZeroInvariantOnes) {
    columns({"AAAAAA", "ARARAR", "ARNDCQ", "AR----", "A-AAAA"});
    for (int flag : {0, 2}) {
        refineFlag = flag;
        std::string out = runAlpha();
        EXPECT_EQ(out, "invariant site: 1\ninvariant site: 5\n");
        EXPECT_EQ(alfa[1], 0.0);
        EXPECT_EQ(alfa[5], 0.0);
        EXPECT_EQ(alfa[4], 1.0);                    // too few letters: no test, rate 1.0
        EXPECT_NEAR(alfa[2] + alfa[3], 4.0, 1e-12); // estimated rates sum to E = 4

        // The rate follows (pairs / summed pair probabilities)^1.3 of the one-unit matrix.
        auto P = [](int i, int j) { return (pij(i, j, 1.0, 1.0) + pij(j, i, 1.0, 1.0)) / 2; };
        double sum2 = 3 * P(1, 1) + 3 * P(2, 2) + 9 * P(1, 2), sum3 = 0.0;
        const int codes[] = {1, 2, 3, 4, 5, 6};
        for (int i = 0; i < 6; i++)
            for (int j = i + 1; j < 6; j++) sum3 += P(codes[i], codes[j]);
        EXPECT_NEAR(alfa[2] / alfa[3], std::pow((15 / sum2) / (15 / sum3), 1.3), 1e-9);
    }
}

TEST_F(InitialRates, CorrelatedRatesWithOnlyInvariantSitesStayAtOne) {
    columns({"AAAAAA", "KK-KKK", "A-----"});
    refineFlag = 0;
    std::string out = runAlpha();
    EXPECT_NE(out.find("invariant site: 1\n"), std::string::npos);
    EXPECT_NE(out.find("invariant site: 2\n"), std::string::npos);
    EXPECT_NE(out.find("site 1,"), std::string::npos);
    EXPECT_NE(out.find("site 2,"), std::string::npos);
    for (int s = 1; s <= 3; s++) EXPECT_EQ(alfa[s], 1.0);
}

TEST_F(InitialRates, EntropyRatesWriteThreeTablesAndKeepNegativeValues) {
    // Site 7 is so much more diverse than the others that its transformed value exceeds
    // 1.4874; site 8 has too few letters.
    columns({"AAAAAAAAAR", "AAAAAAAAAR", "AAAAAAAAAR", "AAAAAAAARR", "AAAAAAAARR", "AAAAAAAARR", "ARNDCQEGHI",
             "A--------R"});
    refineFlag = 0; // -E wins whatever the refine mode
    EntropyEstimatedFlag = 1;
    std::string out = runAlpha();
    // Site 7's value is negative while the sum is positive: only its final rate is unusable.
    EXPECT_EQ(out, "Warning: no valid initial rate for site 7, rate 1.0 used\n");

    std::vector<std::string> lines = resultLines();
    ASSERT_EQ(lines.size(), 27u);
    EXPECT_EQ(lines[0], "entropy for each site\n");
    EXPECT_EQ(lines[9], "alpha for each site before normalize\n");
    EXPECT_EQ(lines[18], "final alpha for each site\n");
    EXPECT_EQ(lines[7], "site:   7  entropy:   2.302585\n");
    EXPECT_EQ(lines[8], "site:   8  entropy:   1.000000\n");
    EXPECT_EQ(lines[16].rfind("site:   7  alpha:  -", 0), 0u) << lines[16]; // the value computed
    EXPECT_EQ(lines[17], "site:   8  alpha:   1.000000\n");
    EXPECT_EQ(lines[25], "site:   7  alpha:   1.000000\n");
    EXPECT_EQ(lines[26], "site:   8  alpha:   1.000000\n");

    EXPECT_EQ(alfa[7], 1.0);
    EXPECT_EQ(alfa[8], 1.0);
    // The rates of all seven estimated sites sum to 7, site 7's negative one included.
    double sum = 0.0;
    for (int s = 1; s <= 6; s++) sum += alfa[s];
    EXPECT_GT(sum, 7.0);
    EXPECT_LT(alfa[1], alfa[4]); // the less diverse columns evolve more slowly
}

TEST_F(InitialRates, EntropyRatesWithANegativeSumFollowTheFormula) {
    // Eight columns of one residue and two of seven different residues: the diverse columns'
    // values are negative, and so is their sum.
    std::vector<std::string> sites;
    for (int s = 1; s <= 8; s++) sites.push_back(std::string(7, aa[s]));
    sites.push_back("ARNDCQE");
    sites.push_back("GHILKMF");
    columns(sites);
    EntropyEstimatedFlag = 1;
    EXPECT_EQ(runAlpha(), "");

    std::vector<std::string> lines = resultLines();
    ASSERT_EQ(lines.size(), 33u);
    EXPECT_EQ(lines[20], "site:   9  alpha:  -0.661761\n");
    EXPECT_EQ(lines[21], "site:  10  alpha:  -0.661761\n");
    EXPECT_EQ(lines[31], "site:   9  alpha:   5.000000\n");
    EXPECT_EQ(lines[32], "site:  10  alpha:   5.000000\n");
    EXPECT_NEAR(alfa[9], 5.0, 1e-12);
    EXPECT_NEAR(alfa[10], 5.0, 1e-12);
    for (int s = 1; s <= 8; s++) {
        EXPECT_EQ(alfa[s], 0.0);
        EXPECT_EQ(lines[22 + s], "site:   " + std::to_string(s) + "  alpha:   0.000000\n");
    }
}

TEST_F(InitialRates, EntropyRatesWithoutUsableSpreadStayAtOne) {
    EntropyEstimatedFlag = 1;
    // No estimated site at all, then a single one (its spread is 0, the transform 0/0).
    for (double minimum : {30.0, 0.5}) {
        columns({"ARNDCQ", "AR----", "A----R"});
        gapForEst = minimum;
        std::string out = runAlpha();
        EXPECT_EQ(out, minimum < 1 ? "Warning: no valid initial rate for site 1, rate 1.0 used\n" : "");
        for (int s = 1; s <= 3; s++) EXPECT_EQ(alfa[s], 1.0);
        for (const std::string& line : resultLines()) {
            if (line.find("alpha:") != std::string::npos) {
                EXPECT_NE(line.find("1.000000"), std::string::npos) << line;
            }
        }
        fclose(resultFile);
        resultFile = tmpfile();
    }
}

} // namespace
