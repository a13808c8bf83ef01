// Index-range vectors, matrices and tensors, the fatal error routine, and the library's
// algebra on them: vector and matrix operations, linear systems, singular value
// decomposition, eigenvalues and eigensystems, and readers and printers of residue tables.
//
// A vector made for lo..hi is indexed with exactly those numbers; a matrix is one run of
// elements with row handles, m[i][j] for rl..rh, cl..ch. The caller owns every block and
// releases it with the matching free_ routine and the same lower bounds.
#ifndef NUMERICS_MATRIXALGEBRA_H
#define NUMERICS_MATRIXALGEBRA_H

#include <cstdio>

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

// ---- Residue alphabets and letter codes ----

// Position = code: gap, the 20 residues, B Z X * ., then the residues in lower case.
extern const char am[];
// The alphabetical order of the residue names: gap, A R N D C Q E G H I L K M F P S T W Y V.
extern const char am_dayhoff[];
// Three-letter names in the order of am, up to code 24.
extern const char* const am3[25];

int am2num_c(int c);             // upper case 1..20, lower case 26..45 (positions in am)
int am2num(int c);               // either case, 1..20
int am2num_dayhoff(int c);       // upper case only, positions in am_dayhoff
int am2numBZX(int c);            // either case, also B, Z, X and '*': 1..24
int a3let2num(const char* name); // always 0

// ---- Copies, builders and conversions; every result is new storage ----

double** vec2mat(double* v, long lo, long hi);
double* matcol2vec(long col, double** a, long rl, long rh);
double* vec_duplicate(double* v, long lo, long hi);
int* ivec_duplicate(int* v, long lo, long hi);
double** mat_duplicate(double** a, long rl, long rh, long cl, long ch);
int** imat_duplicate(int** a, long rl, long rh, long cl, long ch);
double** identity_mat(long n); // [0..n][0..n]
int** identity_imat(long n);
double* identity_vec(long n); // [0..n] of ones
int* identity_ivec(long n);
double** vec2diagmat(double* v, long lo, long hi);
int** ivec2idiagmat(int* v, long lo, long hi);
double* vec2double(int* iv, long lo, long hi);
double** mat2double(int** ia, long rl, long rh, long cl, long ch);
double** matT(double** a, long rl, long rh, long cl, long ch);
int** imatT(int** a, long rl, long rh, long cl, long ch);
// 1 when some element and its mirror image differ (by at least tol); 0 for a symmetric
// matrix. The range must be square.
int d_ifsymm(double** a, long rl, long rh, long cl, long ch, double tol);
int i_ifsymm(int** a, long rl, long rh, long cl, long ch);

// ---- Arithmetic. Operands carry their own ranges; element k of one pairs with element k
// of the other. Integer results are formed in 64 bits and a result that does not fit an
// int ends the program instead of wrapping. ----

double* dXvec(double s, double* v, long lo, long hi);
int* iXivec(int s, int* v, long lo, long hi);
double** dXmat(double s, double** a, long rl, long rh, long cl, long ch);
long double** lddXldmat(long double s, long double** a, long rl, long rh, long cl, long ch);
int** iXimat(int s, int** a, long rl, long rh, long cl, long ch);

double* vecPvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2);
int* ivecPivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2);
double* vecMvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2);
int* ivecMivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2);
double** matPmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2);
int** imatPimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2);
double** matMmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2);
int** imatMimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2);

double vecXvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2);
int ivecXivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2);
double** vecTXvecT(double* u, long lo1, long hi1, double* v, long lo2, long hi2);
int** ivecTXivecT(int* u, long lo1, long hi1, int* v, long lo2, long hi2);
double vecXmat_diag(double* v, long lo, long hi, double** a, long rl, long rh, long cl, long ch);
double* matXvec(double** a, long rl, long rh, long cl, long ch, double* v, long lo, long hi);
int* imatXivec(int** a, long rl, long rh, long cl, long ch, int* v, long lo, long hi);
double* imatXvec(int** a, long rl, long rh, long cl, long ch, double* v, long lo, long hi);
double* vecXmat(double* v, long lo, long hi, double** a, long rl, long rh, long cl, long ch);
int* ivecXimat(int* v, long lo, long hi, int** a, long rl, long rh, long cl, long ch);
double** matXmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2);
long double** ldmatXldmat(long double** a, long rl1, long rh1, long cl1, long ch1, long double** b, long rl2,
                          long rh2, long cl2, long ch2);
int** imatXimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2);
// R = U diag(d) Ui for the caller's n x n matrices (1..n), through the work matrix W = diag(d) Ui.
void UxDxU_1(double** U, double* d, double** Ui, double** R, double** W, int n);

double sqnorm_vec(double* v, long lo, long hi); // Euclidean norm
double sqnorm_ivec(int* v, long lo, long hi);
double sqnorm_mat(double** a, long rl, long rh, long cl, long ch); // Frobenius norm
double sqnorm_imat(int** a, long rl, long rh, long cl, long ch);
double trace_mat(double** a, long rl, long rh, long cl, long ch);
int trace_imat(int** a, long rl, long rh, long cl, long ch);
double** matPOWi(double** a, long rl, long rh, long cl, long ch, int p); // a^p, p >= 1
int** imatPOWi(int** a, long rl, long rh, long cl, long ch, int p);

// ---- Linear systems on matrices indexed 1..n ----

// Crout LU decomposition with implicit partial pivoting, in place: U on and above the
// diagonal, the multipliers of L below it. perm[j] is the row swapped with row j at step j;
// *sign is +1.0 or -1.0 for an even or odd number of swaps.
void ludcmp(double** a, int n, int* perm, double* sign);
// Solves A x = b for the A that ludcmp decomposed into a and perm; b[1..n] becomes x.
void lubksb(double** a, int n, int* perm, double* b);
// Through ludcmp on a copy; a and b are unchanged and the result is new storage 1..n.
double* LUsolve(double** a, long n, double* b);
double** LUinverse(double** a, long n);
double LUdet(double** a, long n);
// Gauss-Jordan elimination with full pivoting: a becomes its inverse, the m columns of b
// the solutions. The members differ in one message; inv_gaussjordan has no right-hand side.
void gaussj(double** a, int n, double** b, int m);
void linsys_gaussjordan(double** a, int n, double** b, int m);
void inv_gaussjordan(double** a, int n);
// Cholesky factor of the symmetric positive-definite a (upper triangle read): the factor
// below the diagonal of a, its diagonal in p[1..n].
void choldc(double** a, int n, double* p);
void cholsl(double** a, int n, double* p, double* b, double* x);
// Prints a, then solves a x = b through choldc on a copy.
double* CHsolve(double** a, long n, double* b);

// ---- Singular value decomposition ----

// sqrt(a*a + b*b) without overflow or underflow on the way.
double dpythag(double a, double b);
// A = U diag(w) V^T for the m x n matrix a: a becomes U, w[1..n] the singular values (not
// sorted), v[1..n][1..n] the matrix V itself.
void svdcmp(double** a, int m, int n, double* w, double** v);
// svdcmp on a copy of a held in u; a is unchanged.
void SVDcmp(double** a, int m, int n, double** u, double* w, double** v);
// x[1..n] from a decomposition; a singular value of exactly 0 is ignored.
void dsvbksb(double** u, double* w, double** v, int m, int n, double* b, double* x);
// Least-squares solution, singular values below 1e-12 of the largest dropped.
double* SVDsolve(double** a, long m, long n, double* b);
// The pseudo-inverse [1..n][1..m]; a singular value below 1e-12 of the largest ends the
// program with a report on standard output.
double** SVDinverse(double** a, long m, long n);
// p^T diag(1/w) u^T for A = u diag(w) p, checked against A.
double** svd_inverse(double** u, double* w, double** p, long n);

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
// balanc, elmhes and hqr on a copy of a (a is unchanged); likewise in long double.
void eigenvalues(double** a, long n, double* wr, double* wi);
void ldeigenvalues(long double** a, long n, long double* wr, long double* wi);

// ---- Symmetric eigensystem and functions of a matrix ----

// Householder reduction of the symmetric a (lower triangle read) to tridiagonal form: d the
// diagonal, e[2..n] the subdiagonal (e[1] = 0), a the accumulated orthogonal transformation.
void tred2(double** a, int n, double* d, double* e);
// QL with implicit shifts on the tridiagonal form left by tred2: d the eigenvalues
// (unsorted), z the unit eigenvectors as columns; e is destroyed.
void tqli(double* d, double* e, int n, double** z);
// tred2 and tqli on a copy of a held in z; a is unchanged.
void eigensystem_symm(double** a, long n, double* d, double** z, double* e);
// The eigenvalues of a into wr, wi and the spectral projectors of the real parts into the
// caller's P[1..n] (each handle replaced by a new matrix), carrying a factor 0.9999999^(n-21)
// (1/0.9999999 for a 20 x 20 matrix). The eigenvalues must differ.
void mat_prepped(double** a, long n, double*** P, double* wr, double* wi);
// The same in long double with no damping: exactly the projectors.
void ldmat_prepped(long double** a, long n, long double*** P, long double* wr, long double* wi);
// R = sum of exp(t wr[i]) P[i], and R = sum of P[i] / (1 - t wr[i]).
void mat_EXP_prepped(double*** P, long n, double* wr, double** R, double t);
void mat_EXPDI_prepped(double*** P, long n, double* wr, double** R, double t);

// ---- Residue tables: reading and printing ----

// A residue-pair table from text into a new int matrix [0..25][0..25] indexed by the codes
// of am2numBZX, 0 where the text sets nothing: '#' lines are comments, a line starting with
// a space lists the column letters, every other line is a row letter and its numbers.
int** read_aa_imatrix(FILE* stream);
// Lines "<letter> <value>" into a new vector [0..25] by letter code; lines starting with
// '#' or a space, and empty lines, are skipped. A later line for a letter overwrites.
double* read_aa_vector(FILE* stream);
int* read_aa_ivector(FILE* stream);

// Residue-pair tables [1..n][1..n] on standard output (or the stream), labelled with the
// letters of am (am_dayhoff for the _dayhoff printer); n may not exceed the alphabet.
void print_aa_imatrix(int** m, int n);
void print_aa_imatrix5(int** m, int n);
void fprint_aa_imatrix5(FILE* stream, int** m, int n);
void print_aa_imatrix6(int** m, int n);
void print_aa_imatrix_dayhoff(int** m, int n);
void print_aa_matrix(double** m, int n);
void print_aa_ldmatrix(long double** m, int n);
void print_aa_vector(double* v, int n);
void print_aa_ivector(int* v, int n);
// The title line, then rows 1..rows of columns 1..cols.
void print_matrix(double** m, int rows, int cols, const char* title);

#endif
