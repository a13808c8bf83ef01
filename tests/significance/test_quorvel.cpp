#include "quorvel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) {
    return std::string(FIXTURES_DIR) + "/quorvel/" + name;
}

// A fresh directory per test: the rank and p-value files land beside the origin file.
std::string scratch(const std::string& name) {
    std::string dir = testing::TempDir() + "quorvel_" + name + "_" + std::to_string(getpid());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string copyIn(const std::string& dir, const std::string& name) {
    std::string path = dir + "/" + name;
    fs::copy_file(fixture(name), path, fs::copy_options::overwrite_existing);
    return path;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<char*> argvOf(std::vector<std::string>& args) {
    static char name[] = "quorvel";
    std::vector<char*> argv{name};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Runs quorvel in this process and returns its report.
std::string run(std::vector<std::string> args) {
    std::vector<char*> argv = argvOf(args);
    testing::internal::CaptureStdout();
    int status = quorvel(static_cast<int>(argv.size()) - 1, argv.data());
    std::string report = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    return report;
}

// For death tests: standard output joins standard error, where the death test looks.
void runToStderr(std::vector<std::string> args) {
    std::fflush(stdout);
    dup2(2, 1);
    std::vector<char*> argv = argvOf(args);
    quorvel(static_cast<int>(argv.size()) - 1, argv.data());
}

struct Row {
    int site;
    double prob1, Cn, avgCd, avgCexp, func, alpha, sigmaCd, sigmaCexp, ndProb;
};

const std::string FINAL_TITLE =
    "site    prob1  Likelihood   avg_likelihood avg_exp_logL func:Y/N  alpha   sigmaCd   "
    "sigmaCexp ndProb";

// The rows of the final table, in rank order.
std::vector<Row> finalTable(const std::string& report) {
    std::vector<std::string> all = lines(report);
    auto title = std::find(all.begin(), all.end(), FINAL_TITLE);
    EXPECT_NE(title, all.end());
    std::vector<Row> rows;
    for (auto it = title + 1; title != all.end() && it != all.end(); ++it) {
        if (it->empty()) continue;
        Row r;
        std::istringstream in(*it);
        in >> r.site >> r.prob1 >> r.Cn >> r.avgCd >> r.avgCexp >> r.func >> r.alpha >> r.sigmaCd >>
            r.sigmaCexp >> r.ndProb;
        rows.push_back(r);
    }
    return rows;
}

// The values of one file, a value per line that holds a letter or digit.
std::vector<double> values(const std::string& path) {
    std::vector<double> v;
    for (const std::string& line : lines(readFile(path)))
        if (std::any_of(line.begin(), line.end(), ::isalnum)) v.push_back(std::stod(line));
    return v;
}

std::vector<std::vector<double>> replicateTable(const std::string& path) {
    std::vector<std::vector<double>> table;
    for (const std::string& line : lines(readFile(path))) {
        std::istringstream in(line);
        std::vector<double> row;
        for (double v; in >> v;) row.push_back(v);
        if (!row.empty()) table.push_back(row);
    }
    return table;
}

struct Moments {
    double mean, sd;
};

Moments moments(const std::vector<double>& v) {
    double mean = 0;
    for (double x : v) mean += x;
    mean /= v.size();
    double ss = 0;
    for (double x : v) ss += (x - mean) * (x - mean);
    return {mean, std::sqrt(ss / (v.size() - 1))};
}

std::vector<double> column(const std::vector<std::vector<double>>& table, int site) {
    std::vector<double> c;
    for (const auto& row : table) c.push_back(row[site - 1]);
    return c;
}

double normalUpperTail(double x, double mean, double sd) {
    return 0.5 * std::erfc((x - mean) / sd / std::sqrt(2.0));
}

} // namespace

// Hand-made inputs under -R: every number of the report follows from the inputs in double
// precision, worked out here without the program's routines.
TEST(Quorvel, ReportsAndRanksTheHandMadeSitesUnderNoRegression) {
    std::string dir = scratch("hand");
    std::string origin = copyIn(dir, "hand.origin");
    testing::internal::CaptureStderr();
    std::string report = run({"-O", origin, "-M", fixture("hand.mutation"), "-A", fixture("hand.alpha"), "-P",
                              fixture("hand.prob"), "-F", fixture("hand.func"), "-Rxyz"});
    std::string warnings = testing::internal::GetCapturedStderr();

    std::vector<double> Cn = values(fixture("hand.origin")), alpha = values(fixture("hand.alpha"));
    std::vector<double> prob = values(fixture("hand.prob"));
    auto Cd = replicateTable(fixture("hand.mutation"));
    ASSERT_EQ(Cn.size(), 16u);
    ASSERT_EQ(Cd.size(), 4u);
    EXPECT_NE(report.find("After reading original Z-score file, seqlength: 16\n"), std::string::npos);
    EXPECT_NE(report.find("   6   -47.500000       1.000000    1.000000e+00\n"), std::string::npos);
    EXPECT_NE(report.find("   3   -31.500000       2.407000    3.000000e-02\n"), std::string::npos);

    // Sites 5 and 6 (alpha exactly 1, neighbours), 3 (equal replicates) and 12 (Cn equal to
    // the mean) carry no information.
    EXPECT_NE(report.find("seqLength: 12\n"), std::string::npos);
    EXPECT_NE(
        report.find("\nFunctional site\n  2     -25.4100     -23.7500       2.2450 1\n  7     -48.2200     "
                    "-47.5500       0.8130 1\n 13     -43.2000     -45.1625       1.1120 1\nb:"),
        std::string::npos);
    EXPECT_NE(warnings.find("\"40\""), std::string::npos);
    EXPECT_NE(warnings.find("\"0\""), std::string::npos);
    EXPECT_NE(report.find("\nalpha:     1.000000  and beta:     0.000000\n"), std::string::npos);

    const std::vector<int> kept = {1, 2, 4, 7, 8, 9, 10, 11, 13, 14, 15, 16};
    std::map<int, double> expected;
    for (int s : kept) {
        Moments m = moments(column(Cd, s));
        expected[s] = normalUpperTail(Cn[s - 1], m.mean, m.sd);
        int above = 0;
        for (double v : column(Cd, s)) above += v > Cn[s - 1];
        char line[64];
        std::snprintf(line, sizeof line, "\n%4d      %8.6f     %8.6f\n", s, above / 4.0, above / 4.0);
        EXPECT_NE(report.find(line), std::string::npos) << line;
    }

    std::vector<Row> rows = finalTable(report);
    ASSERT_EQ(rows.size(), kept.size());
    for (const Row& r : rows) {
        int s = r.site;
        Moments m = moments(column(Cd, s));
        EXPECT_NEAR(r.prob1, expected[s], 5e-6 * expected[s]) << s;
        EXPECT_NEAR(r.Cn, Cn[s - 1], 1e-6);
        EXPECT_NEAR(r.avgCd, m.mean, 1e-6);
        EXPECT_EQ(r.avgCexp, r.avgCd);
        EXPECT_NEAR(r.sigmaCd, m.sd, 1e-6);
        EXPECT_EQ(r.sigmaCexp, r.sigmaCd);
        EXPECT_EQ(r.func, (s == 2 || s == 7 || s == 13) ? 1.0 : 0.0) << s;
        EXPECT_NEAR(r.alpha, alpha[s - 1], 1e-5);
        EXPECT_EQ(r.ndProb, s <= 4 ? prob[s - 1] : 1.0) << s;
    }
    // Ascending, except that the exchange sort leaves the tie of sites 7 and 8 reversed.
    std::vector<int> order;
    for (const Row& r : rows) order.push_back(r.site);
    EXPECT_EQ(order, (std::vector<int>{14, 9, 13, 10, 15, 1, 11, 4, 16, 8, 7, 2}));
    std::vector<std::string> all = lines(report);
    auto title = std::find(all.begin(), all.end(), FINAL_TITLE);
    ASSERT_LT(title + 12, all.end());
    EXPECT_TRUE(title[11].empty());
    EXPECT_FALSE(title[10].empty());

    std::string rank, pvalue;
    for (const Row& r : rows) {
        rank += std::to_string(r.site) + "\n";
        char line[32];
        std::snprintf(line, sizeof line, "%12.6e\n", r.prob1);
        pvalue += line;
    }
    EXPECT_EQ(readFile(origin + ".rank"), rank);
    EXPECT_EQ(readFile(origin + ".pvalue"), pvalue);
}

TEST(Quorvel, ExchangeSortMovesTiesAsItSwaps) {
    struct Case {
        std::vector<double> prob;
        std::vector<int> positions;
    } cases[] = {{{0.3, 0.3, 0.1}, {3, 2, 1}},
                 {{0.2, 0.1, 0.3}, {2, 1, 3}},
                 {{0.5, 0.5, 0.5}, {1, 2, 3}},
                 {{0.4, 0.2, 0.2, 0.1}, {4, 3, 2, 1}}};
    for (const Case& c : cases) {
        seqLength = static_cast<int>(c.prob.size());
        double p[8];
        int f[8];
        for (int k = 1; k <= seqLength; k++) p[k] = c.prob[k - 1], f[k] = k % 2;
        prob1 = p;
        funcFlag = f;
        double** rank = rankSites();
        for (int r = 1; r <= seqLength; r++) {
            int k = c.positions[r - 1];
            EXPECT_EQ(rank[r][1], k);
            EXPECT_EQ(rank[r][2], c.prob[k - 1]);
            EXPECT_EQ(rank[r][3], k % 2);
        }
    }
}

namespace {

struct ScaledSites {
    std::vector<double> Cn, avgCd, sigmaCd;
    std::vector<std::vector<double>> Cd;
};

ScaledSites scaledSites() {
    ScaledSites s;
    s.Cn = values(fixture("scaled.origin"));
    s.Cd = replicateTable(fixture("scaled.mutation"));
    for (size_t i = 1; i <= s.Cn.size(); i++) {
        Moments m = moments(column(s.Cd, static_cast<int>(i)));
        s.avgCd.push_back(m.mean);
        s.sigmaCd.push_back(m.sd);
    }
    return s;
}

// The weighted least-squares line y = a + b x (unit weights when sig is empty).
void line(const std::vector<double>& x, const std::vector<double>& y, const std::vector<double>& sig,
          double& a, double& b) {
    double s = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); i++) {
        double w = sig.empty() ? 1.0 : 1.0 / (sig[i] * sig[i]);
        s += w, sx += w * x[i], sy += w * y[i], sxx += w * x[i] * x[i], sxy += w * x[i] * y[i];
    }
    b = (s * sxy - sx * sy) / (s * sxx - sx * sx);
    a = (sy - b * sx) / s;
}

// The printed transform "alpha: slope and beta: intercept".
void transformLine(const std::string& report, double& slope, double& intercept) {
    size_t at = report.find("\nalpha: ");
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(std::sscanf(report.c_str() + at, "\nalpha: %lf  and beta: %lf", &slope, &intercept), 2);
}

// I_x(a, b) by Simpson's rule on the beta density.
double betaCdf(double a, double b, double x) {
    const int steps = 20000;
    double h = x / steps, lnB = std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b), sum = 0;
    for (int k = 0; k <= steps; k++) {
        double t = k * h;
        double f =
            (t <= 0 || t >= 1) ? 0.0 : std::exp((a - 1) * std::log(t) + (b - 1) * std::log1p(-t) - lnB);
        sum += f * ((k == 0 || k == steps) ? 1 : (k % 2 ? 4 : 2));
    }
    return sum * h / 3;
}

} // namespace

// The default fit, -L and -B work in single precision: tolerances, not equality.
TEST(Quorvel, FitsTheReplicatesOntoTheObservedScale) {
    ScaledSites s = scaledSites();
    std::string dir = scratch("scaled");
    std::string origin = copyIn(dir, "scaled.origin");
    std::string mutation = fixture("scaled.mutation");
    struct Mode {
        std::vector<std::string> flags;
        bool weighted, beta;
    } modes[] = {
        {{}, false, false}, {{"-L"}, true, false}, {{"-B"}, false, true}, {{"-Lfoo", "-B"}, true, true}};
    for (const Mode& mode : modes) {
        std::vector<std::string> args = {"-O", origin, "-M", mutation};
        args.insert(args.end(), mode.flags.begin(), mode.flags.end());
        std::string report = run(args);
        double a, b, slope, intercept;
        if (mode.weighted) {
            line(s.Cn, s.avgCd, s.sigmaCd, a, b);
            slope = 1 / b, intercept = -a / b;
        } else {
            line(s.avgCd, s.Cn, {}, a, b);
            slope = b, intercept = a;
        }
        double shownSlope, shownIntercept;
        transformLine(report, shownSlope, shownIntercept);
        EXPECT_NEAR(shownSlope, slope, 1e-4 * std::fabs(slope));
        EXPECT_NEAR(shownIntercept, intercept, 1e-4);

        std::vector<Row> rows = finalTable(report);
        ASSERT_EQ(rows.size(), s.Cn.size());
        for (const Row& r : rows) {
            int i = r.site - 1;
            double mean = s.avgCd[i] * slope + intercept, sd = s.sigmaCd[i] * std::fabs(slope);
            EXPECT_NEAR(r.avgCexp, mean, 1e-5);
            EXPECT_NEAR(r.sigmaCexp, sd, 1e-5);
            double expected;
            if (mode.beta) {
                double sA = mean * ((mean - mean * mean) / (sd * sd) - 1), sB = (1 / mean - 1) * sA;
                expected = 1 - betaCdf(sA, sB, s.Cn[i]);
            } else {
                expected = normalUpperTail(s.Cn[i], mean, sd);
            }
            EXPECT_NEAR(r.prob1, expected, 2e-4 * expected + 1e-6) << r.site << " " << mode.flags.size();
        }
        for (size_t k = 1; k < rows.size(); k++) EXPECT_LE(rows[k - 1].prob1, rows[k].prob1);
    }
}

// The beta mode shows the moments and shapes of the site numbered 15, by the names of the
// untransformed values.
TEST(Quorvel, BetaModeShowsSiteFifteen) {
    std::string dir = scratch("fifteen");
    std::string twice;
    for (const std::string& row : lines(readFile(fixture("scaled.mutation")))) twice += row + row + "\n";
    writeFile(dir + "/origin", readFile(fixture("scaled.origin")) + readFile(fixture("scaled.origin")));
    writeFile(dir + "/mutation", twice);
    std::string report = run({"-O", dir + "/origin", "-M", dir + "/mutation", "-R", "-B"});
    ScaledSites s = scaledSites();
    double mean = s.avgCd[6], var = s.sigmaCd[6] * s.sigmaCd[6];
    double sA = mean * ((mean - mean * mean) / var - 1), sB = (1 / mean - 1) * sA;
    char line[160];
    std::snprintf(line, sizeof line,
                  "site 15, its Cn:%10.6f avgCd:%10.6f sigmaCd:%10.6f alpha: %10.6f beta:%10.6f\n", s.Cn[6],
                  mean, s.sigmaCd[6], sA, sB);
    EXPECT_NE(report.find(line), std::string::npos) << line;
}

TEST(Quorvel, RatioModeDropsSitesWhoseRatioIsLow) {
    ScaledSites s = scaledSites();
    std::string dir = scratch("ratio");
    std::string origin = copyIn(dir, "scaled.origin");
    std::string report = run({"-O", origin, "-M", fixture("scaled.mutation"), "-r", "-R"});
    std::vector<double> ratio;
    for (size_t i = 0; i < s.Cn.size(); i++) ratio.push_back(s.avgCd[i] / s.Cn[i]);
    Moments m = moments(ratio);
    char summary[96];
    std::snprintf(summary, sizeof summary, "avgRatio:%f  sigmaRatio:%f ratioLength:8\n", m.mean, m.sd);
    EXPECT_NE(report.find(summary), std::string::npos) << summary;
    std::vector<int> kept;
    for (const Row& r : finalTable(report)) kept.push_back(r.site);
    std::sort(kept.begin(), kept.end());
    std::vector<int> expected;
    for (size_t i = 0; i < ratio.size(); i++)
        if (ratio[i] >= m.mean - m.sd) expected.push_back(static_cast<int>(i) + 1);
    EXPECT_EQ(kept, expected);
    EXPECT_EQ(expected.size(), 7u);
}

// With fewer than two ratio sites there is no spread to cut at: defined numbers, no cut.
TEST(Quorvel, RatioModeWithFewerThanTwoRatioSitesCutsNothing) {
    std::string dir = scratch("ratio_few");
    std::string mutation = dir + "/mutation";
    writeFile(mutation, "1.0 2.0 3.0\n2.0 3.0 5.0\n");
    struct Case {
        std::string origin, summary;
    } cases[] = {{"0\n0\n0\n", "avgRatio:0.000000  sigmaRatio:0.000000 ratioLength:0\n"},
                 {"0\n0\n2\n", "avgRatio:2.000000  sigmaRatio:0.000000 ratioLength:1\n"}};
    for (const Case& c : cases) {
        writeFile(dir + "/origin", c.origin);
        std::string report = run({"-O", dir + "/origin", "-M", mutation, "-r", "-R"});
        EXPECT_NE(report.find(c.summary), std::string::npos) << report;
        EXPECT_EQ(report.find("nan"), std::string::npos);
        EXPECT_NE(report.find("seqLength: 3\n"), std::string::npos);
    }
}

// Lines, paths and site lists of any length are read whole.
TEST(Quorvel, ReadsInputsWithoutFixedLimits) {
    std::string dir = scratch(std::string(80, 'd'));
    const int n = 4000; // a replicate line of 52,000 characters
    std::string origin, func = "cutoff5:", rep[3];
    for (int i = 1; i <= n; i++) {
        origin += std::to_string(-(i % 7) - 1.75) + "\n";
        for (int r = 0; r < 3; r++) {
            char value[16];
            std::snprintf(value, sizeof value, "%12.4f ", -(i % 7) - 1.0 - r * 0.5 - (i % 3) * 0.01);
            rep[r] += value;
        }
        if (i % 2 == 0) func += " " + std::to_string(i);
    }
    writeFile(dir + "/origin", origin);
    writeFile(dir + "/mutation", rep[0] + "\n" + rep[1] + "\n" + rep[2] + "\n");
    writeFile(dir + "/func", func + "\ncutoff8: 1\n");
    std::string report = run({"-O", dir + "/origin", "-M", dir + "/mutation", "-F", dir + "/func", "-R"});
    EXPECT_EQ(replicates, 3);
    EXPECT_EQ(seqLength, n);
    EXPECT_EQ(funcFlag[n], 1);
    EXPECT_EQ(funcFlag[n - 1], 0);
    EXPECT_EQ(funcFlag[1], 0);
    EXPECT_EQ(lines(readFile(dir + "/origin.rank")).size(), static_cast<size_t>(n));
}

// Blank and blank-only lines carry no value; a last line without its newline still does.
TEST(Quorvel, CountsOnlyLinesThatCarryAValue) {
    std::string dir = scratch("lines");
    writeFile(dir + "/origin", "\n-2.5\n \n\n9\n  -3\n7");
    writeFile(dir + "/mutation", "\n1 2 3 4\n\n   \n2 3 4 5\n3 1 2 6");
    std::string report = run({"-O", dir + "/origin", "-M", dir + "/mutation", "-R"});
    EXPECT_NE(report.find("seqlength: 4\n"), std::string::npos);
    EXPECT_NE(report.find("   4     7.000000       1.010000    1.000000e+00\n"), std::string::npos);
    EXPECT_EQ(replicates, 3);
}

// Under -R a fit that cannot map anything is only shown; the run goes on.
TEST(Quorvel, NoRegressionRunsOnWithADegenerateFit) {
    std::string dir = scratch("degenerate");
    writeFile(dir + "/origin", "-3.0\n");
    writeFile(dir + "/mutation", "-4.0\n-5.0\n");
    std::string report = run({"-O", dir + "/origin", "-M", dir + "/mutation", "-R"});
    EXPECT_EQ(readFile(dir + "/origin.rank"), "1\n");
}

namespace {

struct FailureCase {
    std::string name;
    std::vector<std::string> args;
    std::string pattern;
};

} // namespace

// Every refused command line and input ends with status 1 and says what is wrong.
TEST(QuorvelDeathTest, BadCommandLinesAndInputsEndWithStatusOne) {
    std::string dir = scratch("failures");
    std::string origin = copyIn(dir, "hand.origin"), scaled = copyIn(dir, "scaled.origin");
    std::string mutation = fixture("hand.mutation"), alpha = fixture("hand.alpha");
    writeFile(dir + "/titled", "Log likelihood for each site after shuffle\n" + readFile(mutation));
    writeFile(dir + "/single", lines(readFile(mutation))[0] + "\n");
    writeFile(dir + "/shortalpha", "1.5\n1.5\n\n");
    std::string manyProb;
    for (int i = 0; i < 17; i++) manyProb += "0.5\n";
    writeFile(dir + "/manyprob", manyProb);
    writeFile(dir + "/one", "-3.0\n");
    writeFile(dir + "/one.mutation", "-4.0\n-5.0\n");
    writeFile(dir + "/flat.mutation", "1 1 1\n2 2 2\n");
    writeFile(dir + "/three", "4\n5\n6\n");
    writeFile(dir + "/two", "0.2\n0.5\n");
    writeFile(dir + "/two.mutation", "0.1 0.3\n0.2 0.35\n0.15 0.4\n");
    writeFile(dir + "/big", "1.5\n0.5\n");
    // Values that are not finite, each on the second value line of its file.
    std::string sixteen = readFile(origin).substr(readFile(origin).find('\n') + 1);
    writeFile(dir + "/nan.origin", "-2.5\n\n  nan\n" + sixteen);
    writeFile(dir + "/inf.alpha", "1.5\n-inf\n" + readFile(alpha));
    writeFile(dir + "/huge.prob", "0.5\n1e999\n");
    std::vector<std::string> replicateLines = lines(readFile(mutation));
    std::string nanReplicate = replicateLines[1];
    nanReplicate.replace(nanReplicate.find(' ', 20) + 1, 0, "NaN ");
    writeFile(dir + "/nan.mutation", replicateLines[0] + "\n" + nanReplicate + "\n" + readFile(mutation));
    writeFile(dir + "/blank.origin", "\n  \n\n");
    const FailureCase cases[] = {
        {"no origin", {"-M", mutation}, "can not open file:  to read\n"},
        {"missing origin", {"-O", dir + "/none"}, "can not open file: " + dir + "/none to read\n"},
        {"no mutation", {"-O", origin, "-A", alpha}, "\ncan not open file: \n$"},
        {"too many probabilities",
         {"-O", origin, "-M", mutation, "-P", dir + "/manyprob"},
         "row number is wrong in file: " + dir + "/manyprob\n"},
        {"title line left in",
         {"-O", origin, "-M", dir + "/titled"},
         "mutation file: " + dir + "/titled, line 1: replicate 1 has 7 values, expected 16"},
        {"one replicate",
         {"-O", origin, "-M", dir + "/single"},
         "holds 1 replicates; at least two are needed"},
        {"short alpha file",
         {"-O", origin, "-M", mutation, "-A", dir + "/shortalpha"},
         "alpha file: " + dir + "/shortalpha has 3 lines but the origin file has 16 sites"},
        {"one site",
         {"-O", dir + "/one", "-M", dir + "/one.mutation"},
         "over 1 sites is degenerate \\(fewer than two"},
        {"equal x", {"-O", dir + "/three", "-M", dir + "/flat.mutation"}, "\\(all x values are equal\\)"},
        {"no beta moments",
         {"-O", origin, "-M", mutation, "-R", "-B"},
         "site 1: the replicates' mean -33.8325"},
        {"Cn outside the beta range",
         {"-O", dir + "/big", "-M", dir + "/two.mutation", "-R", "-B"},
         "Bad x in routine betai"},
        {"weighted fit of two sites",
         {"-O", dir + "/two", "-M", dir + "/two.mutation", "-L"},
         "Invalid arguments in routine gammq"},
        {"nan in the origin file",
         {"-O", dir + "/nan.origin", "-M", mutation},
         "origin file: " + dir + "/nan.origin, line 3: \"nan\" is not a finite number\n"},
        {"inf in the alpha file",
         {"-O", origin, "-M", mutation, "-A", dir + "/inf.alpha"},
         "alpha file: " + dir + "/inf.alpha, line 2: \"-inf\" is not a finite number\n"},
        {"a probability beyond the range of a double",
         {"-O", origin, "-M", mutation, "-P", dir + "/huge.prob"},
         "probability file: " + dir + "/huge.prob, line 2: \"1e999\" is not a finite number\n"},
        {"nan in a replicate",
         {"-O", origin, "-M", dir + "/nan.mutation"},
         "mutation file: " + dir + "/nan.mutation, line 2, site 3: \"NaN\" is not a finite number\n"},
        {"an origin file without values",
         {"-O", dir + "/blank.origin", "-M", mutation, "-R"},
         "origin file: " + dir + "/blank.origin holds no values"},
        {"an endless origin",
         {"-O", "/dev/urandom", "-M", mutation},
         "origin file: /dev/urandom, line [0-9]+: holds a NUL character"},
        {"an endless replicate line",
         {"-O", origin, "-M", "/dev/zero"},
         "mutation file: /dev/zero, line 1: holds a NUL character"},
        {"an endless function-site line",
         {"-O", origin, "-M", mutation, "-F", "/dev/zero"},
         "function-site file: /dev/zero, line 1: holds a NUL character"},
    };
    for (const FailureCase& c : cases)
        EXPECT_EXIT(runToStderr(c.args), testing::ExitedWithCode(1), c.pattern) << c.name;
}

TEST(QuorvelDeathTest, OutputsThatCannotBeWrittenEndWithStatusOne) {
    std::string dir = scratch("unwritable");
    std::string origin = copyIn(dir, "scaled.origin");
    fs::create_directory(origin + ".rank");
    EXPECT_EXIT(runToStderr({"-O", origin, "-M", fixture("scaled.mutation")}), testing::ExitedWithCode(1),
                "can not open file: " + origin + ".rank to write\n");
    fs::remove(origin + ".rank");
    fs::create_symlink("/dev/full", origin + ".pvalue");
    EXPECT_EXIT(runToStderr({"-O", origin, "-M", fixture("scaled.mutation")}), testing::ExitedWithCode(1),
                "can not write file: " + origin + ".pvalue\n");
}

namespace {

// Three sites over three replicates, with every optional file; each case below spoils one of them.
struct SmallRun {
    std::string dir, origin, mutation, alpha, prob, func;
    explicit SmallRun(const std::string& name)
        : dir(scratch(name)), origin(dir + "/origin"), mutation(dir + "/mutation"), alpha(dir + "/alpha"),
          prob(dir + "/prob"), func(dir + "/func") {
        writeFile(origin, "0.5\n-1.25\n2\n");
        writeFile(mutation, "0.1 -1.0 1.0\n0.3 -1.5 1.5\n0.2 -1.2 2.5\n");
        writeFile(alpha, "1.5\n1.5\n1.5\n");
        writeFile(prob, "0.1\n0.2\n0.3\n");
        writeFile(func, "cutoff5: 1 3\ncutoff8: 2\n");
    }
    std::vector<std::string> args() const {
        return {"-O", origin, "-M", mutation, "-A", alpha, "-P", prob, "-F", func, "-R"};
    }
};

std::string withCarriageReturns(const std::string& text, const std::string& end) {
    std::string result;
    for (char ch : text) result += ch == '\n' ? end : std::string(1, ch);
    return result;
}

} // namespace

// A bare carriage return ends a line as "\r\n" and "\n" do, in every file.
TEST(Quorvel, ReadsOldMacAndDosLineEndsAsNewlines) {
    std::string unix = scratch("line_ends_unix"), mac = scratch("line_ends_mac");
    const std::string names[] = {"hand.origin", "hand.mutation", "hand.alpha", "hand.prob", "hand.func"};
    for (const std::string& name : names) {
        copyIn(unix, name);
        std::string end = name == "hand.mutation" ? "\r\n" : "\r";
        writeFile(mac + "/" + name, withCarriageReturns(readFile(fixture(name)), end));
    }
    auto runIn = [](const std::string& dir) {
        return run({"-O", dir + "/hand.origin", "-M", dir + "/hand.mutation", "-A", dir + "/hand.alpha", "-P",
                    dir + "/hand.prob", "-F", dir + "/hand.func", "-R"});
    };
    testing::internal::CaptureStderr();
    std::string expected = runIn(unix), report = runIn(mac);
    testing::internal::GetCapturedStderr();
    EXPECT_NE(expected.find("seqLength: 12\n"), std::string::npos);
    EXPECT_EQ(report, expected);
    EXPECT_EQ(readFile(mac + "/hand.origin.rank"), readFile(unix + "/hand.origin.rank"));
    EXPECT_EQ(readFile(mac + "/hand.origin.pvalue"), readFile(unix + "/hand.origin.pvalue"));
}

// Every field is read whole, in the C locale; what is not a number is named where it stands.
TEST(QuorvelDeathTest, FieldsThatAreNotNumbersAreRefusedWithFileLineAndValue) {
    const std::vector<std::string> notNumbers = {"abc",
                                                 "x-12.5",
                                                 "-12,5",
                                                 "\xE2\x88\x92"
                                                 "12.5",
                                                 "1.5.2",
                                                 "0.5x",
                                                 "0x10"};
    const std::vector<std::string> notSites = {"2.5", "2,7,9", "12x", "0x2"};
    // Each file with a word in one place: the text before it, after it, and the place as named.
    const struct {
        std::string SmallRun::*file;
        std::string kind, before, after, where;
        const std::vector<std::string>& words;
        std::string fault;
    } places[] = {
        {&SmallRun::origin, "origin", "0.5\n", "\n2\n", ", line 2", notNumbers, "is not a number"},
        {&SmallRun::alpha, "alpha", "1.5\n1.5\n", "\n", ", line 3", notNumbers, "is not a number"},
        {&SmallRun::prob, "probability", "\n", "\n0.2\n0.3\n", ", line 2", notNumbers, "is not a number"},
        {&SmallRun::mutation, "mutation", "0.1 -1.0 1.0\n0.3 -1.5 ", "\n0.2 -1.2 2.5\n", ", line 2, site 3",
         notNumbers, "is not a number"},
        {&SmallRun::func, "function-site", "cutoff5: 1 ", "\ncutoff8: 2\n", ", line 1", notSites,
         "is not a whole site number"},
    };
    for (const auto& place : places)
        for (const std::string& word : place.words) {
            SmallRun r("fields");
            writeFile(r.*place.file, place.before + word + place.after);
            EXPECT_EXIT(runToStderr(r.args()), testing::ExitedWithCode(1),
                        place.kind + " file: " + r.*place.file + place.where + ": \"" + word + "\" " +
                            place.fault + "\n")
                << place.kind << " " << word;
        }
}

// Values are paired with sites by position, so every file must hold exactly one value per site.
TEST(QuorvelDeathTest, FilesThatDoNotHoldOneValuePerSiteAreRefused) {
    SmallRun r("per_site");
    const struct {
        std::string name;
        std::string SmallRun::*file;
        std::string text, pattern;
    } cases[] = {
        {"two values on an origin line", &SmallRun::origin, "0.5\n-1.25 7\n2\n",
         "origin file: " + r.origin + ", line 2: \"-1.25 7\" holds 2 values; one value per line is needed\n"},
        {"a replicate line with an extra value", &SmallRun::mutation,
         "0.1 -1.0 1.0\n0.3 -1.5 1.5 9\n0.2 -1.2 2.5\n",
         "mutation file: " + r.mutation + ", line 2: replicate 2 has 4 values, expected 3"},
        {"a transposed mutation file (more columns than origin values)", &SmallRun::mutation,
         "0.1 0.3 0.2 0.4\n-1.0 -1.5 -1.2 -1.1\n1.0 1.5 2.5 1.8\n",
         "mutation file: " + r.mutation + ", line 1: replicate 1 has 4 values, expected 3"},
        {"a probability file with more rows than sites", &SmallRun::prob, "0.1\n0.2\n0.3\n\n0.4\n",
         "probability file: " + r.prob + ", line 5: a value beyond the 3 sites of the origin file.*" +
             "row number is wrong in file: " + r.prob + "\n"},
        {"a blank line among the alphas", &SmallRun::alpha, "1.5\n\n1.5\n1.5\n",
         "alpha file: " + r.alpha + ", line 2: \"\" holds 0 values"},
        {"an alpha beyond the sites", &SmallRun::alpha, "1.5\n1.5\n1.5\n\n2.5\n",
         "alpha file: " + r.alpha + ", line 5: a value beyond the 3 sites of the origin file"},
    };
    for (const auto& c : cases) {
        SmallRun spoilt("per_site");
        writeFile(spoilt.*c.file, c.text);
        EXPECT_EXIT(runToStderr(spoilt.args()), testing::ExitedWithCode(1), c.pattern) << c.name;
    }
}

namespace {

// A pattern for the death tests that matches text exactly as written.
std::string literal(const std::string& text) {
    std::string pattern;
    for (char ch : text) {
        if (std::string("\\^$.|?*+()[]{}").find(ch) != std::string::npos) pattern += '\\';
        pattern += ch;
    }
    return pattern;
}

const std::string USAGE =
    "Usage: quorvel [-R] [-L] -O originLog(L)File -M mutationLog(L)File [-A alphaFile] [-P "
    "prob(normal distribution)File] [-F funcFile]\n"
    "-R not use regression mode\n"
    "-L use maximal likelihood regression, default: linear regression\n"
    "-B use beta distribution to calculate the probability, default use normal "
    "distribution\n";

} // namespace

// A refused command line prints the usage text and then the one line that names its fault; the
// word at fault is shown so that an empty word or a newline in it can be seen.
TEST(QuorvelDeathTest, RefusedCommandLinesNameTheirCause) {
    SmallRun r("command_line");
    const struct {
        std::vector<std::string> args;
        std::string cause;
    } cases[] = {
        {{"O", r.origin}, "O is not an option"},
        {{"-O", r.origin, r.mutation}, r.mutation + " is not an option"},
        {{"-x"}, "-x is not an option"},
        {{"-"}, "- is not an option"},
        {{"-M", r.mutation, "-O"}, "-O needs a value"},
        {{"-Lfoo", "-Mxyz"}, "-Mxyz needs a value"},
        {{"-O", r.origin, ""}, "\"\" is not an option"},
        {{"-O\n"}, "\"-O\\n\" needs a value"},
        {{"-O", r.origin, "-M", r.mutation, "-R", "job\tmutation", "x y"},
         "\"job\\tmutation\" is not an option"},
        {{"-O", r.origin, "x y"}, "\"x y\" is not an option"},
    };
    for (const auto& c : cases)
        EXPECT_EXIT(runToStderr(c.args), testing::ExitedWithCode(1),
                    "^" + literal(USAGE + "quorvel: " + c.cause + "\n") + "$")
            << c.cause;
    // Without any word there is no fault to name: the usage text alone.
    EXPECT_EXIT(runToStderr({}), testing::ExitedWithCode(1), "^" + literal(USAGE) + "$");
}

// The probabilities are only shown: a file that stops short leaves the remaining sites at 1.0.
TEST(Quorvel, ProbabilityFileMayHoldFewerValuesThanSites) {
    const struct {
        std::string text;
        std::vector<double> ndProb;
    } cases[] = {
        {"0.1\n0.2\n\n", {0.1, 0.2, 1.0}},
        {"\n0.1\n", {0.1, 1.0, 1.0}},
        {"", {1.0, 1.0, 1.0}},
    };
    for (const auto& c : cases) {
        SmallRun r("short_prob");
        writeFile(r.prob, c.text);
        std::vector<double> shown(3);
        for (const Row& row : finalTable(run(r.args()))) shown[row.site - 1] = row.ndProb;
        EXPECT_EQ(shown, c.ndProb) << c.text;
    }
}

// A byte-order mark before the first line, as Windows editors write it, and tabs at the ends of a
// field are no part of the values: the run is the one of the plain files.
TEST(Quorvel, ReadsByteOrderMarksAndTabsAroundFieldsAsNothing) {
    const std::string mark = "\xEF\xBB\xBF";
    SmallRun plain("plain");
    std::string expected = run(plain.args());
    const struct {
        std::string name;
        std::vector<std::pair<std::string SmallRun::*, std::string>> files;
    } variants[] = {
        {"a byte-order mark on every file",
         {{&SmallRun::origin, mark + "0.5\n-1.25\n2\n"},
          {&SmallRun::mutation, mark + "0.1 -1.0 1.0\n0.3 -1.5 1.5\n0.2 -1.2 2.5\n"},
          {&SmallRun::alpha, mark + "1.5\n1.5\n1.5\n"},
          {&SmallRun::prob, mark + "0.1\n0.2\n0.3\n"},
          {&SmallRun::func, mark + "cutoff5: 1 3\ncutoff8: 2\n"}}},
        {"tabs around fields",
         {{&SmallRun::origin, "\t0.5\n-1.25\t\n2\n"},
          {&SmallRun::mutation, "0.1 -1.0 1.0\t\n\t0.3 \t -1.5 1.5\n0.2 -1.2\t 2.5\n"}}},
    };
    for (const auto& v : variants) {
        SmallRun r("decorated");
        for (const auto& [file, text] : v.files) writeFile(r.*file, text);
        EXPECT_EQ(run(r.args()), expected) << v.name;
        EXPECT_EQ(readFile(r.origin + ".pvalue"), readFile(plain.origin + ".pvalue")) << v.name;
    }
    // A function-site file of only the mark is empty: no site is functional.
    SmallRun r("mark_only");
    writeFile(r.func, mark);
    for (const Row& row : finalTable(run(r.args()))) EXPECT_EQ(row.func, 0.0) << row.site;
}

// A file of only a byte-order mark is as empty, and refused where an empty file is.
TEST(QuorvelDeathTest, AFileOfOnlyAByteOrderMarkIsEmpty) {
    const struct {
        std::string SmallRun::*file;
        std::string message;
    } cases[] = {
        {&SmallRun::origin, "origin file: @ holds no values"},
        {&SmallRun::mutation, "mutation file: @ holds 0 replicates"},
        {&SmallRun::alpha, "alpha file: @ has 0 lines"},
    };
    for (const auto& c : cases) {
        SmallRun r("mark_only");
        writeFile(r.*c.file, "\xEF\xBB\xBF");
        std::string message = c.message;
        message.replace(message.find('@'), 1, r.*c.file);
        EXPECT_EXIT(runToStderr(r.args()), testing::ExitedWithCode(1), literal(message)) << message;
    }
}

// Values are split at blanks only; a tab between two of them is named as such, before a line
// that it leaves short of values is counted.
TEST(QuorvelDeathTest, ATabInsideALineIsRefusedAsNoSeparator) {
    const struct {
        std::string SmallRun::*file;
        std::string kind, text, line, field;
    } cases[] = {
        {&SmallRun::mutation, "mutation", "0.1\t-1.0\t1.0\n0.3 -1.5 1.5\n", "1", "0.1\\t-1.0\\t1.0"},
        {&SmallRun::mutation, "mutation", "0.1 -1.0 1.0\n0.3 -1.5\t1.5\n", "2", "-1.5\\t1.5"},
        {&SmallRun::origin, "origin", "0.5\n-1.25\t7\n2\n", "2", "-1.25\\t7"},
        {&SmallRun::func, "function-site", "cutoff5: 1\t3\n", "1", "1\\t3"},
    };
    for (const auto& c : cases) {
        SmallRun r("tab");
        writeFile(r.*c.file, c.text);
        EXPECT_EXIT(runToStderr(r.args()), testing::ExitedWithCode(1),
                    literal(c.kind + " file: " + r.*c.file + ", line " + c.line + ": \"" + c.field +
                            "\" holds a tab; the values of a line are separated by blanks, a tab is not a "
                            "separator\n"))
            << c.text;
    }
}

// A file the user named must be there, as the origin file must.
TEST(QuorvelDeathTest, NamedFilesThatCannotBeReadAreRefused) {
    SmallRun r("named");
    for (const char* option : {"-A", "-P", "-F"}) {
        std::vector<std::string> args = r.args();
        auto at = std::find(args.begin(), args.end(), option);
        at[1] = r.dir + "/misspelt";
        EXPECT_EXIT(runToStderr(args), testing::ExitedWithCode(1),
                    "can not open file: " + r.dir + "/misspelt to read\n")
            << option;
    }
    EXPECT_EXIT(runToStderr({"-O", r.dir, "-M", r.mutation}), testing::ExitedWithCode(1),
                "origin file: " + r.dir + ", line 1: can not be read \\(Is a directory\\)\n");
}

// Where no line can be fitted, -R (which does not use it) says why in its place: no nan or inf.
TEST(Quorvel, NoRegressionShowsWhyThereIsNoFit) {
    std::string dir = scratch("no_fit");
    const struct {
        std::string origin, mutation, reason;
    } cases[] = {
        {"-3.0\n", "-4.0\n-5.0\n", "no straight-line fit over 1 sites (fewer than two sites)"},
        {"0.2\n0.5\n", "0.1 0.3\n0.2 0.35\n0.15 0.4\n",
         "no straight-line fit over 2 sites (two sites leave its errors undefined; it needs three)"},
        {"3\n4\n5\n", "1 1 1\n2 2.0000001 2\n0 0 0\n",
         "no straight-line fit over 3 sites (all x values are equal)"},
        {"1.1\n2.3\n3.7\n", "1e40 2 3.5\n2 3 4\n0 1 2\n",
         "no straight-line fit over 3 sites (its results are beyond single precision)"},
    };
    for (const auto& c : cases) {
        writeFile(dir + "/origin", c.origin);
        writeFile(dir + "/mutation", c.mutation);
        std::string report = run({"-O", dir + "/origin", "-M", dir + "/mutation", "-R"});
        EXPECT_NE(report.find(c.reason + "; -R does not use it\n"), std::string::npos) << report;
        std::string all = report + readFile(dir + "/origin.pvalue");
        EXPECT_EQ(all.find("nan"), std::string::npos) << c.reason;
        EXPECT_EQ(all.find("inf"), std::string::npos) << c.reason;
    }
}

// A run that cannot give every site a defined probability ends with status 1 and says why,
// and one whose statistical routines stop says first which option needs what.
TEST(QuorvelDeathTest, RunsWithoutDefinedProbabilitiesEndWithStatusOne) {
    std::string dir = scratch("undefined");
    auto inputs = [&](const std::string& name, const std::string& origin, const std::string& mutation) {
        writeFile(dir + "/" + name + ".origin", origin);
        writeFile(dir + "/" + name + ".mutation", mutation);
        return std::vector<std::string>{"-O", dir + "/" + name + ".origin", "-M",
                                        dir + "/" + name + ".mutation"};
    };
    auto with = [](std::vector<std::string> args, std::initializer_list<std::string> more) {
        args.insert(args.end(), more);
        return args;
    };
    writeFile(dir + "/ones.alpha", "1\n1.0\n1.00000000001\n");
    std::vector<std::string> three =
        inputs("three", "0.5\n-1.25\n2\n", "0.1 -1.0 1.0\n0.3 -1.5 1.5\n0.2 -1.2 2.5\n");
    const std::string noSite =
        "no site is left: every site has an alpha of 1 or below 1e-8, replicates without "
        "spread, or a Cn equal to their mean\n";
    const FailureCase cases[] = {
        {"every alpha 1 under -R", with(three, {"-A", dir + "/ones.alpha", "-R"}), noSite},
        {"replicates without spread",
         with(inputs("flat", "0.5\n-1.25\n", "0.1 -1.0\n0.1 -1.0\n0.1 -1.0\n"), {"-R"}), noSite},
        {"two sites for the default fit", inputs("two", "0.2\n0.5\n", "0.1 0.3\n0.2 0.35\n0.15 0.4\n"),
         "the straight-line fit over 2 sites is degenerate \\(two sites leave its errors undefined; it needs "
         "three\\)"},
        {"two sites for -L", with(inputs("two", "0.2\n0.5\n", "0.1 0.3\n0.2 0.35\n0.15 0.4\n"), {"-L", "-R"}),
         "-L needs at least three sites for the goodness of its weighted fit; 2 left\n"
         "Numerical Recipes run-time error...\nInvalid arguments in routine gammq\n"},
        {"an origin value outside 0..1 for -B",
         with(inputs("beta", "0.2\n1.5\n", "0.1 0.3\n0.2 0.35\n0.15 0.4\n"), {"-R", "-B"}),
         "-B needs every origin value within 0..1, the range of a beta variable; site 2 has 1.5\n"
         "Numerical Recipes run-time error...\nBad x in routine betai\n"},
        {"replicates whose variance overflows",
         with(inputs("huge", "0.5\n-1.25\n2\n", "0.1 -1.0 1e308\n0.3 -1.5 -1e308\n0.2 -1.2 2.5\n"), {"-R"}),
         "site 3: the mean or deviation of its replicates is beyond the range of a double\n"},
        {"a ratio that overflows",
         with(inputs("ratio", "0.5\n1e-7\n2\n", "0.1 1e302 1.0\n0.3 1e302 1.5\n0.2 1e302 2.5\n"),
              {"-r", "-R"}),
         "site 2: its ratio avgCd/Cn = 1e\\+302/1e-07 is beyond the range of a double\n"},
        // The intercept of 1e9 swallows site 5's spread of 2e-8.
        {"replicates that the fit merges",
         inputs("merged", "1000000000\n1000001000\n1000002000\n1000003000\n1000001500\n",
                "0 1000 2000 3000 1500\n1 1001 2001 3001 1500.00000002\n2 1002 2002 3002 1500.00000004\n"),
         "site 5: the fit maps all its replicates onto one value, so its probability is not defined\n"},
    };
    for (const FailureCase& c : cases) {
        EXPECT_EXIT(runToStderr(c.args), testing::ExitedWithCode(1), c.pattern) << c.name;
        EXPECT_FALSE(fs::exists(c.args[1] + ".rank")) << c.name;
    }
}

// The outputs are named after the origin file; one that is an input, by its path or by another
// name for the same file, is refused before anything is read or written.
TEST(QuorvelDeathTest, OutputsOntoInputsAreRefusedBeforeAnythingIsWritten) {
    const struct {
        std::string option, given, output, kinds;
        bool link;
    } cases[] = {
        {"-M", "origin.rank", "origin.rank", "rank file @origin.rank would overwrite the mutation", false},
        {"-P", "origin.pvalue", "origin.pvalue",
         "p-value file @origin.pvalue would overwrite the probability", false},
        {"-A", "./origin.rank", "origin.rank", "rank file @origin.rank would overwrite the alpha", false},
        {"-F", "link", "origin.pvalue", "p-value file @origin.pvalue would overwrite the function-site",
         true},
    };
    for (const auto& c : cases) {
        SmallRun r("clash");
        std::vector<std::string> args = r.args();
        std::string& path = *(std::find(args.begin(), args.end(), c.option) + 1);
        std::string output = r.dir + "/" + c.output, given = r.dir + "/" + c.given;
        fs::copy_file(path, output);
        std::string before = readFile(output);
        if (c.link) fs::create_symlink(output, given);
        path = given;
        std::string kinds = c.kinds;
        kinds.replace(kinds.find('@'), 1, r.dir + "/");
        EXPECT_EXIT(runToStderr(args), testing::ExitedWithCode(1), "the " + kinds + " file " + given + " ")
            << c.option;
        EXPECT_EQ(readFile(output), before) << c.option;
        EXPECT_EQ(fs::exists(r.origin + ".rank") + fs::exists(r.origin + ".pvalue"), 1) << c.option;
    }
}
