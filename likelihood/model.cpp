#include "model.h"

#include "alignment.h"
#include "numerics/matrixalgebra.h"
#include "pseudo.h"
#include "settings.h"
#include "siterules.h"

#include <cmath>
#include <cstdio>
#include <cstring>

double** S_ij = nullptr;
double** Q_ij = nullptr;
double* PI = nullptr;
double** a = nullptr;
double** v = nullptr;
double** inv = nullptr;
double* wr = nullptr;
double* wi = nullptr;
double* w = nullptr;
double** svdv = nullptr;
double* colu = nullptr;
double** sitePI = nullptr;
double modelPI[21] = {};
unsigned long modelVersion = 0;

void allocateModelStorage() {
    S_ij = dmatrix(1, 20, 1, 20);
    Q_ij = dmatrix(1, 20, 1, 20);
    PI = dvector(1, 20);
    a = dmatrix(1, 20, 1, 20);
    v = dmatrix(1, 20, 1, 20);
    inv = dmatrix(1, 20, 1, 20);
    wr = dvector(1, 20);
    wi = dvector(1, 20);
    w = dvector(1, 20);
    svdv = dmatrix(1, 20, 1, 20);
    colu = dvector(1, 20);
}

namespace {

// WAG exchangeabilities rounded to six decimals, lower triangle in residue-code order:
// row k holds residue k+1 against residues 1..k.
const double wagLower[19][19] = {
    {0.551571},
    {0.509848, 0.635346},
    {0.738998, 0.147304, 5.429420},
    {1.027040, 0.528191, 0.265256, 0.030295},
    {0.908598, 3.035500, 1.543640, 0.616783, 0.098818},
    {1.582850, 0.439157, 0.947198, 6.174160, 0.021352, 5.469470},
    {1.416720, 0.584665, 1.125560, 0.865584, 0.306674, 0.330052, 0.567717},
    {0.316954, 2.137150, 3.956290, 0.930676, 0.248972, 4.294110, 0.570025, 0.249410},
    {0.193335, 0.186979, 0.554236, 0.039437, 0.170135, 0.113917, 0.127395, 0.030450, 0.138190},
    {0.397915, 0.497671, 0.131528, 0.084805, 0.384287, 0.869489, 0.154263, 0.061304, 0.499462, 3.170970},
    {0.906265, 5.351420, 3.012010, 0.479855, 0.074034, 3.894900, 2.584430, 0.373558, 0.890432, 0.323832,
     0.257555},
    {0.893496, 0.683162, 0.198221, 0.103754, 0.390482, 1.545260, 0.315124, 0.174100, 0.404141, 4.257460,
     4.854020, 0.934276},
    {0.210494, 0.102711, 0.096162, 0.046730, 0.398020, 0.099921, 0.081134, 0.049931, 0.679371, 1.059470,
     2.115170, 0.088836, 1.190630},
    {1.438550, 0.679489, 0.195081, 0.423984, 0.109404, 0.933372, 0.682355, 0.243570, 0.696198, 0.099929,
     0.415844, 0.556896, 0.171329, 0.161444},
    {3.370790, 1.224190, 3.974230, 1.071760, 1.407660, 1.028870, 0.704939, 1.341820, 0.740169, 0.319440,
     0.344739, 0.967130, 0.493905, 0.545931, 1.613280},
    {2.121110, 0.554413, 2.030060, 0.374866, 0.512984, 0.857928, 0.822765, 0.225833, 0.473307, 1.458160,
     0.326622, 1.386980, 1.516120, 0.171903, 0.795384, 4.378020},
    {0.113133, 1.163920, 0.071917, 0.129767, 0.717070, 0.215737, 0.156557, 0.336983, 0.262569, 0.212483,
     0.665309, 0.137505, 0.515706, 1.529640, 0.139405, 0.523742, 0.110864},
    {0.240735, 0.381533, 1.086000, 0.325711, 0.543833, 0.227710, 0.196303, 0.103604, 3.873440, 0.420170,
     0.398618, 0.133264, 0.428437, 6.454280, 0.216046, 0.786993, 0.291148, 2.485390},
    {2.006010, 0.251849, 0.196246, 0.152335, 1.002140, 0.301281, 0.588731, 0.187247, 0.118358, 7.821300,
     1.800340, 0.305434, 2.058450, 0.649892, 0.314887, 0.232739, 1.388230, 0.365369, 0.314730},
};

// PI from the residue codes of every leaf at every computed site.
void countAlignmentFrequencies() {
    double count[21] = {};
    double total = 0.0;
    for (int i = 1; i <= seqNum; i++) {
        for (int s = 1; s <= seqLength; s++) {
            if (!computedSite(s)) continue;
            int code = node[i].code[s];
            if (code < 0 || code > 20) {
                std::printf("%d %d %d\n", i, s, code);
                continue;
            }
            if (code == 0) continue;
            count[code] += 1.0;
            total += 1.0;
        }
    }
    for (int k = 1; k <= 20; k++) PI[k] = count[k] / total;
}

// sitePI[s] = the residue frequencies of column s, 0 for a site that is not computed.
void countSiteFrequencies() {
    for (int s = 1; s <= seqLength; s++) {
        double count[21] = {};
        double letters = 0.0;
        if (computedSite(s)) {
            for (int i = 1; i <= seqNum; i++) {
                int code = node[i].code[s];
                if (code < 1 || code > 20) continue;
                count[code] += 1.0;
                letters += 1.0;
            }
        }
        for (int k = 1; k <= 20; k++) sitePI[s][k] = letters > 0.0 ? count[k] / letters : 0.0;
    }
}

// The leaf letters as codes of the pseudocount alphabet, leaves 1..seqNum x sites 1..seqLength.
int** pseudoAlignment() {
    int** ali = imatrix(1, seqNum, 1, seqLength);
    for (int i = 1; i <= seqNum; i++) {
        for (int s = 1; s <= seqLength; s++) {
            char letter = node[i].seq[s];
            const char* found = letter != '\0' ? std::strchr(pseudoAlphabet, letter) : nullptr;
            if (!found) std::printf("Something wrong in getting aliMatrix\n");
            ali[i][s] = found ? static_cast<int>(found - pseudoAlphabet) : 0;
        }
    }
    return ali;
}

// sitePI from the pseudocount profile, moved to residue-code order, each row with a positive
// sum scaled to sum 1.
void pseudocountSiteFrequencies() {
    int** ali = pseudoAlignment();
    double** profile = dmatrix(1, seqLength, 0, 20);
    prfprfmatrix(ali, seqLength, seqNum, profile);
    for (int s = 1; s <= seqLength; s++) {
        for (int r = 1; r <= 20; r++) {
            int code = static_cast<int>(std::strchr(aa, pseudoAlphabet[r]) - aa);
            sitePI[s][code] = profile[s][r];
        }
        // The row's own sum, in residue-code order: another order rounds differently.
        double sum = 0.0;
        for (int k = 1; k <= 20; k++) sum += sitePI[s][k];
        if (sum > 0.0)
            for (int k = 1; k <= 20; k++) sitePI[s][k] /= sum;
    }
    free_dmatrix(profile, 1, seqLength, 0, 20);
    free_imatrix(ali, 1, seqNum, 1, seqLength);
}

void writeFrequencyTable() {
    std::fprintf(resultFile, pseudoSitePIFlag ? "Psudocount vector for each site (*10^(-5))\n"
                                              : "PI vector for each site (*10^(-5))\n");
    std::fprintf(resultFile, "site  ");
    for (int k = 1; k <= 20; k++) std::fprintf(resultFile, "     %c ", aa[k]);
    std::fprintf(resultFile, "\n");
    std::fprintf(resultFile, "All:  ");
    for (int k = 1; k <= 20; k++) std::fprintf(resultFile, "%6.0f ", PI[k] * 100000);
    std::fprintf(resultFile, "\n");
    for (int s = 1; s <= seqLength; s++) {
        std::fprintf(resultFile, "%5d ", s);
        for (int k = 1; k <= 20; k++) std::fprintf(resultFile, "%6.0f ", sitePI[s][k] * 100000);
        std::fprintf(resultFile, "\n");
    }
}

void copyMatrix(double** from, double** to) {
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) to[i][j] = from[i][j];
}

// Column j of v: the null vector of Q_ij - wr[j]·I, scaled to sum 1.
void eigenvector(int j) {
    copyMatrix(Q_ij, a);
    for (int i = 1; i <= 20; i++) a[i][i] -= wr[j];
    svdcmp(a, 20, 20, w, svdv);
    double wmax = 0.0;
    for (int k = 1; k <= 20; k++)
        if (w[k] > wmax) wmax = w[k];
    int k = nullColumn(w, 20, wmax * 1e-6);
    for (int i = 1; i <= 20; i++) v[i][j] = svdv[i][k];
    double sum = 0.0;
    for (int i = 1; i <= 20; i++) sum += v[i][j];
    for (int i = 1; i <= 20; i++) v[i][j] /= sum;
}

void invertEigenvectors() {
    copyMatrix(v, a);
    int* perm = ivector(1, 20);
    double sign = 0.0;
    ludcmp(a, 20, perm, &sign);
    for (int j = 1; j <= 20; j++) {
        for (int i = 1; i <= 20; i++) colu[i] = i == j ? 1.0 : 0.0;
        lubksb(a, 20, perm, colu);
        for (int i = 1; i <= 20; i++) inv[i][j] = colu[i];
    }
    free_ivector(perm, 1, 20);
}

void checkPijTarget(int i, int j) {
    if (j >= 1 && j <= 20) return;
    std::printf("Warning: can not calculate pij\n node1: %d and node2: %d\n", i, j);
    std::fflush(stdout);
    fatalExit(1);
}

void checkDpijTarget(int j) {
    if (j >= 1 && j <= 20) return;
    std::printf("Error in dpij function\n");
    std::fflush(stdout);
    fatalExit(1);
}

// The transition sum from the factors, with tiny negative rounding taken as 0.
double pijSum(int i, int j, const double* e) {
    double P = 0.0;
    for (int k = 1; k <= 20; k++) P += (v[i][k] * inv[k][j]) * e[k];
    if (-1e-12 < P && P < 0.0) return 0.0;
    return P;
}

// The derivative sums: by t the last factor is alfa, by alfa it is t.
double derivativeSum(int i, int j, const double* e, double last) {
    checkDpijTarget(j);
    double P = 0.0;
    for (int k = 1; k <= 20; k++) P += (v[i][k] * inv[k][j]) * e[k] * wr[k] * last;
    return P;
}

double derivativeAt(int i, int j, double t, double alfa, double last) {
    double e[21];
    pijFactors(t, alfa, e);
    return derivativeSum(i, j, e, last);
}

// The least frequency of a residue that a model takes as present.
constexpr double PRESENT_FREQUENCY = 1e-10;

// A residue absent from the alignment is never reached from another one.
bool absentTarget(int i, int j) {
    return PI[j] < PRESENT_FREQUENCY && i != j;
}

} // namespace

void init_S() {
    for (int i = 1; i <= 20; i++) {
        S_ij[i][i] = 0.0;
        for (int j = 1; j < i; j++) {
            S_ij[i][j] = wagLower[i - 2][j - 1];
            S_ij[j][i] = S_ij[i][j];
        }
    }
}

void cal_PI() {
    sitePI = dmatrix(1, seqLength, 1, 20);
    countAlignmentFrequencies();
    if (pseudoSitePIFlag)
        pseudocountSiteFrequencies();
    else
        countSiteFrequencies();
    writeFrequencyTable();
}

void cal_Q(double* f) {
    for (int k = 1; k <= 20; k++) modelPI[k] = f[k];
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) Q_ij[i][j] = S_ij[i][j] * f[j];
    for (int i = 1; i <= 20; i++) {
        double rowSum = 0.0;
        for (int j = 1; j <= 20; j++)
            if (j != i) rowSum += Q_ij[i][j];
        Q_ij[i][i] = -rowSum;
    }
    double scale = 0.0;
    for (int i = 1; i <= 20; i++) scale += f[i] * (-Q_ij[i][i]);
    for (int i = 1; i <= 20; i++)
        for (int j = 1; j <= 20; j++) Q_ij[i][j] /= scale;
}

void cal_Eign() {
    copyMatrix(Q_ij, a);
    balanc(a, 20);
    elmhes(a, 20);
    hqr(a, 20, wr, wi);
    for (int j = 1; j <= 20; j++) eigenvector(j);
    invertEigenvectors();
    modelVersion++;
}

int nullColumn(const double* values, int n, double threshold) {
    int chosen = 0;
    for (int k = 1; k <= n; k++)
        if (-threshold < values[k] && values[k] < threshold) chosen = k;
    if (chosen > 0) return chosen;
    chosen = 1;
    for (int k = 2; k <= n; k++)
        if (values[k] < values[chosen]) chosen = k;
    return chosen;
}

void pijFactors(double t, double alfa, double* e) {
    for (int k = 1; k <= 20; k++) e[k] = std::exp(t * alfa * wr[k]);
}

double pij(int i, int j, double t, double alfa) {
    checkPijTarget(i, j);
    if (absentTarget(i, j)) return 0.0;
    double e[21];
    pijFactors(t, alfa, e);
    return pijSum(i, j, e);
}

bool modelHolds(int j) {
    return modelPI[j] >= PRESENT_FREQUENCY && PI[j] >= PRESENT_FREQUENCY;
}

double pij_e(int i, int j, const double* e) {
    checkPijTarget(i, j);
    if (absentTarget(i, j)) return 0.0;
    return pijSum(i, j, e);
}

double dpij(int i, int j, double t, double alfa) {
    return derivativeAt(i, j, t, alfa, alfa);
}

double dpij_e(int i, int j, const double* e, double alfa) {
    return derivativeSum(i, j, e, alfa);
}

double dpij_alfa(int i, int j, double t, double alfa) {
    return derivativeAt(i, j, t, alfa, t);
}

double dpij_alfa_e(int i, int j, const double* e, double t) {
    return derivativeSum(i, j, e, t);
}

int D_A_P_Flag = 0;

void useSiteFrequencies(int s, double* saved) {
    for (int k = 1; k <= 20; k++) {
        saved[k] = PI[k];
        PI[k] = sitePI[s][k];
    }
    cal_Q(PI);
    cal_Eign();
}

// Rebuilding gives back the very model the frequencies made; cal_Eign also tells the stored
// transition matrices that they are stale.
void restoreModel(const double* saved) {
    for (int k = 1; k <= 20; k++) PI[k] = saved[k];
    cal_Q(PI);
    cal_Eign();
}
