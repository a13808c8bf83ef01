#include "numerics/matrixalgebra.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

FatalExitHook fatalExitHook = nullptr;

void fatalExit(int status) {
    if (fatalExitHook) fatalExitHook(status);
    std::exit(status);
}

void nrerror(const char* msg) {
    std::fprintf(stderr, "%s\n", msg);
    std::fprintf(stderr, "FATAL - execution terminated\n");
    fatalExit(1);
}

namespace {

// One block of count elements of the given size, or nullptr when the request is refused
// or its byte count does not fit in size_t.
void* requestBlock(long count, std::size_t size) {
    if (count < 0 || static_cast<std::uint64_t>(count) > SIZE_MAX / size) return nullptr;
    return std::malloc(static_cast<std::size_t>(count) * size);
}

// count * other as a long, or -1 when the product overflows (a request that must fail).
long product(long count, long other) {
    long result;
    if (count < 0 || other < 0 || __builtin_mul_overflow(count, other, &result)) return -1;
    return result;
}

long plusOne(long count) { return count < 0 || count == LONG_MAX ? -1 : count + 1; }

template <typename T> T* makeVector(long lo, long hi, const char* name) {
    T* v = static_cast<T*>(requestBlock(plusOne(hi - lo + 1), sizeof(T)));
    if (!v) nrerror(("allocation failure in " + std::string(name) + "()").c_str());
    return v - lo + 1;
}

void allocationFailure(int step, const char* name) {
    nrerror(("allocation failure " + std::to_string(step) + " in " + name + "()").c_str());
}

template <typename T> T** makeMatrix(long rl, long rh, long cl, long ch, const char* name) {
    long nrow = rh - rl + 1, ncol = ch - cl + 1;
    T** m = static_cast<T**>(requestBlock(plusOne(nrow), sizeof(T*)));
    if (!m) allocationFailure(1, name);
    m = m + 1 - rl;
    T* data = static_cast<T*>(requestBlock(plusOne(product(nrow, ncol)), sizeof(T)));
    if (!data) allocationFailure(2, name);
    m[rl] = data + 1 - cl;
    for (long i = rl + 1; i <= rh; i++) m[i] = m[i - 1] + ncol;
    return m;
}

template <typename T>
T*** makeTensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh, const char* name) {
    long nrow = nrh - nrl + 1, ncol = nch - ncl + 1, ndep = ndh - ndl + 1;
    T*** t = static_cast<T***>(requestBlock(plusOne(nrow), sizeof(T**)));
    if (!t) allocationFailure(1, name);
    t = t + 1 - nrl;
    T** columns = static_cast<T**>(requestBlock(plusOne(product(nrow, ncol)), sizeof(T*)));
    if (!columns) allocationFailure(2, name);
    t[nrl] = columns + 1 - ncl;
    T* data = static_cast<T*>(requestBlock(plusOne(product(product(nrow, ncol), ndep)), sizeof(T)));
    if (!data) allocationFailure(3, name);
    t[nrl][ncl] = data + 1 - ndl;
    for (long j = ncl + 1; j <= nch; j++) t[nrl][j] = t[nrl][j - 1] + ndep;
    for (long i = nrl + 1; i <= nrh; i++) {
        t[i] = t[i - 1] + ncol;
        t[i][ncl] = t[i - 1][ncl] + ncol * ndep;
        for (long j = ncl + 1; j <= nch; j++) t[i][j] = t[i][j - 1] + ndep;
    }
    return t;
}

template <typename T> void releaseMatrix(T** m, long rl, long cl) {
    std::free(m[rl] + cl - 1);
    std::free(m + rl - 1);
}

} // namespace

char* cvector(long lo, long hi) { return makeVector<char>(lo, hi, "cvector"); }
int* ivector(long lo, long hi) { return makeVector<int>(lo, hi, "ivector"); }
long* lvector(long lo, long hi) { return makeVector<long>(lo, hi, "lvector"); }
float* fvector(long lo, long hi) { return makeVector<float>(lo, hi, "fvector"); }
double* dvector(long lo, long hi) { return makeVector<double>(lo, hi, "dvector"); }
long double* ldvector(long lo, long hi) { return makeVector<long double>(lo, hi, "ldvector"); }

char** cmatrix(long rl, long rh, long cl, long ch) { return makeMatrix<char>(rl, rh, cl, ch, "cmatrix"); }
int** imatrix(long rl, long rh, long cl, long ch) { return makeMatrix<int>(rl, rh, cl, ch, "imatrix"); }
double** dmatrix(long rl, long rh, long cl, long ch) { return makeMatrix<double>(rl, rh, cl, ch, "dmatrix"); }
float** fmatrix(long rl, long rh, long cl, long ch) { return makeMatrix<float>(rl, rh, cl, ch, "fmatrix"); }
long double** ldmatrix(long rl, long rh, long cl, long ch) {
    return makeMatrix<long double>(rl, rh, cl, ch, "ldmatrix");
}

int*** i3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
    return makeTensor<int>(nrl, nrh, ncl, nch, ndl, ndh, "i3tensor");
}
double*** d3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
    return makeTensor<double>(nrl, nrh, ncl, nch, ndl, ndh, "d3tensor");
}
long double*** ld3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
    return makeTensor<long double>(nrl, nrh, ncl, nch, ndl, ndh, "ld3tensor");
}

void free_ivector(int* v, long lo, long) { std::free(v + lo - 1); }
void free_lvector(long* v, long lo, long) { std::free(v + lo - 1); }
void free_dvector(double* v, long lo, long) { std::free(v + lo - 1); }
void free_imatrix(int** m, long rl, long, long cl, long) { releaseMatrix(m, rl, cl); }
void free_dmatrix(double** m, long rl, long, long cl, long) { releaseMatrix(m, rl, cl); }

void free_d3tensor(double*** t, long nrl, long, long ncl, long, long ndl, long) {
    std::free(t[nrl][ncl] + ndl - 1);
    std::free(t[nrl] + ncl - 1);
    std::free(t + nrl - 1);
}

double* mat2forvect(double** a, long rl, long rh, long cl, long ch) {
    long nrow = rh - rl + 1, ncol = ch - cl + 1;
    double* v = dvector(0, nrow * ncol - 1);
    for (long j = cl; j <= ch; j++)
        for (long i = rl; i <= rh; i++) v[(j - cl) * nrow + (i - rl)] = a[i][j];
    return v;
}

void forvect2mat(double* v, long rl, long rh, long cl, long ch, double** a) {
    long nrow = rh - rl + 1;
    for (long j = cl; j <= ch; j++)
        for (long i = rl; i <= rh; i++) a[i][j] = v[(j - cl) * nrow + (i - rl)];
}

double** foreigen2diagmat(double* v, long lo, long hi) {
    double** m = dmatrix(lo, hi, lo, hi);
    for (long i = lo; i <= hi; i++)
        for (long j = lo; j <= hi; j++) m[i][j] = (i == j) ? v[i - lo] : 0.0;
    return m;
}
