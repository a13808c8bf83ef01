// The substitution model: WAG exchangeabilities, the alignment's residue frequencies, the
// rate matrix, its eigen-decomposition and the transition probabilities.
#ifndef CORE_MODEL_H
#define CORE_MODEL_H

// Storage allocated once by the start-up (residues 1..20).
extern double** S_ij;   // exchangeabilities
extern double** Q_ij;   // rate matrix of the current model
extern double* PI;      // residue frequencies of the alignment
extern double** a;      // work copy for the eigenvalue, SVD and LU routines
extern double** v;      // right eigenvectors as columns, each summing to 1
extern double** inv;    // inverse of v
extern double* wr;      // eigenvalues
extern double* wi;      // imaginary parts (unused)
extern double* w;       // singular values (work)
extern double** svdv;   // right singular vectors (work)
extern double* colu;    // unit column (work)
extern double** sitePI; // sites 1..seqLength x residues 1..20; allocated by cal_PI

// The residue frequencies the current rate matrix was built from (the last cal_Q's argument):
// PI for the alignment model, a row of sitePI for a site's own model.
extern double modelPI[21];

// Raised by every cal_Eign, so that stores derived from the model (cached transition
// matrices) know when they are stale.
extern unsigned long modelVersion;

// Allocates the storage above (not sitePI), once, before anything else of the model runs.
void allocateModelStorage();

void init_S();
void cal_PI();
void cal_Q(double* f);
void cal_Eign();
double pij(int i, int j, double t, double alfa);

// Whether a column under the current model can hold residue j at all: its frequency in the
// model and in the alignment (which weights the root and guards every transition into j) are
// both at least 1e-10. A column showing any other residue has likelihood 0.
bool modelHolds(int j);
double dpij(int i, int j, double t, double alfa);
double dpij_alfa(int i, int j, double t, double alfa);

// pij, dpij and dpij_alfa at one (t, alfa) share the factors e[k] = exp(t*alfa*wr[k]),
// k = 1..20. pijFactors computes them once; the *_e forms evaluate entries from them with
// exactly the results of pij, dpij and dpij_alfa (same guards, same order of operations).
// The factors belong to the model of the call; they are stale after the next cal_Eign.
void pijFactors(double t, double alfa, double* e);
double pij_e(int i, int j, const double* e);
double dpij_e(int i, int j, const double* e, double alfa);
double dpij_alfa_e(int i, int j, const double* e, double t);

// The column of svdv that cal_Eign takes as the eigenvector, from the singular values
// values[1..n]: the last k whose value lies strictly within the threshold of 0; when none
// does, the smallest value (the first of equal ones), so that no column is left unset.
int nullColumn(const double* values, int n, double threshold);

// 4: each site's likelihood in optimalAlfa and optTree_Goldstein is taken under the model of
// the site's own frequencies. No option sets it.
extern int D_A_P_Flag;
// Saves PI into saved[1..20], makes PI the site's frequencies sitePI[s] and rebuilds the model
// from them: the root is weighted by the site's frequencies too.
void useSiteFrequencies(int s, double* saved);
// Puts saved[1..20] back into PI and rebuilds the model from it.
void restoreModel(const double* saved);

#endif
