#include "pseudo.h"

#include "alignment.h"
#include "model.h"
#include "model_setup.h"
#include "numerics/matrixalgebra.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Positions of the residues in the unit's W..K order.
constexpr int W = 1, A = 8;

// rows[i-1] as sequence i in the unit's letter codes: sequences 1..N x columns 1..M.
int** codes(const std::vector<std::string>& rows) {
    int N = static_cast<int>(rows.size()), M = static_cast<int>(rows[0].size());
    int** ali = imatrix(1, N, 1, M);
    for (int i = 1; i <= N; i++)
        for (int j = 1; j <= M; j++)
            ali[i][j] = static_cast<int>(std::strchr(pseudoAlphabet, rows[i - 1][j - 1]) - pseudoAlphabet);
    return ali;
}

struct Profile {
    int M;
    double** rows;
    explicit Profile(const std::vector<std::string>& alignment) : M(static_cast<int>(alignment[0].size())) {
        int N = static_cast<int>(alignment.size());
        int** ali = codes(alignment);
        rows = dmatrix(1, M, 0, 20);
        prfprfmatrix(ali, M, N, rows);
        free_imatrix(ali, 1, N, 1, M);
    }
    ~Profile() { free_dmatrix(rows, 1, M, 0, 20); }
};

// The BLOSUM62 prediction g(r) = sum over s of q(r,s)·f(s)/p(s).
double predicted(int r, const double* f) {
    double g = 0.0;
    for (int s = 1; s <= 20; s++) g += qmatrix[r][s] * f[s] / p_rbnsn[s];
    return g;
}

} // namespace

TEST(Pseudo, TablesHoldThePublishedValuesInTheirOrder) {
    EXPECT_EQ(qmatrix[W][W], 0.0065);
    EXPECT_EQ(qmatrix[A][A], 0.0215);
    EXPECT_EQ(qmatrix[5][5], 0.0371); // L-L
    EXPECT_EQ(qmatrix[6][5], 0.0114); // I-L
    double total = 0.0;
    for (int r = 0; r <= 20; r++)
        for (int s = 0; s <= 20; s++) {
            EXPECT_EQ(qmatrix[r][s], qmatrix[s][r]);
            total += qmatrix[r][s];
        }
    EXPECT_NEAR(total, 1.0, 0.01); // joint frequencies, rounded to four decimals
    EXPECT_EQ(p_rbnsn[W], 0.0133);
    EXPECT_EQ(p_rbnsn[2], 0.03856); // F
    EXPECT_EQ(p_rbnsn[A], 0.07805);
    EXPECT_EQ(p_rbnsn[5], 0.09019);  // L
    EXPECT_EQ(p_rbnsn[20], 0.05744); // K
    EXPECT_EQ(blosum62[W][W], 11);
    EXPECT_EQ(blosum62[9][9], 9);  // C-C
    EXPECT_EQ(blosum62[3][18], 2); // Y-H
}

TEST(Pseudo, EffectiveNumberOfASetOfSequences) {
    // Three sequences over three columns, the first two the members.
    struct Case {
        std::vector<std::string> rows;
        std::vector<int> member;
        double expected;
    } cases[] = {
        {{"AW-", "AW-", "CCC"}, {1, 1, 0}, 1.0}, // one type per counting column: one sequence
        {{"AW-", "FW-", "CCC"}, {1, 1, 0}, -std::log(1.0 - 0.05 * 1.5) / 0.05129329438755},
        {{"---", "---", "CCC"}, {1, 1, 0}, 0.0}, // no counting column: x = 0
    };
    for (const Case& c : cases) {
        int** ali = codes(c.rows);
        std::vector<int> member(1, 0);
        member.insert(member.end(), c.member.begin(), c.member.end());
        EXPECT_NEAR(effective_number_nogaps(ali, member.data(), 3, 1, 3), c.expected, 1e-13);
        free_imatrix(ali, 1, 3, 1, 3);
    }
}

TEST(Pseudo, AllTwentyResiduesInEveryColumnCountEveryMember) {
    // x = 20 would make the logarithm infinite; such a set shows no redundancy at all.
    std::vector<std::string> rows;
    for (int i = 1; i <= 25; i++)
        rows.push_back(std::string(1, pseudoAlphabet[(i - 1) % 20 + 1]) + pseudoAlphabet[i % 20 + 1]);
    int** ali = codes(rows);
    std::vector<int> member(26, 1);
    EXPECT_EQ(effective_number_nogaps(ali, member.data(), 25, 1, 2), 25.0);
    free_imatrix(ali, 1, 25, 1, 2);
}

TEST(Pseudo, GapColumnGetsZerosAndOneTypeColumnsEqualThePrediction) {
    // Columns A A A, - - -, W W W: one residue type per kept column, so n_eff = 1, the
    // observed weight n_eff - 1 is 0 and each row is g with f the unit vector of its residue.
    Profile p({"A-W", "A-W", "A-W"});
    for (int r = 0; r <= 20; r++) EXPECT_EQ(p.rows[2][r], 0.0);
    for (int r = 1; r <= 20; r++) {
        EXPECT_NEAR(p.rows[1][r], qmatrix[r][A] / p_rbnsn[A], 1e-15);
        EXPECT_NEAR(p.rows[3][r], qmatrix[r][W] / p_rbnsn[W], 1e-15);
    }
}

TEST(Pseudo, TwoTypesMixObservedAndPredictedFrequencies) {
    // One column A, W: each residue is one effective sequence, n_eff = 2, weights 1 and 10.
    Profile p({"A", "W"});
    double f[21] = {};
    f[A] = f[W] = 0.5;
    for (int r = 1; r <= 20; r++) EXPECT_NEAR(p.rows[1][r], (f[r] + 10.0 * predicted(r, f)) / 11.0, 1e-15);
}

TEST(Pseudo, GapGroupShowingAllResiduesStaysFinite) {
    // Sequences 1..20 have a gap at column 1 and, among them, all 20 residues at column 2;
    // sequence 21 has A at both. The gap group's x is 20 at column 1.
    std::vector<std::string> rows;
    for (int i = 1; i <= 20; i++) rows.push_back(std::string("-") + pseudoAlphabet[i]);
    rows.push_back("AA");
    Profile p(rows);
    // Kept: column 1 (one type) and column 2 (20 types): n_eff = 10.5, observed weight 9.5.
    double unitA[21] = {}, uniform[21];
    unitA[A] = 1.0;
    for (int r = 1; r <= 20; r++) uniform[r] = 0.05;
    for (int r = 1; r <= 20; r++) {
        ASSERT_TRUE(std::isfinite(p.rows[1][r]));
        EXPECT_NEAR(p.rows[1][r], (9.5 * unitA[r] + 10.0 * predicted(r, unitA)) / 19.5, 1e-15);
        EXPECT_NEAR(p.rows[2][r], (9.5 * uniform[r] + 10.0 * predicted(r, uniform)) / 19.5, 1e-15);
    }
}

TEST(Pseudo, ProfileFrequenciesMoveToResidueCodesAndSumToOne) {
    allocateModelStorageOnce();
    // The rows of sites 1 and 4 sum differently in the profile's order and in residue-code order.
    std::vector<std::string> rows = {"AW-K", "AF-K", "CW-R", "AW-D"};
    useAlignment(rows);
    pseudoSitePIFlag = 1;
    FILE* table = std::tmpfile();
    FILE* saved = resultFile;
    resultFile = table;
    cal_PI();
    resultFile = saved;
    pseudoSitePIFlag = 0;
    char title[128] = {};
    std::rewind(table);
    ASSERT_NE(std::fgets(title, sizeof title, table), nullptr);
    std::fclose(table);
    EXPECT_STREQ(title, "Psudocount vector for each site (*10^(-5))\n");

    // PI keeps the plain counts of the computed sites 1, 2 and 4 (site 3 has only gaps).
    EXPECT_DOUBLE_EQ(PI[1], 3.0 / 12);
    EXPECT_DOUBLE_EQ(PI[18], 3.0 / 12);

    Profile p(rows);
    for (int s = 1; s <= 4; s++) {
        double sum = 0.0, row[21] = {}, rowSum = 0.0;
        for (int k = 1; k <= 20; k++) sum += sitePI[s][k];
        for (int r = 1; r <= 20; r++) row[std::strchr(aa, pseudoAlphabet[r]) - aa] = p.rows[s][r];
        for (int k = 1; k <= 20; k++) rowSum += row[k];
        if (s == 3) {
            EXPECT_EQ(sum, 0.0);
            continue;
        }
        EXPECT_NEAR(sum, 1.0, 1e-15);
        for (int k = 1; k <= 20; k++)
            EXPECT_EQ(sitePI[s][k], row[k] / rowSum) << "site " << s << " residue " << k;
    }
}
