#include "distance.h"

#include "alignment.h"
#include "model.h"
#include "model_setup.h"
#include "numerics/fault.h"
#include "numerics/matrixalgebra.h"
#include "scratch.h"
#include "settings.h"
#include "settings_reset.h"
#include "vantrel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using testsupport::resetSettings;

namespace {

using Sequences = std::vector<std::pair<std::string, std::string>>;

// The named sequences as the leaves of the node array, every rate 1.0 and the model of the
// given frequencies.
void useSequences(const Sequences& sequences, const double* frequencies = wagFrequencies()) {
    std::vector<std::string> rows;
    for (const auto& entry : sequences) rows.push_back(entry.second);
    useAlignment(rows);
    for (int i = 1; i <= seqNum; i++) std::strcpy(node[i].name, sequences[i - 1].first.c_str());
    alfa = dvector(0, seqLength);
    for (int s = 0; s <= seqLength; s++) alfa[s] = 1.0;
    buildModel(frequencies);
}

// The six sequences of the fixture alignment, gaps included.
const Sequences six = {
    {"human", "MKVLAAGIVGLLLAQ-PSWA--ELQKNEVLIFRGCKAHLEPWQSSEHYQKVEGL"},
    {"mouse", "MKVLAAGLVGLLLAQ-PSWA--DLQKNEVLIFRGCKAHLEPWQSSDHYQKVEGL"},
    {"chicken", "MKVLTAGLLGLVLAE-PAWASAELHRNEVLVFKGCRAHLEPWSSSEHYQKVEGL"},
    {"frog", "MRALLAGLLGLMAVQGPSWA--ELQRSEVMVFKGCRAHLEPWTNSDHYQRIEGL"},
    {"zebra", "MRVLTLGLLGLAVAQGPAWA--DIQRSEAMVFRGCKAHLEAWSNSEHYQRIDGL"},
    {"shark", "MKILAVGLLGLAAAQGPAWSS-ELQRSELMVFKGCRAHLEPWTSSEHYQKIEGL"},
};

// The pair's log-likelihood at distance t, straight from the transition probabilities.
double pairLogLikelihood(int a, int b, double t) {
    double sum = 0.0;
    for (int s = 1; s <= seqLength; s++) {
        int i = node[a].code[s], j = node[b].code[s];
        if (i == 0 || j == 0 || !(alfa[s] > 1e-8)) continue;
        double p = pij(i, j, t, alfa[s]);
        if (p > 0) sum += std::log(p);
    }
    return sum;
}

// The maximum-likelihood distance found on a grid over [1e-6, 10], refined twice around
// the best point.
double gridMaximum(int a, int b) {
    double best = 1e-6, step = 1e-3, lo = 1e-6, hi = 10.0;
    for (int round = 0; round < 3; round++) {
        double bestValue = -INFINITY;
        for (double t = lo; t <= hi; t += step) {
            double value = pairLogLikelihood(a, b, t);
            if (value > bestValue) bestValue = value, best = t;
        }
        lo = std::fmax(1e-6, best - step);
        hi = best + step;
        step /= 100;
    }
    return best;
}

int** pairTable(int a, int b) {
    int** pair = imatrix(1, 2, 1, seqLength);
    for (int s = 1; s <= seqLength; s++) {
        pair[1][s] = node[a].code[s];
        pair[2][s] = node[b].code[s];
    }
    return pair;
}

std::string quietDist(int a, int b, double* d) {
    testing::internal::CaptureStdout();
    *d = dist(a, b);
    return testing::internal::GetCapturedStdout();
}

TEST(Distance, IsTheMaximumOfThePairLikelihood) {
    for (bool variedRates : {false, true}) {
        SCOPED_TRACE(variedRates ? "rates varying by site, some 0" : "rates 1");
        useSequences(six);
        if (variedRates)
            for (int s = 1; s <= seqLength; s++) alfa[s] = s % 7 == 0 ? 0.0 : 0.3 + 0.4 * (s % 5);
        for (auto [a, b] : {std::pair{2, 1}, {3, 1}, {6, 4}, {5, 2}}) {
            double d = 0;
            EXPECT_EQ(quietDist(a, b, &d), "");
            EXPECT_NEAR(d, gridMaximum(a, b), 2e-6) << a << "-" << b;
        }
    }
}

TEST(Distance, DerivativeSharesTheFactorsWithoutChangingAnyTerm) {
    useSequences(six);
    // Rates of several sites equal, others distinct, negative or 0.
    for (int s = 1; s <= seqLength; s++) alfa[s] = s % 4 == 0 ? 1.0 : s % 9 == 0 ? -0.5 : 0.05 * s;
    alfa[3] = 0.0;
    int** pair = pairTable(6, 3);
    for (double t : {1e-6, 0.01, 0.3, 1.0, 4.5}) {
        double expected = 0.0;
        for (int s = 1; s <= seqLength; s++) {
            int i = pair[1][s], j = pair[2][s];
            if (i == 0 || j == 0 || !(alfa[s] > 1e-8)) continue;
            expected += dpij(i, j, t, alfa[s]) / pij(i, j, t, alfa[s]);
        }
        EXPECT_EQ(functionValue(pair, t), expected) << "t = " << t;
    }
    // Changed rates are seen at the next evaluation.
    double before = functionValue(pair, 0.3);
    alfa[5] *= 2;
    EXPECT_NE(functionValue(pair, 0.3), before);
    free_imatrix(pair, 1, 2, 1, seqLength);
}

TEST(Distance, PairsWithoutInformationOrWithoutDifference) {
    struct Case {
        const char* what;
        std::string a, b;
        double expected;
        bool warns;
    };
    const std::vector<Case> cases = {
        {"agree at every shared site, gaps differ: the lower bound", "MKV-AAGIVG", "M-VLAAG-VG", 1e-6, false},
        {"equal letter for letter: the lower bound", "MKVLAAGIVG", "MKVLAAGIVG", 1e-6, false},
        {"no shared site: no information, the largest distance", "MKVLA-----", "-----AGIVG", 10.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useSequences({{"first", c.a}, {"second", c.b}, {"third", "MKVLAAGIVG"}});
        double d = 0;
        std::string out = quietDist(2, 1, &d);
        EXPECT_EQ(d, c.expected);
        EXPECT_EQ(out,
                  c.warns ? "Warning:distance between second and first is inf, set distance 10.0\n" : "");
    }
    // Sites whose rate is 0 are not shared.
    useSequences({{"first", "MKVLA"}, {"second", "MRVLT"}, {"third", "MKVLA"}});
    for (int s = 1; s <= seqLength; s++) alfa[s] = 0.0;
    double d = 0;
    EXPECT_NE(quietDist(2, 1, &d), "");
    EXPECT_EQ(d, 10.0);
}

// Forty sites where the two differ, every residue once in each; three shared L sites and a
// fourth L site at a slow rate pull the maximum back from infinity, the slower that rate the
// farther out. The bracket steps reach [9, 10] and give up beyond it.
TEST(Distance, TheBracketSearchStepsOutToTenAndNoFarther) {
    const std::string residues = "ARNDCQEGHILKMFPSTWYV";
    const std::string first = residues + residues;
    const std::string shifted = residues.substr(7) + residues.substr(0, 7);
    const std::string second = shifted + shifted.substr(3) + shifted.substr(0, 3);
    struct Case {
        const char* what;
        bool sharedSites;
        double slowRate;
        bool warns;
    };
    const std::vector<Case> cases = {
        {"different at every shared site: the likelihood rises to the last bracket", false, 0.0, true},
        {"maximum near 9.4: found in the last bracket", true, 0.035, false},
        {"maximum near 10.4: beyond the last bracket", true, 0.028, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string tail = c.sharedSites ? "LLLL" : "";
        useSequences({{"first", first + tail}, {"second", second + tail}, {"third", first + tail}});
        if (c.sharedSites) alfa[seqLength] = c.slowRate;
        double d = 0;
        std::string out = quietDist(2, 1, &d);
        if (c.warns) {
            EXPECT_EQ(d, 10.0);
            EXPECT_EQ(out, "Warning:distance between second and first is inf, set distance 10.0\n");
        } else {
            EXPECT_EQ(out, "");
            EXPECT_GT(d, 9.0);
            EXPECT_NEAR(d, gridMaximum(2, 1), 1e-5); // a flat maximum
        }
    }
}

TEST(Distance, ASiteTheModelCannotReachCarriesNoTerm) {
    // W (code 18) is absent from the frequencies, so no other residue ever becomes W.
    double f[21];
    std::memcpy(f, wagFrequencies(), sizeof f);
    f[18] = 0.0;
    double total = 0.0;
    for (int k = 1; k <= 20; k++) total += f[k];
    for (int k = 1; k <= 20; k++) f[k] /= total;
    useSequences({{"a", "WRVLTAGLVGLLQ"}, {"b", "MKVLAAGIVGLLA"}, {"c", "MKVLAAGIVGLLA"}}, f);
    ASSERT_EQ(pij(node[2].code[1], node[1].code[1], 0.5, 1.0), 0.0); // M to W
    double withSite = 0, withoutSite = 0;
    quietDist(2, 1, &withSite);
    EXPECT_TRUE(std::isfinite(withSite));
    useSequences({{"a", "RVLTAGLVGLLQ"}, {"b", "KVLAAGIVGLLA"}, {"c", "KVLAAGIVGLLA"}}, f);
    quietDist(2, 1, &withoutSite);
    EXPECT_EQ(withSite, withoutSite);
}

TEST(Distance, TreeFileNameEndsBeforeTheFirstDotOfTheFileName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"data/run1.aln", "data/run1.tre"},
        {"run.second.aln", "run.tre"},
        {"../data/x.aln", "../data/x.tre"},
        {"dir.v2/aln", "dir.v2/aln.tre"},
        {"plain", "plain.tre"},
        {"./a.b/c.d.e", "./a.b/c.tre"},
        {"/abs/path/six.aln", "/abs/path/six.tre"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(treeFileName(path), expected) << path;
}

TEST(Distance, RoutinesWithoutACaller) {
    for (auto [k, text] : {std::pair{0, ""}, {-7, ""}, {7, "7"}, {12345, "12345"}}) {
        char* digits = itoa(k);
        EXPECT_STREQ(digits, text);
        delete[] digits;
    }
    useSequences(six);
    int** counts = imatrix(1, 20, 1, 20);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) counts[i][j] = 0;
    counts[1][1] = 5;
    counts[3][2] = 2;
    counts[2][3] = 9; // above the diagonal: not counted
    EXPECT_DOUBLE_EQ(functionValue1(counts, 0.4),
                     5 * std::log(pij(1, 1, 0.4, 1.0)) + 2 * std::log(pij(3, 2, 0.4, 1.0)));
    free_imatrix(counts, 1, 20, 1, 20);
}

// ---- the distance tree --------------------------------------------------------------------

class DistanceTree : public testing::Test {
  protected:
    void SetUp() override {
        resetSettings();
        dir = testsupport::enterScratchDirectory();
        Sequences sequences = six;
        sequences.push_back({"human2", six[0].second}); // identical to human
        useSequences(sequences);
    }
    void TearDown() override { resetSettings(); }

    std::string runCalDist(const std::string& alignment) {
        testing::internal::CaptureStdout();
        cal_dist(alignment.c_str());
        return testing::internal::GetCapturedStdout();
    }

    std::string dir;
};

TEST_F(DistanceTree, WritesTheDistanceFileAndTheTreeAndLeavesTheTreeInTheNodeArray) {
    std::string out = runCalDist("six.aln");
    EXPECT_EQ(out, "Calculating distance matrix and produce tree file\nUse wnj software to build tree\n"
                   "finish wnj and return\nFinish building tree\n");

    std::istringstream file(testsupport::fileText("DISTMATRIX.txt"));
    std::string line;
    std::getline(file, line);
    EXPECT_EQ(line, "7");
    std::vector<std::vector<double>> D;
    for (int i = 1; i <= 7; i++) {
        ASSERT_TRUE(std::getline(file, line));
        char name[64];
        std::snprintf(name, sizeof name, "%20s\t", node[i].name);
        ASSERT_EQ(line.substr(0, 21), name);
        ASSERT_EQ(line.size(), 21u + 7 * 11);
        std::istringstream values(line.substr(21));
        D.emplace_back(7);
        for (double& x : D.back()) values >> x;
    }
    EXPECT_FALSE(std::getline(file, line));
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(D[i][i], 0.0);
        for (int j = 0; j < i; j++) {
            EXPECT_EQ(D[i][j], D[j][i]);
            double d = 0;
            std::string ignored = quietDist(i + 1, j + 1, &d);
            EXPECT_NEAR(D[i][j], i == 6 && j == 0 ? 0.0 : d, 5e-6);
        }
    }
    EXPECT_EQ(D[6][0], 0.0); // identical sequences, no distance computed

    std::string tree = testsupport::fileText("six.tre");
    EXPECT_EQ(tree.substr(tree.size() - 3), ";\n\n");
    int top = seqNum + 1;
    for (int k = 1; k <= 2 * seqNum - 2; k++) {
        EXPECT_EQ(node[k].isRoot, k == top) << k;
        EXPECT_EQ(node[k].level, k == top ? 0 : node[node[k].parent].level + 1) << k;
    }
    EXPECT_EQ(node[top].parent, top);
}

TEST_F(DistanceTree, OnlyRankZeroWritesTheFilesEveryRankHoldsTheTree) {
    runCalDist("six.aln");
    std::vector<NODE> rankZero(node, node + DIM);
    std::remove("DISTMATRIX.txt");
    std::remove("six.tre");
    for (int k = 1; k < DIM; k++) node[k].left = node[k].right = node[k].third = node[k].parent = 0;
    jobSize = 4;
    jobRank = 2;
    runCalDist("six.aln");
    EXPECT_NE(access("DISTMATRIX.txt", F_OK), 0);
    EXPECT_NE(access("six.tre", F_OK), 0);
    for (int k = 1; k < DIM; k++) {
        EXPECT_EQ(node[k].parent, rankZero[k].parent);
        EXPECT_EQ(node[k].length, rankZero[k].length);
    }
}

TEST_F(DistanceTree, RefusesBeforeAnyDistanceWhatCannotMakeATree) {
    auto expectRefused = [&](const std::string& alignment, const std::string& message) {
        SCOPED_TRACE(message);
        EXPECT_EXIT(runCalDist(alignment), testing::ExitedWithCode(1), message);
        EXPECT_NE(access("DISTMATRIX.txt", F_OK), 0);
    };
    expectRefused("a.tre", "^The tree file a.tre would overwrite the alignment file a.tre; rename the "
                           "alignment file or give a tree file with -t\n$");
    resultPath = "run.tre";
    expectRefused("run.aln", "^The tree file run.tre would overwrite the result file run.tre; choose another "
                             "result file or give a tree file with -t\n$");
    resultPath = "DISTMATRIX.txt";
    expectRefused("run.aln", "^The distance file DISTMATRIX.txt would overwrite the result file");
    resultPath.clear();
    // Two names of one file.
    std::fclose(std::fopen("same.tre", "w"));
    expectRefused("./same.tre", "would overwrite the alignment file ./same.tre");

    std::strcpy(node[3].name, "twentyonecharacters!!");
    expectRefused("six.aln", "^Sequence 3 \\(twentyonecharacters!!\\): the name has 21 characters");
    // Other ranks leave the report to rank 0.
    jobSize = 3;
    jobRank = 1;
    awaitJobEndHook = [] { std::fprintf(stderr, "waiting for rank 0\n"); };
    expectRefused("six.aln", "^waiting for rank 0\nSequence 3 \\(twentyonecharacters!!\\)");
    resetSettings();

    // The reader refuses two sequences before the builder would: the builder's own check.
    useSequences({{"a", "MKV"}, {"b", "MRV"}, {"c", "MKI"}});
    seqNum = 2;
    expectRefused("six.aln", "^Too few sequences to build a tree: 2; at least 3 are needed\n$");
}

TEST_F(DistanceTree, FilesThatCannotBeCreatedEndTheRun) {
    // The distance file's open failure is told on standard output, as it always was, and why on
    // standard error.
    mkdir("DISTMATRIX.txt", 0755);
    EXPECT_EXIT(
        (dup2(2, 1), cal_dist("six.aln")), testing::ExitedWithCode(1),
        "^can not open file:DISTMATRIX.txt\ndadiverur: can not open DISTMATRIX.txt: Is a directory\n$");
    rmdir("DISTMATRIX.txt");
    mkdir("six.tre", 0755);
    EXPECT_EXIT(runCalDist("six.aln"), testing::ExitedWithCode(1),
                "^six.tre could not be open for writing\nwnj::io::openWrite: Is a directory\n$");
}

} // namespace

// Outside a job one process computes every distance and the whole tree itself: it writes the
// files that jobs of any number of processes write (tests/e2e/test_shared_preparation.sh) and
// the same preparation tables.
TEST(SharedPreparation, OneProcessWritesTheRecordedDistancesTreeAndTables) {
    resetSettings();
    std::string dir = testsupport::enterScratchDirectory();
    const std::string fixtures = std::string(FIXTURES_DIR) + "/shared/";
    testsupport::copyFile(fixtures + "shared.aln", "shared.aln");
    std::vector<std::string> words = {"dadiverur", "-i",      "shared.aln", "-C",
                                      "-G",        "1000000", "-o",         "result.txt"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    testing::internal::CaptureStdout();
    main_function(static_cast<int>(argv.size()), argv.data());
    std::string out = testing::internal::GetCapturedStdout();
    std::fclose(resultFile);
    resultFile = stdout;

    EXPECT_EQ(testsupport::fileText("DISTMATRIX.txt"),
              testsupport::fileText(fixtures + "shared.DISTMATRIX.txt"));
    EXPECT_EQ(testsupport::fileText("shared.tre"), testsupport::fileText(fixtures + "shared.tre"));
    // The result file holds the preparation's tables so far: the recorded file's beginning.
    std::string tables = testsupport::fileText("result.txt"),
                recorded = testsupport::fileText(fixtures + "shared.result");
    ASSERT_GT(tables.size(), 1000u);
    EXPECT_EQ(tables, recorded.substr(0, tables.size()));
    EXPECT_NE(tables.find("best point: branch No:"), std::string::npos);
    EXPECT_NE(out.find("Warning:distance between s40 and s39 is inf, set distance 10.0\n"),
              std::string::npos);
}
