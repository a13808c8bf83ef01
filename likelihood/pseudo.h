// The pseudocount profile of an alignment: per column, the residue distribution weighted by
// the effective number of sequences behind each residue, mixed with the residue probabilities
// that the BLOSUM62 target frequencies predict from it.
//
// Letter codes of this unit are positions in pseudoAlphabet: 0 '-', 1..20 the residues
// W F Y M L I V A C G P T S N Q D E H R K, 21..23 B Z X, 24 '*', 25 '.', 26..45 the residues
// in lower case, 46..48 b z x. Every residue table here is indexed 1..20 in that W..K order.
#ifndef CORE_PSEUDO_H
#define CORE_PSEUDO_H

extern const char pseudoAlphabet[];

// BLOSUM62 target (joint) frequencies; row and column 0 are zero.
extern const double qmatrix[21][21];
// Robinson and Robinson background frequencies, entries 1..20.
extern const double p_rbnsn[21];
// BLOSUM62 scores (half bits) as published.
extern const int blosum62[21][21];
// The scores times ln 2, filled by prfprfmatrix for funcAaFreq.
extern double scoreMatrix[21][21];

// alignment: sequences 1..N x columns 1..M of letter codes; profile: rows 1..M, columns 0..20.
// Row j gets the pseudocount frequencies of column j, or 0 in 1..20 for a column of gaps only.
void prfprfmatrix(int** alignment, int M, int N, double** profile);

// Effective numbers of every column (neff rows 1..M, columns 0..20, entry 0 for the gap
// symbols) kept by the gap-content test; column[1..K] the alignment column of each kept row;
// n_eff the mean number of residue types per kept column.
void neffsForEachCol_maskGapReg(int** alignment, int N, int M, double gapLimit, double** neff, int* column,
                                int* K, double* n_eff);

// Effective number of the sequences marked 1 in member[1..N], judged over columns c1..c2.
double effective_number_nogaps(int** alignment, int* member, int N, int c1, int c2);

// out[1..K][1..20]: the observed frequencies of each row mixed with their BLOSUM62 prediction.
void pseudoCounts(double** neff, double n_eff, int K, double** out);

// Effective numbers of all 21 code groups of every column without the keep test; sum[j] is
// the sum over the residues 1..20.
void neffsForEachCol(int** alignment, int N, int M, double** neff, double* sum);

// (sum over i = 1..c*d of exp(x*v[i])) / (c*d) - 1
double funcAl(double x, int c, int d, double* v);
// sum over i, j of f1[i]*f2[j]*exp(x*s(i,j)/lambda) - 1 with the scores of scoreMatrix.
double funcAaFreq(double x, double* f1, double* f2);

#endif
