#include "model.h"

#include "alignment.h"
#include "alignmentfile.h"
#include "model_setup.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Matrix = std::vector<std::vector<double>>;

Matrix multiply(const Matrix& x, const Matrix& y) {
    Matrix z(21, std::vector<double>(21, 0.0));
    for (int i = 1; i <= 20; i++)
        for (int k = 1; k <= 20; k++)
            for (int j = 1; j <= 20; j++) z[i][j] += x[i][k] * y[k][j];
    return z;
}

// exp(Q_ij·t·alfa) by scaling and squaring of a Taylor series, independent of the
// eigen-decomposition.
Matrix expm(double t, double alfa) {
    Matrix m(21, std::vector<double>(21, 0.0));
    double norm = 0.0;
    for (int i = 1; i <= 20; i++) {
        double row = 0.0;
        for (int j = 1; j <= 20; j++) {
            m[i][j] = Q_ij[i][j] * t * alfa;
            row += std::fabs(m[i][j]);
        }
        norm = std::max(norm, row);
    }
    int squarings = 0;
    while (norm > 0.25) norm /= 2, squarings++;
    for (auto& row : m)
        for (double& x : row) x = std::ldexp(x, -squarings);
    Matrix sum(21, std::vector<double>(21, 0.0)), term(21, std::vector<double>(21, 0.0));
    for (int i = 1; i <= 20; i++) sum[i][i] = term[i][i] = 1.0;
    for (int n = 1; n <= 30; n++) {
        term = multiply(term, m);
        for (int i = 1; i <= 20; i++)
            for (int j = 1; j <= 20; j++) {
                term[i][j] /= n;
                sum[i][j] += term[i][j];
            }
    }
    for (int s = 0; s < squarings; s++) sum = multiply(sum, sum);
    return sum;
}

// The frequencies of a small, uneven alignment with one residue (W) absent.
const double* skewedFrequencies() {
    static double f[21];
    double total = 0.0;
    for (int k = 1; k <= 20; k++) total += f[k] = k == 18 ? 0.0 : 1.0 + (k * 7 % 11);
    for (int k = 1; k <= 20; k++) f[k] /= total;
    return f;
}

// Writes of the result file, read back as text.
std::string captureResult(void (*write)()) {
    FILE* file = std::tmpfile();
    FILE* saved = resultFile;
    resultFile = file;
    write();
    resultFile = saved;
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

} // namespace

TEST(Model, ExchangeabilitiesAreTheRoundedWagTableSymmetricWithZeroDiagonal) {
    allocateModelStorageOnce();
    init_S();
    EXPECT_EQ(S_ij[2][1], 0.551571);   // R-A
    EXPECT_EQ(S_ij[20][10], 7.8213);   // V-I
    EXPECT_EQ(S_ij[5][4], 0.030295);   // C-D, 0.0302949 rounded
    EXPECT_EQ(S_ij[19][18], 2.485390); // Y-W
    EXPECT_EQ(S_ij[20][19], 0.314730); // V-Y, the last entry
    for (int i = 1; i <= 20; i++) {
        EXPECT_EQ(S_ij[i][i], 0.0);
        for (int j = 1; j <= 20; j++) EXPECT_EQ(S_ij[i][j], S_ij[j][i]);
    }
}

TEST(Model, RateMatrixRowsSumToZeroAndTheMeanRateIsOne) {
    for (const double* f : {wagFrequencies(), skewedFrequencies()}) {
        buildModel(f);
        double rate = 0.0;
        for (int i = 1; i <= 20; i++) {
            double row = 0.0;
            for (int j = 1; j <= 20; j++) row += Q_ij[i][j];
            EXPECT_NEAR(row, 0.0, 1e-14);
            rate += f[i] * -Q_ij[i][i];
        }
        EXPECT_NEAR(rate, 1.0, 1e-14);
    }
}

TEST(Model, TransitionProbabilitiesMatchAnIndependentMatrixExponential) {
    for (const double* f : {wagFrequencies(), skewedFrequencies()}) {
        buildModel(f);
        for (double t : {0.01, 0.3, 1.0, 4.0})
            for (double alfa : {0.2, 1.0, 3.5}) {
                Matrix P = expm(t, alfa);
                for (int i = 1; i <= 20; i++)
                    for (int j = 1; j <= 20; j++) {
                        // The absent residue (zero column of Q) is guarded to 0 exactly.
                        double expected = f[j] < 1e-10 && i != j ? 0.0 : P[i][j];
                        EXPECT_NEAR(pij(i, j, t, alfa), expected, 1e-11)
                            << "i " << i << " j " << j << " t " << t << " alfa " << alfa;
                    }
            }
    }
}

TEST(Model, RowsSumToOneAndDetailedBalanceHolds) {
    buildModel(wagFrequencies());
    for (double t : {0.05, 0.7, 2.5}) {
        for (int i = 1; i <= 20; i++) {
            double row = 0.0;
            for (int j = 1; j <= 20; j++) {
                row += pij(i, j, t, 1.3);
                EXPECT_NEAR(PI[i] * pij(i, j, t, 1.3), PI[j] * pij(j, i, t, 1.3), 1e-14);
            }
            EXPECT_NEAR(row, 1.0, 1e-12);
        }
    }
}

TEST(Model, ZeroBranchIsTheIdentityAndALongOneReachesTheFrequencies) {
    buildModel(wagFrequencies());
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) {
            EXPECT_NEAR(pij(i, j, 0.0, 1.0), i == j ? 1.0 : 0.0, 1e-12);
            EXPECT_NEAR(pij(i, j, 200.0, 1.0), PI[j], 1e-10);
        }
}

TEST(Model, DerivativesMatchCentralDifferences) {
    buildModel(wagFrequencies());
    const double h = 1e-5;
    for (double t : {0.1, 1.2})
        for (double alfa : {0.5, 2.0})
            for (int i : {1, 7, 18})
                for (int j : {1, 2, 20}) {
                    double byT = (pij(i, j, t + h, alfa) - pij(i, j, t - h, alfa)) / (2 * h);
                    double byAlfa = (pij(i, j, t, alfa + h) - pij(i, j, t, alfa - h)) / (2 * h);
                    EXPECT_NEAR(dpij(i, j, t, alfa), byT, 1e-8);
                    EXPECT_NEAR(dpij_alfa(i, j, t, alfa), byAlfa, 1e-8);
                }
}

TEST(Model, SharedFactorsGiveBitIdenticalEntries) {
    for (const double* f : {wagFrequencies(), skewedFrequencies()}) {
        buildModel(f);
        for (double t : {0.0, 0.013, 0.7, 9.0})
            for (double alfa : {0.1, 1.0, 2.7}) {
                double e[21];
                pijFactors(t, alfa, e);
                for (int i = 1; i <= 20; i++)
                    for (int j = 1; j <= 20; j++) {
                        EXPECT_EQ(pij_e(i, j, e), pij(i, j, t, alfa));
                        EXPECT_EQ(dpij_e(i, j, e, alfa), dpij(i, j, t, alfa));
                        EXPECT_EQ(dpij_alfa_e(i, j, e, t), dpij_alfa(i, j, t, alfa));
                    }
            }
    }
}

TEST(Model, GuardsOfTheTransitionProbability) {
    // A hand-made decomposition: v = I, wr = 0, so pij(i, j) is inv[i][j] itself.
    buildModel(wagFrequencies());
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) v[i][j] = inv[i][j] = i == j ? 1.0 : 0.0;
    for (int k = 1; k <= 20; k++) wr[k] = 0.0;
    struct Case {
        double entry, frequency, expected;
    } cases[] = {
        {-5e-13, 0.05, 0.0},    // rounding below 0 is taken as 0
        {-2e-12, 0.05, -2e-12}, // a larger negative value is returned as it is
        {0.25, 5e-11, 0.0},     // target residue absent from the alignment
        {0.25, 2e-10, 0.25},
    };
    for (const Case& c : cases) {
        inv[1][2] = c.entry;
        PI[2] = c.frequency;
        EXPECT_EQ(pij(1, 2, 0.5, 1.0), c.expected) << c.entry << " " << c.frequency;
    }
    PI[2] = 0.0;
    EXPECT_EQ(pij(2, 2, 0.5, 1.0), 1.0);  // the residue itself is still computed
    EXPECT_EQ(dpij(1, 2, 0.5, 1.0), 0.0); // the derivatives have no frequency guard
}

TEST(ModelDeathTest, TargetOutsideTheResiduesEndsWithStatusOne) {
    buildModel(wagFrequencies());
    // The messages go to standard output; the child sends it to standard error to be matched.
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), pij(3, 21, 1.0, 1.0)), testing::ExitedWithCode(1),
                "Warning: can not calculate pij\n node1: 3 and node2: 21\n");
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), pij(3, 0, 1.0, 1.0)), testing::ExitedWithCode(1),
                "node1: 3 and node2: 0");
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), dpij(1, 21, 1.0, 1.0)), testing::ExitedWithCode(1),
                "Error in dpij function");
    EXPECT_EXIT((dup2(STDERR_FILENO, STDOUT_FILENO), dpij_alfa(1, 0, 1.0, 1.0)), testing::ExitedWithCode(1),
                "Error in dpij function");
}

TEST(Model, EigenvectorColumnIsTheLastNearZeroOrElseTheSmallestSingularValue) {
    struct Case {
        std::vector<double> w;
        double threshold;
        int expected;
    } cases[] = {
        {{3.0, 1e-9, 2.0, 4.0}, 1e-6, 2},
        {{1e-9, 3.0, 2e-9, 4.0}, 1e-6, 3}, // several qualify: the last wins
        {{3.0, 0.5, 2.0, 0.5}, 1e-6, 2},   // none qualifies: the smallest, first of equals
        {{3.0, 1e-6, 2.0, 4.0}, 1e-6, 2},  // the bound itself does not qualify
        {{0.0, 0.0}, 0.0, 1},              // a zero threshold admits nothing
    };
    for (const Case& c : cases) {
        std::vector<double> w(1, 0.0);
        w.insert(w.end(), c.w.begin(), c.w.end());
        EXPECT_EQ(nullColumn(w.data(), static_cast<int>(c.w.size()), c.threshold), c.expected);
    }
}

TEST(Model, DecompositionReconstructsTheRateMatrixAndRaisesTheVersion) {
    allocateModelStorageOnce();
    init_S();
    cal_Q(const_cast<double*>(wagFrequencies()));
    unsigned long before = modelVersion;
    cal_Eign();
    EXPECT_EQ(modelVersion, before + 1);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) {
            double q = 0.0, identity = 0.0;
            for (int k = 1; k <= 20; k++) {
                q += v[i][k] * wr[k] * inv[k][j];
                identity += v[i][k] * inv[k][j];
            }
            EXPECT_NEAR(q, Q_ij[i][j], 1e-12);
            EXPECT_NEAR(identity, i == j ? 1.0 : 0.0, 1e-12);
        }
    for (int k = 1; k <= 20; k++) {
        double sum = 0.0;
        for (int i = 1; i <= 20; i++) sum += v[i][k];
        EXPECT_NEAR(sum, 1.0, 1e-12);
    }
}

// Four leaves (one per string); by site: A A C A, W - W W (one gap, still computed: at most
// seqNum-3 gaps), A - - C (two gaps, not computed), m M M M (lower case read as M).
const std::vector<std::string> smallAlignment = {"AWAm", "A--M", "CW-M", "AWCM"};

// A table row: the label, then "%6.0f " of each residue's value in units of 1e-5.
std::string tableRow(const std::string& label, std::vector<std::pair<int, int>> values) {
    std::string row = label;
    for (int k = 1; k <= 20; k++) {
        int value = 0;
        for (auto [code, units] : values)
            if (code == k) value = units;
        char cell[16];
        std::snprintf(cell, sizeof cell, "%6d ", value);
        row += cell;
    }
    return row;
}

TEST(Model, FrequenciesCountOnlyComputedSitesAndFillTheTable) {
    allocateModelStorageOnce();
    useAlignment(smallAlignment);
    pseudoSitePIFlag = 0;
    std::vector<std::string> table = lines(captureResult(cal_PI));
    // The computed sites 1, 2 and 4 hold 11 letters: A 3, C 1, W 3, M 4.
    EXPECT_DOUBLE_EQ(PI[1], 3.0 / 11);
    EXPECT_DOUBLE_EQ(PI[5], 1.0 / 11);
    EXPECT_DOUBLE_EQ(PI[18], 3.0 / 11);
    EXPECT_DOUBLE_EQ(PI[13], 4.0 / 11);
    ASSERT_EQ(table.size(), 7u);
    EXPECT_EQ(table[0], "PI vector for each site (*10^(-5))");
    EXPECT_EQ(table[1], "site       A      R      N      D      C      Q      E      G      H      I      L"
                        "      K      M      F      P      S      T      W      Y      V ");
    EXPECT_EQ(table[2], tableRow("All:  ", {{1, 27273}, {5, 9091}, {13, 36364}, {18, 27273}}));
    EXPECT_EQ(table[3], tableRow("    1 ", {{1, 75000}, {5, 25000}}));
    EXPECT_EQ(table[4], tableRow("    2 ", {{18, 100000}}));
    EXPECT_EQ(table[5], tableRow("    3 ", {})); // not computed: all 0
    EXPECT_EQ(table[6], tableRow("    4 ", {{13, 100000}}));
}

TEST(Model, FrequencyTableRoundsToWholeUnits) {
    allocateModelStorageOnce();
    useAlignment({"A", "A", "C"});
    pseudoSitePIFlag = 0;
    std::vector<std::string> table = lines(captureResult(cal_PI));
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(table[2], tableRow("All:  ", {{1, 66667}, {5, 33333}}));
    EXPECT_EQ(table[3], tableRow("    1 ", {{1, 66667}, {5, 33333}}));
}

TEST(Model, ReaderAlignmentGivesProperFrequenciesAndSiteModels) {
    // six.aln has sites with four and five gaps among six leaves: left out of the counts
    // without the profile, still given a profile row with it.
    allocateModelStorageOnce();
    init_S();
    for (char profile : {0, 1}) {
        loadAlignment(FIXTURES_DIR "/six.aln");
        pseudoSitePIFlag = profile;
        cal_PI();
        pseudoSitePIFlag = 0;
        std::string text = resultText();
        EXPECT_NE(text.find(profile ? "\nPsudocount vector for each site (*10^(-5))\nsite  "
                                    : "\nPI vector for each site (*10^(-5))\nsite  "),
                  std::string::npos);
        double total = 0.0;
        for (int k = 1; k <= 20; k++) total += PI[k];
        EXPECT_NEAR(total, 1.0, 1e-14);
        int leftOut = 0;
        for (int s = 1; s <= seqLength; s++) {
            double sum = 0.0;
            for (int k = 1; k <= 20; k++) sum += sitePI[s][k];
            bool computed = dashFlag[s] == 0 || calFlag[s] == 1;
            leftOut += !computed;
            EXPECT_NEAR(sum, computed || profile ? 1.0 : 0.0, 1e-14) << "site " << s;
        }
        EXPECT_GT(leftOut, 0);
        std::fclose(resultFile);
        resultFile = stdout;
    }
    // The profile row of a site is a model of its own, as a worker uses it.
    for (double* f : {PI, sitePI[16], sitePI[22]}) {
        cal_Q(f);
        cal_Eign();
        for (int i = 1; i <= 20; i++) {
            double row = 0.0;
            for (int j = 1; j <= 20; j++) row += pij(i, j, 0.4, 1.0);
            EXPECT_NEAR(row, 1.0, 1e-12);
        }
    }
}
