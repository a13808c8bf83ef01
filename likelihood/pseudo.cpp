#include "pseudo.h"

#include "numerics/matrixalgebra.h"

#include <cmath>

const char pseudoAlphabet[] = "-WFYMLIVACGPTSNQDEHRKBZX*.wfymlivacgptsnqdehrkbzx";

const double qmatrix[21][21] = {
    {0},
    {0,      0.0065, 0.0008, 0.0009, 0.0002, 0.0007, 0.0004, 0.0004, 0.0004, 0.0001, 0.0004,
     0.0001, 0.0003, 0.0003, 0.0002, 0.0002, 0.0002, 0.0003, 0.0002, 0.0003, 0.0003},
    {0,      0.0008, 0.0183, 0.0042, 0.0012, 0.0054, 0.0030, 0.0026, 0.0016, 0.0005, 0.0012,
     0.0005, 0.0012, 0.0012, 0.0008, 0.0005, 0.0008, 0.0009, 0.0008, 0.0009, 0.0009},
    {0,      0.0009, 0.0042, 0.0102, 0.0006, 0.0022, 0.0014, 0.0015, 0.0013, 0.0003, 0.0008,
     0.0005, 0.0009, 0.0010, 0.0007, 0.0007, 0.0006, 0.0009, 0.0015, 0.0009, 0.0010},
    {0,      0.0002, 0.0012, 0.0006, 0.0040, 0.0049, 0.0025, 0.0023, 0.0013, 0.0004, 0.0007,
     0.0004, 0.0010, 0.0009, 0.0005, 0.0007, 0.0005, 0.0007, 0.0004, 0.0008, 0.0009},
    {0,      0.0007, 0.0054, 0.0022, 0.0049, 0.0371, 0.0114, 0.0095, 0.0044, 0.0016, 0.0021,
     0.0014, 0.0033, 0.0024, 0.0014, 0.0016, 0.0015, 0.0020, 0.0010, 0.0024, 0.0025},
    {0,      0.0004, 0.0030, 0.0014, 0.0025, 0.0114, 0.0184, 0.0120, 0.0032, 0.0011, 0.0014,
     0.0010, 0.0027, 0.0017, 0.0010, 0.0009, 0.0012, 0.0012, 0.0006, 0.0012, 0.0016},
    {0,      0.0004, 0.0026, 0.0015, 0.0023, 0.0095, 0.0120, 0.0196, 0.0051, 0.0014, 0.0018,
     0.0012, 0.0036, 0.0024, 0.0012, 0.0012, 0.0013, 0.0017, 0.0006, 0.0016, 0.0019},
    {0,      0.0004, 0.0016, 0.0013, 0.0013, 0.0044, 0.0032, 0.0051, 0.0215, 0.0016, 0.0058,
     0.0022, 0.0037, 0.0063, 0.0019, 0.0019, 0.0022, 0.0030, 0.0011, 0.0023, 0.0033},
    {0,      0.0001, 0.0005, 0.0003, 0.0004, 0.0016, 0.0011, 0.0014, 0.0016, 0.0119, 0.0008,
     0.0004, 0.0009, 0.0010, 0.0004, 0.0003, 0.0004, 0.0004, 0.0002, 0.0004, 0.0005},
    {0,      0.0004, 0.0012, 0.0008, 0.0007, 0.0021, 0.0014, 0.0018, 0.0058, 0.0008, 0.0378,
     0.0014, 0.0022, 0.0038, 0.0029, 0.0014, 0.0025, 0.0019, 0.0010, 0.0017, 0.0025},
    {0,      0.0001, 0.0005, 0.0005, 0.0004, 0.0014, 0.0010, 0.0012, 0.0022, 0.0004, 0.0014,
     0.0191, 0.0014, 0.0017, 0.0009, 0.0008, 0.0012, 0.0014, 0.0005, 0.0010, 0.0016},
    {0,      0.0003, 0.0012, 0.0009, 0.0010, 0.0033, 0.0027, 0.0036, 0.0037, 0.0009, 0.0022,
     0.0014, 0.0125, 0.0047, 0.0022, 0.0014, 0.0019, 0.0020, 0.0007, 0.0018, 0.0023},
    {0,      0.0003, 0.0012, 0.0010, 0.0009, 0.0024, 0.0017, 0.0024, 0.0063, 0.0010, 0.0038,
     0.0017, 0.0047, 0.0126, 0.0031, 0.0019, 0.0028, 0.0030, 0.0011, 0.0023, 0.0031},
    {0,      0.0002, 0.0008, 0.0007, 0.0005, 0.0014, 0.0010, 0.0012, 0.0019, 0.0004, 0.0029,
     0.0009, 0.0022, 0.0031, 0.0141, 0.0015, 0.0037, 0.0022, 0.0014, 0.0020, 0.0024},
    {0,      0.0002, 0.0005, 0.0007, 0.0007, 0.0016, 0.0009, 0.0012, 0.0019, 0.0003, 0.0014,
     0.0008, 0.0014, 0.0019, 0.0015, 0.0073, 0.0016, 0.0035, 0.0010, 0.0025, 0.0031},
    {0,      0.0002, 0.0008, 0.0006, 0.0005, 0.0015, 0.0012, 0.0013, 0.0022, 0.0004, 0.0025,
     0.0012, 0.0019, 0.0028, 0.0037, 0.0016, 0.0213, 0.0049, 0.0010, 0.0016, 0.0024},
    {0,      0.0003, 0.0009, 0.0009, 0.0007, 0.0020, 0.0012, 0.0017, 0.0030, 0.0004, 0.0019,
     0.0014, 0.0020, 0.0030, 0.0022, 0.0035, 0.0049, 0.0161, 0.0014, 0.0027, 0.0041},
    {0,      0.0002, 0.0008, 0.0015, 0.0004, 0.0010, 0.0006, 0.0006, 0.0011, 0.0002, 0.0010,
     0.0005, 0.0007, 0.0011, 0.0014, 0.0010, 0.0010, 0.0014, 0.0093, 0.0012, 0.0012},
    {0,      0.0003, 0.0009, 0.0009, 0.0008, 0.0024, 0.0012, 0.0016, 0.0023, 0.0004, 0.0017,
     0.0010, 0.0018, 0.0023, 0.0020, 0.0025, 0.0016, 0.0027, 0.0012, 0.0178, 0.0062},
    {0,      0.0003, 0.0009, 0.0010, 0.0009, 0.0025, 0.0016, 0.0019, 0.0033, 0.0005, 0.0025,
     0.0016, 0.0023, 0.0031, 0.0024, 0.0031, 0.0024, 0.0041, 0.0012, 0.0062, 0.0161},
};

const double p_rbnsn[21] = {0,       0.01330, 0.03856, 0.03216, 0.02243, 0.09019, 0.05142,
                            0.06441, 0.07805, 0.01925, 0.07377, 0.05203, 0.05841, 0.07120,
                            0.04487, 0.04264, 0.05364, 0.06295, 0.02199, 0.05129, 0.05744};

const int blosum62[21][21] = {
    {0},
    {0, 11, 1, 2, -1, -2, -3, -3, -3, -2, -2, -4, -2, -3, -4, -2, -4, -3, -2, -3, -3},
    {0, 1, 6, 3, 0, 0, 0, -1, -2, -2, -3, -4, -2, -2, -3, -3, -3, -3, -1, -3, -3},
    {0, 2, 3, 7, -1, -1, -1, -1, -2, -2, -3, -3, -2, -2, -2, -1, -3, -2, 2, -2, -2},
    {0, -1, 0, -1, 5, 2, 1, 1, -1, -1, -3, -2, -1, -1, -2, 0, -3, -2, -2, -1, -1},
    {0, -2, 0, -1, 2, 4, 2, 1, -1, -1, -4, -3, -1, -2, -3, -2, -4, -3, -3, -2, -2},
    {0, -3, 0, -1, 1, 2, 4, 3, -1, -1, -4, -3, -1, -2, -3, -3, -3, -3, -3, -3, -3},
    {0, -3, -1, -1, 1, 1, 3, 4, 0, -1, -3, -2, 0, -2, -3, -2, -3, -2, -3, -3, -2},
    {0, -3, -2, -2, -1, -1, -1, 0, 4, 0, 0, -1, 0, 1, -2, -1, -2, -1, -2, -1, -1},
    {0, -2, -2, -2, -1, -1, -1, -1, 0, 9, -3, -3, -1, -1, -3, -3, -3, -4, -3, -3, -3},
    {0, -2, -3, -3, -3, -4, -4, -3, 0, -3, 6, -2, -2, 0, 0, -2, -1, -2, -2, -2, -2},
    {0, -4, -4, -3, -2, -3, -3, -2, -1, -3, -2, 7, -1, -1, -2, -1, -1, -1, -2, -2, -1},
    {0, -2, -2, -2, -1, -1, -1, 0, 0, -1, -2, -1, 5, 1, 0, -1, -1, -1, -2, -1, -1},
    {0, -3, -2, -2, -1, -2, -2, -2, 1, -1, 0, -1, 1, 4, 1, 0, 0, 0, -1, -1, 0},
    {0, -4, -3, -2, -2, -3, -3, -3, -2, -3, 0, -2, 0, 1, 6, 0, 1, 0, 1, 0, 0},
    {0, -2, -3, -1, 0, -2, -3, -2, -1, -3, -2, -1, -1, 0, 0, 5, 0, 2, 0, 1, 1},
    {0, -4, -3, -3, -3, -4, -3, -3, -2, -3, -1, -1, -1, 0, 1, 0, 6, 2, -1, -2, -1},
    {0, -3, -3, -2, -2, -3, -3, -2, -1, -4, -2, -1, -1, 0, 0, 2, 2, 5, 0, 0, 1},
    {0, -2, -1, 2, -2, -3, -3, -3, -2, -3, -2, -2, -2, -1, 1, 0, -1, 0, 8, 0, -1},
    {0, -3, -3, -2, -1, -2, -3, -3, -1, -3, -2, -2, -1, -1, 0, 1, -2, 0, 0, 5, 2},
    {0, -3, -3, -2, -1, -2, -3, -2, -1, -3, -2, -1, -1, 0, 0, 1, -1, 1, -1, 2, 5},
};

double scoreMatrix[21][21];

namespace {

// The profile's fixed configuration: a column is kept while its gap share stays below the
// limit (1.0 keeps every column with a residue), and the predicted frequencies weigh as
// many as ten observed sequences.
constexpr double gapContentLimit = 1.0;
constexpr double pseudocountWeight = 10.0;

// -ln 0.95, the divisor that makes one residue type per column one effective sequence.
constexpr double neffDivisor = 0.05129329438755;

constexpr double lambdaBlosum = 0.3176 / 2.0;

// Codes r and r + 25 are the same residue (or, for 0 and 25, both gap symbols).
bool inGroup(int code, int r) {
    return code == r || code == r + 25;
}

// member[1..N] = 1 for the sequences of code group r at column j; returns their number.
int markGroup(int** alignment, int N, int j, int r, int* member) {
    int count = 0;
    for (int i = 1; i <= N; i++) {
        member[i] = inGroup(alignment[i][j], r) ? 1 : 0;
        count += member[i];
    }
    return count;
}

// neff[0..20] of column j: the effective number of each code group, 0 for an empty one.
// Returns the number of residue types present.
int columnNeffs(int** alignment, int N, int M, int j, int* member, double* neff) {
    int types = 0;
    for (int r = 0; r <= 20; r++) {
        neff[r] = 0.0;
        if (markGroup(alignment, N, j, r, member) == 0) continue;
        neff[r] = effective_number_nogaps(alignment, member, N, 1, M);
        if (r >= 1) types++;
    }
    return types;
}

} // namespace

double effective_number_nogaps(int** alignment, int* member, int N, int c1, int c2) {
    long typeSum = 0;
    int countingColumns = 0;
    int members = 0;
    for (int i = 1; i <= N; i++) members += member[i] == 1;
    for (int c = c1; c <= c2; c++) {
        bool seen[21] = {};
        for (int i = 1; i <= N; i++) {
            int code = alignment[i][c];
            if (member[i] == 1 && code >= 1 && code <= 20) seen[code] = true;
        }
        int types = 0;
        for (int r = 1; r <= 20; r++) types += seen[r];
        if (types > 0) {
            typeSum += types;
            countingColumns++;
        }
    }
    double x = countingColumns > 0 ? static_cast<double>(typeSum) / countingColumns : 0.0;
    // All 20 residues in every column: the formula diverges. Such a set shows no redundancy,
    // so every member counts as one sequence.
    if (1.0 - 0.05 * x <= 0.0) return members;
    return -std::log(1.0 - 0.05 * x) / neffDivisor;
}

void neffsForEachCol_maskGapReg(int** alignment, int N, int M, double gapLimit, double** neff, int* column,
                                int* K, double* n_eff) {
    int* member = ivector(1, N);
    long typeTotal = 0;
    *K = 0;
    for (int j = 1; j <= M; j++) {
        double row[21];
        int types = columnNeffs(alignment, N, M, j, member, row);
        double S = 0.0;
        for (int r = 1; r <= 20; r++) S += row[r];
        if (!(S > 0.0 && gapLimit > row[0] / (S + row[0]))) continue;
        ++*K;
        for (int r = 0; r <= 20; r++) neff[*K][r] = row[r];
        column[*K] = j;
        typeTotal += types;
    }
    // Without a kept column nothing uses n_eff; 0 keeps it defined.
    *n_eff = *K > 0 ? static_cast<double>(typeTotal) / *K : 0.0;
    free_ivector(member, 1, N);
}

void pseudoCounts(double** neff, double n_eff, int K, double** out) {
    double a = n_eff - 1.0;
    double b = pseudocountWeight;
    for (int row = 1; row <= K; row++) {
        double sum = 0.0;
        for (int r = 1; r <= 20; r++) sum += neff[row][r];
        double f[21];
        for (int r = 1; r <= 20; r++) f[r] = neff[row][r] / sum;
        for (int r = 1; r <= 20; r++) {
            double g = 0.0;
            for (int s = 1; s <= 20; s++) g += qmatrix[r][s] * f[s] / p_rbnsn[s];
            out[row][r] = (a * f[r] + b * g) / (a + b);
        }
    }
}

void prfprfmatrix(int** alignment, int M, int N, double** profile) {
    for (int r = 0; r <= 20; r++)
        for (int s = 0; s <= 20; s++) scoreMatrix[r][s] = blosum62[r][s] * std::log(2.0);

    double** neff = dmatrix(1, M, 0, 20);
    double** mixed = dmatrix(1, M, 1, 20);
    int* column = ivector(1, M);
    int K = 0;
    double n_eff = 0.0;
    neffsForEachCol_maskGapReg(alignment, N, M, gapContentLimit, neff, column, &K, &n_eff);
    pseudoCounts(neff, n_eff, K, mixed);

    for (int j = 1; j <= M; j++)
        for (int r = 0; r <= 20; r++) profile[j][r] = 0.0;
    for (int row = 1; row <= K; row++)
        for (int r = 1; r <= 20; r++) profile[column[row]][r] = mixed[row][r];

    free_ivector(column, 1, M);
    free_dmatrix(mixed, 1, M, 1, 20);
    free_dmatrix(neff, 1, M, 0, 20);
}

void neffsForEachCol(int** alignment, int N, int M, double** neff, double* sum) {
    int* member = ivector(1, N);
    for (int j = 1; j <= M; j++) {
        columnNeffs(alignment, N, M, j, member, neff[j]);
        sum[j] = 0.0;
        for (int r = 1; r <= 20; r++) sum[j] += neff[j][r];
    }
    free_ivector(member, 1, N);
}

double funcAl(double x, int c, int d, double* v) {
    double sum = 0.0;
    for (int i = 1; i <= c * d; i++) sum += std::exp(x * v[i]);
    return sum / (c * d) - 1.0;
}

double funcAaFreq(double x, double* f1, double* f2) {
    double sum = 0.0;
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) sum += f1[i] * f2[j] * std::exp(x * scoreMatrix[i][j] / lambdaBlosum);
    return sum - 1.0;
}
