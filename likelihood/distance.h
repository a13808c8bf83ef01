// The tree of a run without a tree file: pairwise maximum-likelihood distances under the
// model and the site rates, the distance file, and the tree built from them.
#ifndef CORE_DISTANCE_H
#define CORE_DISTANCE_H

#include <string>

// Computes the distances of all sequences, writes "DISTMATRIX.txt", builds the tree, writes
// it to the tree file named after the alignment path and leaves it in node as the top node
// seqNum+1 with its depths set. Only a process of rank 0 writes the two files.
void cal_dist(const char* alignmentPath);

// Ends the job when the tree file or the distance file of a run on this alignment would be its
// alignment, root-probability, result or partial result file (the report names both), or when
// one of them could not be created (the report says why, as its opening would). The start-up
// checks it before anything is written, cal_dist before it writes.
void checkBuiltFilePaths(const std::string& alignmentPath);

// What a distance tells besides its value: none, "is inf" (10.0) or "Too many iterations" (11.0).
enum class PairWarning { none, infinite, tooManyIterations };
struct PairDistance {
    double value;
    PairWarning warning;
};

// Maximum-likelihood distance of sequences a and b: 10.0 when they share no site or the
// likelihood keeps rising up to 10, 11.0 when no root of the derivative can be bracketed.
// pairDistance prints nothing; dist prints its warning.
PairDistance pairDistance(int a, int b);
double dist(int a, int b);
// The warning line of the pair a, b; nothing for none.
void printPairWarning(int a, int b, PairWarning warning);

// Derivative by t of the log-likelihood of the pair table (rows 1 and 2: the residue codes
// of two sequences at the sites 1..seqLength) at distance t, summed over the sites where
// both have a letter and the rate exceeds 1e-8; a site that the model gives probability 0
// carries no term.
double functionValue(int** pair, double t);

// Log-likelihood of a lower-triangular table of residue-pair counts (1..20) at distance t
// and rate 1.
double functionValue1(int** counts, double t);

// The decimal digits of a positive k, "" for any other k; release with delete[].
char* itoa(int k);

// The tree file of an alignment path: the path cut before the first '.' of its last
// component, then ".tre".
std::string treeFileName(const std::string& alignmentPath);

#endif
