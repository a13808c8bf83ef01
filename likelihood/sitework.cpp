#include "sitework.h"

#include "alignment.h"
#include "model.h"
#include "numerics/matrixalgebra.h"
#include "rates.h"
#include "settings.h"
#include "simulation.h"
#include "sitelikelihood.h"
#include "siterules.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The master's final-phase storage: by site, the record's replicate values at their own
// indices, and the four summaries.
double** siteValue = nullptr;
double* observedEntropy = nullptr;
double* averageEntropy = nullptr;
double* logLikelihood = nullptr;
double* averageLogLikelihood = nullptr;

bool ownModelSite(int site) {
    return pseudoSitePIFlag && calFlag[site];
}

// The rate matrix of the site's own frequencies; PI, which weights the root, stays the
// alignment's.
void useSiteRateMatrix(int site) {
    cal_Q(sitePI[site]);
    cal_Eign();
}

void useAlignmentModel() {
    cal_Q(PI);
    cal_Eign();
}

void reportNoRoot(int site) {
    printf("site: %3d can not find a valid section to include the root\n", site);
    fflush(stdout);
}

// The root of f for a usable column, which varies, or false. A root at rate 0 is none: it
// would give the column likelihood 0, and without root probabilities the expected-entropy
// difference at rate 0 is 0 up to rounding for every column.
bool variableColumnRate(double (*f)(int, double, int), double x1, double x2, double f1, double f2,
                        double xacc, int site, int N, double* rate) {
    return bisectRoot(f, x1, x2, f1, f2, xacc, site, N, rate) && *rate > 0.0;
}

// The rate at which simulated columns have the observed entropy on average, or false.
bool simulatedEntropyRate(int site, double* rate) {
    if (!prepareSimulationTree(site)) return false;
    double f = func_simulation_alpha(site, 50.0, 300);
    if (!(f >= 0)) return false;
    double upper = f > 0 && f < 0.05 ? 80.0 : 50.0;
    // Each evaluation draws new columns: the ends are evaluated once and kept, so that the
    // bracket checked is the bracket bisected.
    double fLower = func_simulation_alpha(site, 0.0, 300);
    double fUpper = upper == 50.0 ? f : func_simulation_alpha(site, upper, 300);
    return variableColumnRate(func_simulation_alpha, 0.0, upper, fLower, fUpper, 0.01, site, 300, rate);
}

// The rate at which the expected leaf distribution has the observed entropy, or false.
bool expectedEntropyRate(int site, double* rate) {
    if (!prepareSimulationTree(site)) return false;
    double f0 = func_simulation_vector(site, 0.0, 1);
    if (f0 > 0) return false;
    double f10 = func_simulation_vector(site, 10.0, 1);
    if (f10 < 0) return false;
    return variableColumnRate(func_simulation_vector, 0.0, 10.0, f0, f10, 0.001, site, 1, rate);
}

void writeValueBlock(FILE* out, const char* title, int firstValue) {
    fputs(title, out);
    for (int k = firstValue; k < firstValue + REPLICATES; k++) {
        for (int s = 1; s <= seqLength; s++) fprintf(out, "%12.4f ", siteValue[s][k]);
        fputc('\n', out);
    }
}

// A result stream whose writes failed (a full disk) ends the job: a shorter file than the
// tables say would pass for a complete one.
[[noreturn]] void resultFileFailed() {
    fprintf(stderr, "can not write the result file: %s\n", strerror(errno));
    fatalExit(1);
}

void checkedFlush(FILE* out) {
    if (fflush(out) != 0 || ferror(out)) resultFileFailed();
}

// What value k of a site record is, as the tables show it.
std::string recordValueName(int k) {
    if (k == SITE_VALUE) return "logL";
    if (k == SITE_ENTROPY) return "entropy";
    if (k <= replicateValue(REPLICATES)) return "shuffle value of simulated column " + std::to_string(k);
    return "entropy of simulated column " + std::to_string(k - replicateEntropy(0));
}

} // namespace

int firstSiteCount(int size) {
    return min(seqLength, size) - 1;
}

int nextSite(int& next) {
    return next > seqLength ? 0 : next++;
}

double mlAlphaSite(int site) {
    bool own = ownModelSite(site);
    if (own) useSiteRateMatrix(site);
    double x = optimizeAlpha(site);
    if (own) useAlignmentModel();
    return x;
}

double simulatedEntropyAlphaSite(int site) {
    bool own = ownModelSite(site);
    if (own) useSiteRateMatrix(site);
    double result = alfa[site];
    if (usableSite(site) && !simulatedEntropyRate(site, &result)) {
        result = alfa[site];
        reportNoRoot(site);
    }
    if (own) useAlignmentModel();
    return result;
}

double expectedEntropyAlphaSite(int site) {
    if (invariantLetters(site)) return 0.0;
    double result = alfa[site];
    if (usableSite(site) && !expectedEntropyRate(site, &result)) {
        result = alfa[site];
        reportNoRoot(site);
    }
    return result;
}

bool bisectRoot(double (*f)(int, double, int), double x1, double x2, double f1, double f2, double xacc,
                int i1, int i2, double* root) {
    if (f1 == 0) {
        *root = x1;
        return true;
    }
    if (f2 == 0) {
        *root = x2;
        return true;
    }
    if (!((f1 < 0 && f2 > 0) || (f1 > 0 && f2 < 0))) return false;
    double rtb = f1 < 0 ? x1 : x2;
    double dx = f1 < 0 ? x2 - x1 : x1 - x2;
    for (int k = 0; k < 40; k++) {
        dx *= 0.5;
        double xmid = rtb + dx;
        double fmid = f(i1, xmid, i2);
        if (fmid <= 0) rtb = xmid;
        if (std::fabs(dx) < xacc || fmid == 0) break;
    }
    *root = rtb;
    return true;
}

long siteSeed(int r, int site) {
    uint32_t wrapped = static_cast<uint32_t>(r) * static_cast<uint32_t>(site);
    // The product as a 32-bit signed number, two's complement.
    int32_t product =
        wrapped <= INT32_MAX ? static_cast<int32_t>(wrapped) : -static_cast<int32_t>(~wrapped) - 1;
    int32_t remainder = product % 30000;
    return remainder == 0 ? -1 : -static_cast<long>(std::abs(remainder));
}

void simulatedSiteRecord(int site, long seed, double* record) {
    idum = seed;
    // Nothing reads the last simulated column; the observed one is put back all the same,
    // so that the leaves always hold the alignment outside a site's work.
    SavedColumn observed(site);
    prepareSimulationTree(site);
    record[SITE_VALUE] = shuffleStatistic(site);
    for (int k = 1; k <= REPLICATES; k++) {
        drawRootState(site, &idum);
        record[replicateValue(k)] = shuffleStatistic(site);
        record[replicateEntropy(k)] = leafEntropy(site);
    }
}

void finalSiteWork(int site, double* record) {
    for (int k = 0; k < SITE_RECORD_SIZE; k++) record[k] = 0.0;
    if (!computedSite(site)) return;
    bool own = ownModelSite(site);
    if (own) useSiteRateMatrix(site);
    record[SITE_VALUE] = calTree(site, treeRoot[site], alfa[site]);
    record[SITE_ENTROPY] = leafEntropy(site);
    if (usableSite(site)) {
        srand(seedClock());
        simulatedSiteRecord(site, siteSeed(rand(), site), record);
    } else {
        for (int k = 1; k <= REPLICATES; k++) {
            record[replicateValue(k)] = record[SITE_VALUE];
            record[replicateEntropy(k)] = record[SITE_ENTROPY];
        }
    }
    if (own) useAlignmentModel();
    checkSiteRecord(site, record);
}

void checkSiteRecord(int site, const double* record) {
    // The value's name is made only for the message.
    for (int k = 0; k < SITE_RECORD_SIZE; k++)
        if (!std::isfinite(record[k])) checkSiteValue(site, record[k], recordValueName(k).c_str());
}

void checkSiteValue(int site, double value, const char* what) {
    if (std::isfinite(value)) return;
    fprintf(stderr, "site %d: the %s is %g, not a finite number, which no table may hold\n", site, what,
            value);
    fatalExit(1);
}

int clipUpperTail(double* value, const char* include, int n, double zLimit, int passLimit) {
    int c = 0;
    for (int s = 1; s <= n; s++) c += include[s] ? 1 : 0;
    int passes = 0;
    bool clipped = true;
    while (clipped && passes < passLimit) {
        clipped = false;
        passes++;
        double mean = 0.0;
        for (int s = 1; s <= n; s++)
            if (include[s]) mean += value[s] / c;
        double squares = 0.0;
        for (int s = 1; s <= n; s++)
            if (include[s]) squares += (value[s] - mean) * (value[s] - mean);
        double sd = std::sqrt(squares / (c - 1));
        if (!(sd > 0.0)) break; // no spread: every z would be undefined
        for (int s = 1; s <= n; s++) {
            if (!include[s]) continue;
            double z = (value[s] - mean) / sd;
            if (z > zLimit) {
                value[s] = zLimit * sd + mean;
                clipped = true;
            }
        }
    }
    return passes;
}

// An estimate this close to the site's rate is no estimate of a change: the site stays out of
// the clipping and keeps its rate.
constexpr double ESTIMATE_UNCHANGED = 1e-8;

void adoptClippedAlpha(double* v, AlphaEstimate kind, FILE* out) {
    bool ratio = kind == AlphaEstimate::MaximumLikelihood;
    std::vector<char> include(seqLength + 1, 0);
    std::vector<double> change(seqLength + 1, ratio ? 1.0 : 0.0);
    for (int s = 1; s <= seqLength; s++) {
        include[s] = !(std::fabs(v[s] - alfa[s]) < ESTIMATE_UNCHANGED || alfa[s] < 1e-10);
        if (include[s]) change[s] = ratio ? v[s] / alfa[s] : v[s] - alfa[s];
    }
    clipUpperTail(change.data(), include.data(), seqLength, zScoreTolerant, CLIP_PASS_LIMIT);
    fputs("result from optimizing alpha\n", out);
    for (int s = 1; s <= seqLength; s++) {
        double adopted = ratio ? change[s] * alfa[s] : change[s] + alfa[s];
        // A difference clipped among sites of higher rates can reach below the site's own rate:
        // a rate at or below 0 is none, and the site keeps its rate.
        if (!(adopted > 0.0)) adopted = alfa[s];
        fprintf(out,
                ratio ? "site: %3d original alpha: %10.6f ML alpha: %10.6f final alpha: %10.6f\n"
                      : "site: %3d original alpha: %10.6f Entropy alpha: %10.6f final alpha: %10.6f\n",
                s, alfa[s], v[s], adopted);
        if (include[s]) v[s] = adopted;
    }
}

void writeAlphaTable(const char* title, const double* v, FILE* out) {
    fputs(title, out);
    for (int s = 1; s <= seqLength; s++) printAlphaResult(out, s, v[s]);
    checkedFlush(out);
}

void printAlphaResult(FILE* out, int site, double v) {
    fprintf(out, "site: %3d original alpha: %10.6f optimized alpha: %10.6f\n", site, alfa[site], v);
}

void initFinalTables() {
    siteValue = dmatrix(1, seqLength, replicateValue(1), replicateEntropy(REPLICATES));
    observedEntropy = dvector(1, seqLength);
    averageEntropy = dvector(1, seqLength);
    logLikelihood = dvector(1, seqLength);
    averageLogLikelihood = dvector(1, seqLength);
    for (int s = 1; s <= seqLength; s++) {
        for (int k = replicateValue(1); k <= replicateEntropy(REPLICATES); k++) siteValue[s][k] = 0.0;
        observedEntropy[s] = averageEntropy[s] = logLikelihood[s] = averageLogLikelihood[s] = 0.0;
    }
}

void storeSiteRecord(int site, const double* record) {
    observedEntropy[site] = record[SITE_ENTROPY];
    logLikelihood[site] = record[SITE_VALUE];
    double logL = 0.0;
    double entropy = 0.0;
    for (int k = replicateValue(1); k <= replicateEntropy(REPLICATES); k++) siteValue[site][k] = record[k];
    for (int k = 1; k <= REPLICATES; k++) logL += record[replicateValue(k)] / REPLICATES;
    for (int k = 1; k <= REPLICATES; k++) entropy += record[replicateEntropy(k)] / REPLICATES;
    averageLogLikelihood[site] = logL;
    averageEntropy[site] = entropy;
}

void printSiteSummary(FILE* out, int site) {
    fprintf(out, "%3d %12.4f %12.4f %12.4f %12.4f\n", site, observedEntropy[site], averageEntropy[site],
            logLikelihood[site], averageLogLikelihood[site]);
}

void writeRecordColumn(FILE* out, const double* record) {
    for (int k = 1; k <= REPLICATES; k++) fprintf(out, "%12.6f\n", record[replicateValue(k)]);
}

void writeFinalTables(FILE* out) {
    fputs("site   entropy     avgEntropy  logL  avgLogL\n", out);
    for (int s = 1; s <= seqLength; s++) printSiteSummary(out, s);
    writeValueBlock(out, "Log likelihood for each site after shuffle\n", replicateValue(1));
    fputs("check\n", out);
    for (int s = 1; s <= seqLength; s++) {
        double logL = calTree(s, treeRoot[s], alfa[s]);
        checkSiteValue(s, logL, "log-likelihood of the table check");
        fprintf(out, "%3d %12.4f\n", s, logL);
    }
    writeValueBlock(out, "Entropy for each site\n", replicateEntropy(1));
}

void flushResultFile() {
    checkedFlush(resultFile);
}

void closeResultFile() {
    flushResultFile();
    // Standard output stays open; a job's result is closed as it takes its name (finishResultFile).
    if (resultFile == stdout || !partialResultPath.empty()) return;
    // Nothing may reach the closed stream, not even the flush of a fatal end.
    FILE* closing = resultFile;
    resultFile = nullptr;
    if (fclose(closing) != 0) resultFileFailed();
}
