#include "nrutil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

void nrerror(const char* error_text) {
    std::fprintf(stderr, "Numerical Recipes run-time error...\n");
    std::fprintf(stderr, "%s\n", error_text);
    std::fprintf(stderr, "...now exiting to system...\n");
    std::exit(1);
}

namespace {

// Room for count elements plus the spare one in front, or nullptr when the request is refused
// or its size cannot be expressed: a huge or negative count must fail, never wrap around.
template <typename T> T* block(long count) {
    if (count < 0 || static_cast<std::uint64_t>(count) >= SIZE_MAX / sizeof(T)) return nullptr;
    return static_cast<T*>(std::malloc((static_cast<std::size_t>(count) + 1) * sizeof(T)));
}

// rows * cols, or -1 (a request that must fail) when the product overflows.
long cells(long rows, long cols) {
    long product;
    if (rows < 0 || cols < 0 || __builtin_mul_overflow(rows, cols, &product)) return -1;
    return product;
}

template <typename T> T* newVector(long nl, long nh, const char* failure) {
    T* v = block<T>(nh - nl + 1);
    if (!v) nrerror(failure);
    return v + 1 - nl;
}

// Row handles for nrl..nrh; the table is requested before the block, as its failure says.
template <typename T> T** newRowTable(long nrl, long nrh, const char* failure) {
    T** m = block<T*>(nrh - nrl + 1);
    if (!m) nrerror(failure);
    return m + 1 - nrl;
}

// Points rows nrl..nrh of m at consecutive runs of ncol elements, row nrl at first[ncl].
template <typename T> void laySuccessiveRows(T** m, long nrl, long nrh, long ncol, T* first) {
    for (long i = nrl; i <= nrh; i++) m[i] = first + (i - nrl) * ncol;
}

template <typename T> T** newMatrix(long nrl, long nrh, long ncl, long nch) {
    long ncol = nch - ncl + 1;
    T** m = newRowTable<T>(nrl, nrh, "allocation failure 1 in matrix()");
    T* data = block<T>(cells(nrh - nrl + 1, ncol));
    if (!data) nrerror("allocation failure 2 in matrix()");
    laySuccessiveRows(m, nrl, nrh, ncol, data + 1 - ncl);
    return m;
}

template <typename T> void freeMatrix(T** m, long nrl, long ncl) {
    std::free(m[nrl] + ncl - 1);
    std::free(m + nrl - 1);
}

template <typename T> T** viewFlat(T* a, long nrl, long nrh, long ncl, long nch) {
    T** m = newRowTable<T>(nrl, nrh, "allocation failure in convert_matrix()");
    laySuccessiveRows(m, nrl, nrh, nch - ncl + 1, a - ncl);
    return m;
}

} // namespace

float* vector(long nl, long nh) {
    return newVector<float>(nl, nh, "allocation failure in vector()");
}
int* ivector(long nl, long nh) {
    return newVector<int>(nl, nh, "allocation failure in ivector()");
}
unsigned char* cvector(long nl, long nh) {
    return newVector<unsigned char>(nl, nh, "allocation failure in cvector()");
}
unsigned long* lvector(long nl, long nh) {
    return newVector<unsigned long>(nl, nh, "allocation failure in lvector()");
}
double* dvector(long nl, long nh) {
    return newVector<double>(nl, nh, "allocation failure in dvector()");
}

float** matrix(long nrl, long nrh, long ncl, long nch) {
    return newMatrix<float>(nrl, nrh, ncl, nch);
}
double** dmatrix(long nrl, long nrh, long ncl, long nch) {
    return newMatrix<double>(nrl, nrh, ncl, nch);
}
int** imatrix(long nrl, long nrh, long ncl, long nch) {
    return newMatrix<int>(nrl, nrh, ncl, nch);
}
unsigned char** cmatrix(long nrl, long nrh, long ncl, long nch) {
    return newMatrix<unsigned char>(nrl, nrh, ncl, nch);
}
unsigned char** bmatrix(long nrl, long nrh, long ncl, long nch) {
    return cmatrix(nrl, nrh, ncl, nch);
}

float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long, long newrl, long newcl) {
    long nrh = newrl + (oldrh - oldrl);
    float** m = newRowTable<float>(newrl, nrh, "allocation failure in submatrix()");
    for (long i = oldrl; i <= oldrh; i++) m[newrl + (i - oldrl)] = a[i] + oldcl - newcl;
    return m;
}

float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch) {
    return viewFlat(a, nrl, nrh, ncl, nch);
}
double** dconvert_matrix(double* a, long nrl, long nrh, long ncl, long nch) {
    return viewFlat(a, nrl, nrh, ncl, nch);
}

float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh) {
    long nrow = nrh - nrl + 1, ncol = nch - ncl + 1, ndep = ndh - ndl + 1;
    float*** t = block<float**>(nrow);
    if (!t) nrerror("allocation failure 1 in f3tensor()");
    t += 1 - nrl;
    float** columns = block<float*>(cells(nrow, ncol));
    if (!columns) nrerror("allocation failure 2 in f3tensor()");
    float* data = block<float>(cells(cells(nrow, ncol), ndep));
    if (!data) nrerror("allocation failure 3 in f3tensor()");
    for (long i = nrl; i <= nrh; i++) {
        t[i] = columns + 1 - ncl + (i - nrl) * ncol;
        for (long j = ncl; j <= nch; j++) t[i][j] = data + 1 - ndl + ((i - nrl) * ncol + (j - ncl)) * ndep;
    }
    return t;
}

void free_vector(float* v, long nl, long) {
    std::free(v + nl - 1);
}
void free_ivector(int* v, long nl, long) {
    std::free(v + nl - 1);
}
void free_cvector(unsigned char* v, long nl, long) {
    std::free(v + nl - 1);
}
void free_lvector(unsigned long* v, long nl, long) {
    std::free(v + nl - 1);
}
void free_dvector(double* v, long nl, long) {
    std::free(v + nl - 1);
}
void free_matrix(float** m, long nrl, long, long ncl, long) {
    freeMatrix(m, nrl, ncl);
}
void free_dmatrix(double** m, long nrl, long, long ncl, long) {
    freeMatrix(m, nrl, ncl);
}
void free_imatrix(int** m, long nrl, long, long ncl, long) {
    freeMatrix(m, nrl, ncl);
}
void free_submatrix(float** b, long nrl, long, long, long) {
    std::free(b + nrl - 1);
}
void free_convert_matrix(float** b, long nrl, long, long, long) {
    std::free(b + nrl - 1);
}
void free_dconvert_matrix(double** b, long nrl, long, long, long) {
    std::free(b + nrl - 1);
}

void free_f3tensor(float*** t, long nrl, long, long ncl, long, long ndl, long) {
    std::free(t[nrl][ncl] + ndl - 1);
    std::free(t[nrl] + ncl - 1);
    std::free(t + nrl - 1);
}
