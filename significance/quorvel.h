// quorvel: the significance of every site's observed value against its replicates.
//
// For every site the observed value Cn (origin file) is compared with the site's values over
// the replicates Cd (mutation file, one replicate per line). A straight-line fit maps the
// replicates onto the observed scale; the difference gives an upper-tail probability prob1
// (normal, or beta with -B) and empirical p-values. Sites that carry no information are
// dropped, the rest ranked most significant first. The report goes to standard output, the
// ranking to <origin>.rank and <origin>.pvalue.
#ifndef SIGNIFICANCE_QUORVEL_H
#define SIGNIFICANCE_QUORVEL_H

#include <string>

// Settings from the command line; a path is empty when its option is not given.
extern std::string originFile, mutationFile, alphaFile, probFile, funcFile;
extern int betaFlag;      // -B: beta tail instead of normal
extern int weightFlag;    // -L: weighted fit of avgCd on Cn
extern int ratioFlag;     // -r: drop sites whose avgCd/Cn ratio is low
extern double regression; // 1.0, or 0.0 under -R: the transform is the identity

// Per-site storage, index-range vectors over 1..seqLength; seqLength shrinks as the filter
// removes sites, and siteIndex keeps each remaining site's number in the origin file.
extern int seqLength;
extern int replicates; // replicates in the mutation file, the columns of Cd and Cexp
extern double *Cn, *ndProb, *alpha, *avgCd, *sigmaCd, *avgCexp, *sigmaCexp;
extern double *pvalue_origin, *pvalue_fit, *prob1;
extern int *funcFlag, *siteIndex;
extern double **Cd, **Cexp;

// Prints the usage text and exits with status 1.
[[noreturn]] void usage();
void readOptions(int argc, char** argv);
// Ends the run when an output would land on an input: the same path, or the same file by
// another name (a link); checked before anything is read or written.
void checkOutputPaths();

void readOrigin();
void readProb();
void readFunc();
void readAlpha();
void printInput();
void readMutation();
// Mean and sample standard deviation of rows 1..seqLength of values over the replicates; what
// names the values in the message that ends the run when they overflow.
void rowMoments(double** values, double* avg, double* sigma, const char* what);
void ratioCut();
// Drops the sites that carry no information; a run with none left ends here.
void filterSites();
void printSites();
// Fits the line, prints it and returns the transform of the replicates onto Cn's scale.
void fitLine(double* slope, double* intercept);
void transformReplicates(double slope, double intercept);
void calPvalues();
void calProb();
// Rows 1..seqLength of (position, prob1, funcFlag) in ascending order of prob1.
double** rankSites();
void printRank(double** rank);
void writeRank(double** rank);

// The whole run; returns the exit status 0 (every failure exits with status 1 on its own).
int quorvel(int argc, char** argv);

#endif
