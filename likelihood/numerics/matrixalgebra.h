// Index-range vectors, matrices and tensors, the fatal error routine, and the library's
// vector and matrix algebra.
//
// A vector made for lo..hi is indexed with exactly those numbers; a matrix is one run of
// elements with row handles, m[i][j] for rl..rh, cl..ch. The caller owns every block and
// releases it with the matching free_ routine and the same lower bounds.
#ifndef NUMERICS_MATRIXALGEBRA_H
#define NUMERICS_MATRIXALGEBRA_H

// How a fatal error ends the program. The library itself knows nothing of parallel jobs:
// a program that runs as one of several processes installs a hook that ends the whole job.
// Without a hook the process exits with the given status.
using FatalExitHook = void (*)(int status);
extern FatalExitHook fatalExitHook;

// Ends the program with the status through the installed hook; never returns.
[[noreturn]] void fatalExit(int status);

// Writes msg and "FATAL - execution terminated" to standard error and ends with status 1.
[[noreturn]] void nrerror(const char* msg);

char* cvector(long lo, long hi);
int* ivector(long lo, long hi);
long* lvector(long lo, long hi);
float* fvector(long lo, long hi);
double* dvector(long lo, long hi);
long double* ldvector(long lo, long hi);

char** cmatrix(long rl, long rh, long cl, long ch);
int** imatrix(long rl, long rh, long cl, long ch);
double** dmatrix(long rl, long rh, long cl, long ch);
float** fmatrix(long rl, long rh, long cl, long ch);
long double** ldmatrix(long rl, long rh, long cl, long ch);

int*** i3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
double*** d3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
long double*** ld3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

void free_ivector(int* v, long lo, long hi);
void free_lvector(long* v, long lo, long hi);
void free_dvector(double* v, long lo, long hi);
void free_imatrix(int** m, long rl, long rh, long cl, long ch);
void free_dmatrix(double** m, long rl, long rh, long cl, long ch);
void free_d3tensor(double*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

// a[rl..rh][cl..ch] column after column into a new dvector(0, nrow*ncol-1).
double* mat2forvect(double** a, long rl, long rh, long cl, long ch);
// The reverse of mat2forvect into the existing matrix a, addressed by its own bounds.
void forvect2mat(double* v, long rl, long rh, long cl, long ch, double** a);
// A new dmatrix(lo, hi, lo, hi) with v[0..hi-lo] on the diagonal and 0.0 elsewhere.
double** foreigen2diagmat(double* v, long lo, long hi);

// ---- Linear systems on matrices indexed 1..n ----

// Crout LU decomposition with implicit partial pivoting, in place: U on and above the
// diagonal, the multipliers of L below it. perm[j] is the row swapped with row j at step j;
// *sign is +1.0 or -1.0 for an even or odd number of swaps.
void ludcmp(double** a, int n, int* perm, double* sign);
// Solves A x = b for the A that ludcmp decomposed into a and perm; b[1..n] becomes x.
void lubksb(double** a, int n, int* perm, double* b);

// ---- Singular value decomposition ----

// sqrt(a*a + b*b) without overflow or underflow on the way.
double dpythag(double a, double b);
// A = U diag(w) V^T for the m x n matrix a: a becomes U, w[1..n] the singular values (not
// sorted), v[1..n][1..n] the matrix V itself.
void svdcmp(double** a, int m, int n, double* w, double** v);

// ---- Eigenvalues of a general real matrix, in place on a[1..n][1..n] ----

void balanc(double** a, int n);
void elmhes(double** a, int n);
// Eigenvalues of the upper Hessenberg matrix a into wr (real parts) and wi (imaginary
// parts), unsorted; a complex pair has its negative imaginary part first. a is destroyed.
void hqr(double** a, int n, double* wr, double* wi);
void ldbalanc(long double** a, int n);
void ldelmhes(long double** a, int n);
// As hqr in long double, its square roots taken in double precision.
void ldhqr(long double** a, int n, long double* wr, long double* wi);

#endif
