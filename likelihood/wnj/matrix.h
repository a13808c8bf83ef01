// The tree builder's plain 0-based matrices and vectors: n row pointers over one zeroed
// block of n*n doubles, or n zeroed doubles. Allocation failures end the process.
#ifndef WNJ_MATRIX_H
#define WNJ_MATRIX_H

namespace wnj {

double** matrix(int n);
void freeMatrix(double** m);
double* vector(int n);
void freeVector(double* v);
// Copies the top-left n x n block of from into to.
void setMM(int n, double** from, double** to);
// Zeroes row and column k and puts 1 on their crossing.
void delRowCol(int n, double** m, int k);
void printMatrix(int n, double** m);
void printVector(int n, double* v);

inline double SQR(double x) {
    return x * x;
}
// The larger (DMAX) or smaller (DMIN) of the two; the second on equality.
inline double DMAX(double a, double b) {
    return a > b ? a : b;
}
inline double DMIN(double a, double b) {
    return a < b ? a : b;
}
inline double RECT(double x) {
    return x > 0 ? x : 0;
}

} // namespace wnj

#endif
