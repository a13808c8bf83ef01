#include "sitework.h"

#include "alignment.h"
#include "job_setup.h"
#include "model.h"
#include "model_setup.h"
#include "rootprob.h"
#include "scratch.h"
#include "settings.h"
#include "simulation.h"
#include "sitefixture.h"
#include "sitelikelihood.h"
#include "siterules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

using testsupport::lines;
using testsupport::prepareFixture;

namespace {

std::string readAll(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    return text;
}

// The root state of the site is always leaf 1's residue: columns simulated or expected at
// rate 0 have entropy 0, which rises with the rate.
void rootOfFirstLeaf(int site) {
    for (int j = 1; j <= 20; j++) RootProbMatrix[site][j] = j == node[1].code[site] ? 1.0 : 0.0;
}

double columnEntropy(const std::map<char, int>& counts, int letters) {
    double h = 0;
    for (const auto& [letter, k] : counts) h -= double(k) / letters * std::log(double(k) / letters);
    return h;
}

} // namespace

TEST(SiteSeed, TheProductWrapsInThirtyTwoBitsAndEverySeedIsARestart) {
    struct Case {
        int r, site;
        long seed;
    };
    const Case cases[] = {
        {12345, 1, -12345},
        {29999, 2, -29998},           // 59998 mod 30000
        {30000, 7, -1},               // a remainder of 0
        {2147483647, 3, -23645},      // 6442450941 wraps to 2147483645
        {1000000000, 3, -17296},      // 3e9 wraps to -1294967296: a negative remainder
        {2147453648, 2, -1},          // wraps to -60000: a remainder of 0 on the negative side
        {2147483647, 2147483647, -1}, // wraps to 1
    };
    for (const Case& c : cases) EXPECT_EQ(siteSeed(c.r, c.site), c.seed) << c.r << " * " << c.site;
    // A positive seed would not restart ran1: whatever the product, the seed lies in -29999..-1.
    for (int r : {0, 1, 29999, 30001, 1 << 30, 1000000007, 2147483647})
        for (int site = 1; site <= 300; site++) {
            long seed = siteSeed(r, site);
            EXPECT_TRUE(seed >= -29999 && seed <= -1) << r << " * " << site << " gives " << seed;
        }
}

namespace {
double line(int, double x, int shift) {
    return x - shift / 10.0;
}
double falling(int, double x, int) {
    return 0.3 - x;
}
} // namespace

TEST(BisectRoot, FindsTheRootFromTheNegativeSideAndNeverEndsTheProcess) {
    double root = -1;
    ASSERT_TRUE(bisectRoot(line, 0.0, 1.0, line(0, 0.0, 3), line(0, 1.0, 3), 1e-6, 0, 3, &root));
    EXPECT_LE(root, 0.3);
    EXPECT_GT(root, 0.3 - 1e-6);
    ASSERT_TRUE(bisectRoot(falling, 0.0, 1.0, 0.3, -0.7, 1e-6, 0, 0, &root));
    EXPECT_GE(root, 0.3);
    EXPECT_LT(root, 0.3 + 1e-6);
    // An exact zero at an end is that end; ends of one sign, or not numbers, bracket nothing.
    EXPECT_TRUE(bisectRoot(line, 0.0, 1.0, 0.0, 0.5, 1e-6, 0, 0, &root));
    EXPECT_EQ(root, 0.0);
    EXPECT_TRUE(bisectRoot(line, 0.0, 1.0, -0.5, 0.0, 1e-6, 0, 10, &root));
    EXPECT_EQ(root, 1.0);
    root = -1;
    EXPECT_FALSE(bisectRoot(line, 0.5, 1.0, 0.2, 0.7, 1e-6, 0, 3, &root));
    EXPECT_FALSE(bisectRoot(line, 0.0, 1.0, NAN, 0.7, 1e-6, 0, 3, &root));
    EXPECT_EQ(root, -1);
    // An accuracy never reached stops after 40 halvings with the last point at or below 0.
    ASSERT_TRUE(bisectRoot(line, 0.0, 1.0, -0.3, 0.7, 0.0, 0, 3, &root));
    EXPECT_NEAR(root, 0.3, 1e-11);
}

TEST(Clipping, AnOutlierAmongEqualValuesIsClippedInEveryPassUntilThePassLimit) {
    // One value 1 + d among n - 1 ones always lies (n - 1)/sqrt(n) standard deviations above
    // the mean, and each pass leaves d (1/n + 2/sqrt(n)) of it.
    const int n = 11;
    std::vector<double> value(n + 1, 1.0);
    std::vector<char> include(n + 1, 1);
    value[4] = 100.0;
    EXPECT_EQ(clipUpperTail(value.data(), include.data(), n, zScoreTolerant, CLIP_PASS_LIMIT),
              CLIP_PASS_LIMIT);
    double d = 99.0 * std::pow(1.0 / n + 2.0 / std::sqrt(double(n)), CLIP_PASS_LIMIT);
    EXPECT_NEAR(value[4] - 1.0, d, 1e-9 * d);
    EXPECT_EQ(value[1], 1.0);
}

TEST(Clipping, ValuesWithinTheBoundTakeOnePassAndExcludedValuesTakeNoPart) {
    std::vector<double> value = {0, 1.0, 1.3, 0.9, 1.05, 0.7, 1.0, 1.2, 0.98, 1.1, 0.99, 1.4, 50.0};
    std::vector<char> include = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0};
    const std::vector<double> before = value;
    EXPECT_EQ(clipUpperTail(value.data(), include.data(), 12, zScoreTolerant, CLIP_PASS_LIMIT), 1);
    EXPECT_EQ(value, before);
    // Once the outlier is included it is clipped, and so pulled in pass after pass.
    include[12] = 1;
    EXPECT_EQ(clipUpperTail(value.data(), include.data(), 12, zScoreTolerant, CLIP_PASS_LIMIT),
              CLIP_PASS_LIMIT);
    EXPECT_LT(value[12], 3.0);
    EXPECT_EQ(value[1], 1.0);
    // A single included value has no spread, and no included value leaves nothing to do.
    std::vector<char> one(13, 0), none(13, 0);
    one[12] = 1;
    value[12] = 50.0;
    EXPECT_EQ(clipUpperTail(value.data(), one.data(), 12, zScoreTolerant, CLIP_PASS_LIMIT), 1);
    EXPECT_EQ(clipUpperTail(value.data(), none.data(), 12, zScoreTolerant, CLIP_PASS_LIMIT), 1);
    EXPECT_EQ(value[12], 50.0);
}

TEST(AlphaTables, MaximumLikelihoodEstimatesAreClippedAsRatiosAndExcludedSitesKeepTheirValue) {
    seqLength = 12;
    alfa = new double[13];
    std::vector<double> v(13);
    for (int s = 1; s <= 12; s++) {
        alfa[s] = 0.5;
        v[s] = 0.5 * (1.0 + 0.01 * s);
    }
    v[5] = 50.0;       // an outlier, clipped from above
    v[6] = 0.5 + 1e-9; // within 1e-8 of its rate: excluded, adopted as received
    alfa[7] = 1e-11;   // a rate too small for a ratio: excluded
    v[7] = 2.0;
    FILE* out = std::tmpfile();
    adoptClippedAlpha(v.data(), AlphaEstimate::MaximumLikelihood, out);
    std::vector<std::string> text = lines(readAll(out));
    ASSERT_EQ(text.size(), 13u);
    EXPECT_EQ(text[0], "result from optimizing alpha");
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "site: %3d original alpha: %10.6f ML alpha: %10.6f final alpha: %10.6f", 6, 0.5, 0.5 + 1e-9,
                  0.5);
    EXPECT_EQ(text[6], expected);
    EXPECT_EQ(v[6], 0.5 + 1e-9);
    EXPECT_EQ(v[7], 2.0);
    EXPECT_GT(v[5], 0.5);
    EXPECT_LT(v[5], 5.0);
    std::snprintf(expected, sizeof expected,
                  "site: %3d original alpha: %10.6f ML alpha: %10.6f final alpha: %10.6f", 5, 0.5, 50.0,
                  v[5]);
    EXPECT_EQ(text[5], expected);
    EXPECT_EQ(v[1], 0.5 * 1.01);
}

TEST(AlphaTables, SimulatedEntropyEstimatesAreClippedAsDifferences) {
    seqLength = 11;
    alfa = new double[12];
    std::vector<double> v(12);
    for (int s = 1; s <= 11; s++) {
        alfa[s] = 1.0 + s;
        v[s] = alfa[s] + 0.1;
    }
    v[3] = alfa[3] + 10.1;
    FILE* out = std::tmpfile();
    adoptClippedAlpha(v.data(), AlphaEstimate::SimulatedEntropy, out);
    std::vector<std::string> text = lines(readAll(out));
    ASSERT_EQ(text.size(), 12u);
    // Ten differences of 0.1 and one of 10.1: the outlier's difference is clipped to 21 passes
    // of d (1/11 + 2/sqrt(11)) above 0.1.
    double d = 10.0 * std::pow(1.0 / 11 + 2.0 / std::sqrt(11.0), CLIP_PASS_LIMIT);
    EXPECT_NEAR(v[3] - alfa[3], 0.1 + d, 1e-9);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "site: %3d original alpha: %10.6f Entropy alpha: %10.6f final alpha: %10.6f", 3, alfa[3],
                  alfa[3] + 10.1, v[3]);
    EXPECT_EQ(text[3], expected);
    FILE* second = std::tmpfile();
    writeAlphaTable("result from optimizing alpha based on simulation\n", v.data(), second);
    text = lines(readAll(second));
    ASSERT_EQ(text.size(), 12u);
    std::snprintf(expected, sizeof expected, "site: %3d original alpha: %10.6f optimized alpha: %10.6f", 11,
                  alfa[11], v[11]);
    EXPECT_EQ(text[11], expected);
}

TEST(AlphaTables, AClippedDifferenceThatLeavesNoPositiveRateKeepsTheRate) {
    // Twenty sites fall from 3.0 to 0.2 while site 21 rises from 0.1 to 5.0: its difference,
    // clipped to the mean plus two deviations, would take its rate below 0.
    seqLength = 21;
    alfa = new double[22];
    std::vector<double> v(22);
    for (int s = 1; s <= 20; s++) alfa[s] = 3.0, v[s] = 0.2;
    alfa[21] = 0.1, v[21] = 5.0;
    FILE* out = std::tmpfile();
    adoptClippedAlpha(v.data(), AlphaEstimate::SimulatedEntropy, out);
    std::vector<std::string> text = lines(readAll(out));
    ASSERT_EQ(text.size(), 22u);
    EXPECT_EQ(v[21], 0.1);
    EXPECT_EQ(text[21],
              "site:  21 original alpha:   0.100000 Entropy alpha:   5.000000 final alpha:   0.100000");
    EXPECT_NEAR(v[1], 0.2, 1e-12);
}

TEST(FinalTables, TheTablesFollowInOrderWithOneValuePerSiteAndReplicate) {
    std::mt19937 rng(5);
    sitefixture::makeAlignment(4, 3);
    buildModel(sitefixture::randomFrequencies(rng).data());
    sitefixture::randomTree(rng, 0.1, 0.3);
    for (int s = 1; s <= 3; s++) sitefixture::copyTreeToSite(s);
    sitefixture::setColumn(1, "ARNA");
    sitefixture::setColumn(2, "AAAA");
    sitefixture::setColumn(3, "A---");
    treeRoot[3] = 0;
    gapTree[3][0].gap = 1;
    initFinalTables();
    std::vector<double> record(SITE_RECORD_SIZE);
    for (int s = 1; s <= 2; s++) {
        for (int k = 0; k < SITE_RECORD_SIZE; k++) record[k] = s + k / 1000.0;
        storeSiteRecord(s, record.data());
    }
    FILE* summary = std::tmpfile();
    printSiteSummary(summary, 2);
    double avgLogL = 0, avgEntropy = 0;
    for (int k = 1; k <= 100; k++) avgLogL += (2 + k / 1000.0) / 100;
    for (int k = 101; k <= 200; k++) avgEntropy += (2 + k / 1000.0) / 100;
    char expected[200];
    std::snprintf(expected, sizeof expected, "%3d %12.4f %12.4f %12.4f %12.4f\n", 2, 2.201, avgEntropy, 2.0,
                  avgLogL);
    EXPECT_EQ(readAll(summary), expected);

    FILE* out = std::tmpfile();
    writeFinalTables(out);
    std::vector<std::string> text = lines(readAll(out));
    ASSERT_EQ(text.size(), 1 + 3 + 101 + 4 + 101u);
    EXPECT_EQ(text[0], "site   entropy     avgEntropy  logL  avgLogL");
    EXPECT_EQ(text[2] + "\n", expected);
    EXPECT_EQ(text[3], "  3       0.0000       0.0000       0.0000       0.0000");
    EXPECT_EQ(text[4], "Log likelihood for each site after shuffle");
    EXPECT_EQ(text[5], "      1.0010       2.0010       0.0000 ");
    EXPECT_EQ(text[104], "      1.1000       2.1000       0.0000 ");
    EXPECT_EQ(text[105], "check");
    std::snprintf(expected, sizeof expected, "%3d %12.4f", 1, calTree(1, treeRoot[1], alfa[1]));
    EXPECT_EQ(text[106], expected);
    EXPECT_EQ(text[108], "  3       0.0000");
    EXPECT_EQ(text[109], "Entropy for each site");
    EXPECT_EQ(text[110], "      1.1010       2.1010       0.0000 ");
    EXPECT_EQ(text[209], "      1.2000       2.2000       0.0000 ");

    FILE* column = std::tmpfile();
    writeRecordColumn(column, record.data());
    text = lines(readAll(column));
    ASSERT_EQ(text.size(), 100u);
    EXPECT_EQ(text[0], "    2.001000");
}

TEST(FinalSiteWork, EachSiteClassCarriesItsRecordValues) {
    prepareFixture("sites12");
    std::vector<double> r(SITE_RECORD_SIZE);

    finalSiteWork(3, r.data()); // six gaps: left out
    for (double x : r) EXPECT_EQ(x, 0.0);

    finalSiteWork(2, r.data()); // invariant: its log-likelihood and entropy 0 throughout
    double logL = calTree(2, treeRoot[2], alfa[2]);
    EXPECT_LT(logL, 0.0);
    for (int k = 0; k <= 100; k++) EXPECT_EQ(r[k], logL) << k;
    for (int k = 101; k <= 201; k++) EXPECT_EQ(r[k], 0.0) << k;

    finalSiteWork(5, r.data()); // three letters R K R: computed, too few to simulate
    logL = calTree(5, treeRoot[5], alfa[5]);
    double h = columnEntropy({{'R', 2}, {'K', 1}}, 3);
    for (int k = 0; k <= 100; k++) EXPECT_EQ(r[k], logL) << k;
    for (int k = 101; k <= 201; k++) EXPECT_NEAR(r[k], h, 1e-15) << k;

    for (int site : {1, 4}) { // simulated, gap-free and gapped
        std::string column;
        for (int i = 1; i <= seqNum; i++) column += node[i].seq[site];
        finalSiteWork(site, r.data());
        for (int k = 0; k <= 100; k++) EXPECT_LT(r[k], 1.0) << site << " " << k;
        for (int k = 101; k <= 200; k++) {
            EXPECT_GE(r[k], 0.0);
            EXPECT_LE(r[k], std::log(double(seqNum)) + 1e-12);
        }
        EXPECT_NEAR(r[201], leafEntropy(site), 1e-15);
        std::string after;
        for (int i = 1; i <= seqNum; i++) after += node[i].seq[site];
        EXPECT_EQ(after, column);
    }
}

TEST(AlphaSiteWork, SitesWithoutARootOrWithoutEnoughLettersKeepTheirRate) {
    prepareFixture("sites12");
    for (int s = 1; s <= seqLength; s++) alfa[s] = 0.25 * s;
    // Too few letters and invariant sites keep their rate when simulating; the expected
    // entropy gives an invariant column the rate 0.
    EXPECT_EQ(simulatedEntropyAlphaSite(2), alfa[2]);
    EXPECT_EQ(simulatedEntropyAlphaSite(5), alfa[5]);
    EXPECT_EQ(expectedEntropyAlphaSite(2), 0.0);
    EXPECT_EQ(expectedEntropyAlphaSite(5), alfa[5]);

    // Site 6 with every leaf on the smaller side of the root gapped: nothing can be simulated.
    const SiteTreeNode* rooted = copyTree[0];
    std::vector<int> side[2];
    for (int i = 1; i <= seqNum; i++) {
        int k = i;
        while (rooted[k].parent != 0) k = rooted[k].parent;
        side[k == rooted[0].right].push_back(i);
    }
    const std::vector<int>& smaller = side[side[1].size() < side[0].size()];
    ASSERT_LE(smaller.size(), 4u);
    for (int i : smaller) {
        node[i].seq[6] = '-';
        node[i].code[6] = 0;
    }
    gapNumber[6] = static_cast<int>(smaller.size());
    ASSERT_TRUE(usableSite(6));
    testing::internal::CaptureStdout();
    EXPECT_EQ(simulatedEntropyAlphaSite(6), alfa[6]);
    EXPECT_EQ(expectedEntropyAlphaSite(6), alfa[6]);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "site:   6 can not find a valid section to include the root\n"
                   "site:   6 can not find a valid section to include the root\n");
}

TEST(AlphaSiteWork, TheExpectedEntropyRateMatchesTheObservedEntropy) {
    prepareFixture("sites12", {"-V"});
    for (int site : {1, 7, 9}) {
        rootOfFirstLeaf(site);
        testing::internal::CaptureStdout();
        double x = expectedEntropyAlphaSite(site);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << site;
        EXPECT_GT(x, 0.0) << site;
        EXPECT_LT(x, 10.0) << site;
        EXPECT_LE(func_simulation_vector(site, x, 1), 0.0) << site;
        EXPECT_GT(func_simulation_vector(site, x + 0.001, 1), 0.0) << site;
    }
}

TEST(AlphaSiteWork, TheSimulatedEntropyRateMatchesTheObservedEntropyWithinTheNoise) {
    prepareFixture("sites12", {"-M"});
    // A fixed clock and stream: the columns are the same in every run, so the check below
    // cannot fail by chance.
    seedClock = [] { return std::time_t(1000); };
    idum = -64;
    for (int site : {1, 7}) {
        rootOfFirstLeaf(site);
        testing::internal::CaptureStdout();
        double x = simulatedEntropyAlphaSite(site);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << site;
        EXPECT_GT(x, 0.0) << site;
        EXPECT_LT(x, 50.0) << site;
        // 300 simulated columns: the mean entropy at the rate found is the observed one up to
        // a few standard errors.
        EXPECT_NEAR(func_simulation_alpha(site, x, 300), 0.0, 0.15) << site;
    }
}

TEST(ResultFile, AFileThatCannotBeWrittenCompletelyIsAFailure) {
    EXPECT_EXIT(
        {
            resultFile = std::fopen("/dev/full", "w");
            for (int k = 0; k < 10000; k++) std::fprintf(resultFile, "%12.4f ", 1.0 * k);
            closeResultFile();
        },
        testing::ExitedWithCode(1), "can not write the result file");
}

TEST(FinalSiteWork, AGappedSiteWorksUnderItsOwnModelAndTheAlignmentModelReturns) {
    prepareFixture("sites12", {"-P"});
    std::vector<double> q(401);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) q[(i - 1) * 20 + j] = Q_ij[i][j];
    double alignmentLogL = calTree(5, treeRoot[5], alfa[5]);
    cal_Q(sitePI[5]);
    cal_Eign();
    double ownLogL = calTree(5, treeRoot[5], alfa[5]);
    cal_Q(PI);
    cal_Eign();
    ASSERT_NE(ownLogL, alignmentLogL);

    std::vector<double> r(SITE_RECORD_SIZE);
    finalSiteWork(5, r.data()); // computed, not simulated
    EXPECT_EQ(r[0], ownLogL);
    EXPECT_EQ(r[100], ownLogL);
    finalSiteWork(1, r.data()); // gap-free: the alignment model throughout
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) EXPECT_EQ(Q_ij[i][j], q[(i - 1) * 20 + j]) << i << " " << j;
    EXPECT_EQ(calTree(5, treeRoot[5], alfa[5]), alignmentLogL);
}

// Under -P a gapped site works under a rate matrix of its pseudocount profile, which gives
// weight to the ten residues the fixture lacks: a site's first simulated column used to show V
// at some leaf with these clocks, its likelihood 0 and its statistic not a number.
TEST(FinalSiteWork, UnderTheSitesOwnModelEverySimulatedColumnHasAFiniteStatistic) {
    std::time_t (*clock)() = seedClock;
    for (std::time_t second : {27, 38}) {
        prepareFixture("lacking", {"-P"});
        static std::time_t fixed;
        fixed = second;
        seedClock = [] { return fixed; };
        std::vector<double> r(SITE_RECORD_SIZE);
        for (int site = 1; site <= seqLength; site++) {
            finalSiteWork(site, r.data());
            for (int k = 0; k < SITE_RECORD_SIZE; k++)
                EXPECT_TRUE(std::isfinite(r[k]))
                    << "clock " << second << ", site " << site << ", value " << k;
        }
    }
    seedClock = clock;
}

TEST(FinalSiteWork, AValueThatCanNotBeFiniteEndsTheJobNamingTheSite) {
    prepareFixture("lacking", {"-P"});
    // Site 2 is gap-free and worked on under the alignment model, which lacks W: a W at a leaf
    // gives the column likelihood 0, and its statistic is not a number.
    node[3].code[2] = 18;
    std::vector<double> r(SITE_RECORD_SIZE);
    EXPECT_EXIT(finalSiteWork(2, r.data()), testing::ExitedWithCode(1),
                "site 2: the logL is -?nan, not a finite number, which no table may hold\n");
    EXPECT_EXIT(checkSiteValue(7, NAN, "alpha estimate"), testing::ExitedWithCode(1),
                "site 7: the alpha estimate is nan, not a finite number");
    r.assign(SITE_RECORD_SIZE, 0.0);
    r[replicateEntropy(3)] = HUGE_VAL;
    EXPECT_EXIT(checkSiteRecord(4, r.data()), testing::ExitedWithCode(1),
                "site 4: the entropy of simulated column 3 is inf");
}
