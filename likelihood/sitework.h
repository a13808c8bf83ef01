// What the master and the workers of a job compute, without the messages that carry it: the
// hand-out order, a worker's work on one site in each phase, the master's clipping of the
// alpha estimates, and the master's tables of the result file.
#ifndef CORE_SITEWORK_H
#define CORE_SITEWORK_H

#include <cstdio>

// The site record a worker returns in the final phase: value SITE_VALUE is the observed
// column's statistic, values replicateValue(k) and replicateEntropy(k), k = 1..REPLICATES, the
// statistic and the leaf entropy of the k-th column simulated at the site, and the last value,
// SITE_ENTROPY, the observed column's leaf entropy.
constexpr int REPLICATES = 100;
constexpr int SITE_VALUE = 0;
constexpr int replicateValue(int k) {
    return k;
}
constexpr int replicateEntropy(int k) {
    return REPLICATES + k;
}
constexpr int SITE_ENTROPY = replicateEntropy(REPLICATES) + 1;
constexpr int SITE_RECORD_SIZE = SITE_ENTROPY + 1;

// Upper-tail clipping of the alpha estimates: the bound in standard deviations, the passes.
constexpr double zScoreTolerant = 2.0;
constexpr int CLIP_PASS_LIMIT = 21;

// The hand-out: ranks 1..firstSiteCount(size) start with the sites of their own number; every
// answer then gets the next site, or a stop (0) once all sites are out.
int firstSiteCount(int size);
int nextSite(int& next);

// A worker's result for one site in the ML-alpha, simulated-entropy and expected-entropy phases.
// The root finders print "can not find a valid section" lines on standard output.
double mlAlphaSite(int site);
double simulatedEntropyAlphaSite(int site);
double expectedEntropyAlphaSite(int site);

// Bisection on f(i1, x, i2) between x1 and x2 whose end values f1, f2 are already known. An
// exact 0 at an end gives that end; ends without a strict sign change give false. Otherwise at
// most 40 halvings keep the side at or below 0 and *root is the last such point.
bool bisectRoot(double (*f)(int, double, int), double x1, double x2, double f1, double f2, double xacc,
                int i1, int i2, double* root);

// The seed of a simulated site: -|(r * site) mod 30000|, the product wrapping in 32 bits, and
// -1 for a remainder of 0. Always negative, so that every site restarts ran1: a positive seed
// would carry on the table, and at a process's first draw start the one stream of seed 1.
long siteSeed(int r, int site);

// The record's values but SITE_ENTROPY for a usable site, the process-wide seed idum starting
// from seed: the shuffle statistic of the observed column, then of REPLICATES columns simulated
// at the site's rate, and their leaf entropies. The leaves hold the observed column again afterwards.
void simulatedSiteRecord(int site, long seed, double* record);

// A worker's site record (SITE_RECORD_SIZE values) in the final phase; a value that is not a
// finite number ends the job (checkSiteRecord).
void finalSiteWork(int site, double* record);

// No table holds a value that is not a finite number: such a value of the site ends the job
// with a message that names the site and the value (what the value is, for checkSiteValue).
void checkSiteRecord(int site, const double* record);
void checkSiteValue(int site, double value, const char* what);

// Clips the included values 1..n from above at zLimit standard deviations, pass after pass
// while a pass clipped something, at most passLimit passes. Returns the passes run. Fewer than
// two included values, or no spread, clip nothing.
int clipUpperTail(double* value, const char* include, int n, double zLimit, int passLimit);

// The master's adoption of the alpha estimates v[1..seqLength] after the ML-alpha phase
// (ratios to alfa) or the simulated-entropy phase (differences): clips them, writes the
// first table and leaves the adopted values in v.
enum class AlphaEstimate { MaximumLikelihood, SimulatedEntropy };
void adoptClippedAlpha(double* v, AlphaEstimate kind, FILE* out);
// The table of adopted values under its title; flushed.
void writeAlphaTable(const char* title, const double* v, FILE* out);
// The master's line for one received estimate.
void printAlphaResult(FILE* out, int site, double v);

// The master's storage of the final phase, by site.
void initFinalTables();
void storeSiteRecord(int site, const double* record);
// "%3d %12.4f %12.4f %12.4f %12.4f\n": site, entropy, average entropy, logL, average logL.
void printSiteSummary(FILE* out, int site);
// The replicates' statistics of a record, one "%12.6f\n" line each (site 1's, written as it arrives).
void writeRecordColumn(FILE* out, const double* record);
// The final tables in order: summary, shuffle block, check, simulated-entropy block.
void writeFinalTables(FILE* out);

// Flushes the result file; a write that failed (a full disk) is fatal with a message.
void flushResultFile();
// Flushes and closes the result file with the same check; standard output, and a job's result
// that is closed as it takes its name, are only flushed.
void closeResultFile();

#endif
