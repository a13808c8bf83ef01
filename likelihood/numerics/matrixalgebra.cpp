#include "numerics/matrixalgebra.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

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

long plusOne(long count) {
    return count < 0 || count == LONG_MAX ? -1 : count + 1;
}

// The number of handles kept for count rows (or columns). An empty range still gets one: the
// handle of the first row (and of its first column) is set at creation and read back on
// release even when it has nothing to address.
long handleCount(long count) {
    return count == 0 ? 1 : count;
}

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
    T** m = static_cast<T**>(requestBlock(plusOne(handleCount(nrow)), sizeof(T*)));
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
    T*** t = static_cast<T***>(requestBlock(plusOne(handleCount(nrow)), sizeof(T**)));
    if (!t) allocationFailure(1, name);
    t = t + 1 - nrl;
    long columnHandles = product(handleCount(nrow), handleCount(ncol));
    T** columns = static_cast<T**>(requestBlock(plusOne(columnHandles), sizeof(T*)));
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

char* cvector(long lo, long hi) {
    return makeVector<char>(lo, hi, "cvector");
}
int* ivector(long lo, long hi) {
    return makeVector<int>(lo, hi, "ivector");
}
long* lvector(long lo, long hi) {
    return makeVector<long>(lo, hi, "lvector");
}
float* fvector(long lo, long hi) {
    return makeVector<float>(lo, hi, "fvector");
}
double* dvector(long lo, long hi) {
    return makeVector<double>(lo, hi, "dvector");
}
long double* ldvector(long lo, long hi) {
    return makeVector<long double>(lo, hi, "ldvector");
}

char** cmatrix(long rl, long rh, long cl, long ch) {
    return makeMatrix<char>(rl, rh, cl, ch, "cmatrix");
}
int** imatrix(long rl, long rh, long cl, long ch) {
    return makeMatrix<int>(rl, rh, cl, ch, "imatrix");
}
double** dmatrix(long rl, long rh, long cl, long ch) {
    return makeMatrix<double>(rl, rh, cl, ch, "dmatrix");
}
float** fmatrix(long rl, long rh, long cl, long ch) {
    return makeMatrix<float>(rl, rh, cl, ch, "fmatrix");
}
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

void free_ivector(int* v, long lo, long) {
    std::free(v + lo - 1);
}
void free_lvector(long* v, long lo, long) {
    std::free(v + lo - 1);
}
void free_dvector(double* v, long lo, long) {
    std::free(v + lo - 1);
}
void free_imatrix(int** m, long rl, long, long cl, long) {
    releaseMatrix(m, rl, cl);
}
void free_dmatrix(double** m, long rl, long, long cl, long) {
    releaseMatrix(m, rl, cl);
}

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

// ---------------------------------------------------------------------------------------
// Residue alphabets and letter codes
// ---------------------------------------------------------------------------------------

const char am[] = "-WFYMLIVACGPTSNQDEHRKBZX*.wfymlivacgptsnqdehrkbzx";
const char am_dayhoff[] = "-ARNDCQEGHILKMFPSTWYV";
const char* const am3[25] = {"---", "TRP", "PHE", "TYR", "MET", "LEU", "ILE",   "VAL", "ALA",
                             "CYS", "GLY", "PRO", "THR", "SER", "ASN", "GLN",   "ASP", "GLU",
                             "HIS", "ARG", "LYS", "ASX", "GLX", "UNK", "***..."};

namespace {

// Position of c among alphabet[first..last], or 0.
int positionIn(const char* alphabet, int first, int last, int c) {
    for (int k = first; k <= last; k++)
        if (alphabet[k] == c) return k;
    return 0;
}

int upper(int c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

} // namespace

int am2num_c(int c) {
    int code = positionIn(am, 1, 20, c);
    return code != 0 ? code : positionIn(am, 26, 45, c);
}
int am2num(int c) {
    return positionIn(am, 1, 20, upper(c));
}
int am2num_dayhoff(int c) {
    return positionIn(am_dayhoff, 1, 20, c);
}
int am2numBZX(int c) {
    return positionIn(am, 1, 24, upper(c));
}
int a3let2num(const char*) {
    return 0;
}

// ---------------------------------------------------------------------------------------
// Vector and matrix operations
// ---------------------------------------------------------------------------------------

namespace {

// Integers are summed and multiplied in 64 bits; other types in their own precision.
template <typename T> using Wide = std::conditional_t<std::is_integral_v<T>, long long, T>;

[[noreturn]] void integerOverflow(const char* routine) {
    nrerror(("integer overflow in " + std::string(routine)).c_str());
}

template <typename W> W addUp(W sum, W term, const char* routine) {
    if constexpr (std::is_integral_v<W>) {
        W result;
        if (__builtin_add_overflow(sum, term, &result)) integerOverflow(routine);
        return result;
    } else {
        return sum + term;
    }
}

// The wide value as the routine's element type; an integer that does not fit is refused.
template <typename T> T narrowed(Wide<T> value, const char* routine) {
    if constexpr (std::is_integral_v<T>) {
        if (value < INT_MIN || value > INT_MAX) integerOverflow(routine);
    }
    return static_cast<T>(value);
}

template <typename T> T** newMatrix(long rl, long rh, long cl, long ch);
template <> double** newMatrix<double>(long rl, long rh, long cl, long ch) {
    return dmatrix(rl, rh, cl, ch);
}
template <> int** newMatrix<int>(long rl, long rh, long cl, long ch) {
    return imatrix(rl, rh, cl, ch);
}
template <> long double** newMatrix<long double>(long rl, long rh, long cl, long ch) {
    return ldmatrix(rl, rh, cl, ch);
}
template <typename T> T* newVector(long lo, long hi);
template <> double* newVector<double>(long lo, long hi) {
    return dvector(lo, hi);
}
template <> int* newVector<int>(long lo, long hi) {
    return ivector(lo, hi);
}

template <typename T> void releaseOwnMatrix(T** m, long rl, long rh, long cl, long ch);
template <> void releaseOwnMatrix<double>(double** m, long rl, long rh, long cl, long ch) {
    free_dmatrix(m, rl, rh, cl, ch);
}
template <> void releaseOwnMatrix<int>(int** m, long rl, long rh, long cl, long ch) {
    free_imatrix(m, rl, rh, cl, ch);
}

// A new matrix on the given ranges with element [i][j] = value(i, j).
template <typename T, typename F> T** buildMatrix(long rl, long rh, long cl, long ch, F value) {
    T** m = newMatrix<T>(rl, rh, cl, ch);
    for (long i = rl; i <= rh; i++)
        for (long j = cl; j <= ch; j++) m[i][j] = value(i, j);
    return m;
}

template <typename T, typename F> T* buildVector(long lo, long hi, F value) {
    T* v = newVector<T>(lo, hi);
    for (long i = lo; i <= hi; i++) v[i] = value(i);
    return v;
}

template <typename T> T** transposed(T** a, long rl, long rh, long cl, long ch) {
    return buildMatrix<T>(cl, ch, rl, rh, [&](long i, long j) { return a[j][i]; });
}

template <typename T> T** diagonalOf(T* v, long lo, long hi) {
    return buildMatrix<T>(lo, hi, lo, hi, [&](long i, long j) { return i == j ? v[i] : T(0); });
}

// Mirror pairs are taken by their offsets from the lower bounds, so that a range numbered
// differently in rows and columns is compared within the matrix.
template <typename T, typename Differs>
int asymmetric(T** a, long rl, long rh, long cl, long ch, const char* routine, Differs differs) {
    if (rh - rl != ch - cl) nrerror(("Non-diagonal matrix in " + std::string(routine)).c_str());
    for (long p = 0; p <= rh - rl; p++)
        for (long q = p + 1; q <= ch - cl; q++)
            if (differs(a[rl + p][cl + q], a[rl + q][cl + p])) return 1;
    return 0;
}

template <typename T> T* scaledVector(T s, T* v, long lo, long hi, const char* routine) {
    return buildVector<T>(lo, hi, [&](long i) { return narrowed<T>(Wide<T>(s) * Wide<T>(v[i]), routine); });
}

template <typename T> T** scaledMatrix(T s, T** a, long rl, long rh, long cl, long ch, const char* routine) {
    return buildMatrix<T>(
        rl, rh, cl, ch, [&](long i, long j) { return narrowed<T>(Wide<T>(s) * Wide<T>(a[i][j]), routine); });
}

template <typename T>
T* vectorSum(T* x, long lo1, long hi1, T* y, long lo2, long hi2, int sign, const char* routine) {
    if (hi1 - lo1 != hi2 - lo2) nrerror(("length of 2 vectors differs in " + std::string(routine)).c_str());
    return buildVector<T>(lo1, hi1, [&](long i) {
        return narrowed<T>(Wide<T>(x[i]) + sign * Wide<T>(y[i - lo1 + lo2]), routine);
    });
}

template <typename T>
T** matrixSum(T** a, long rl1, long rh1, long cl1, long ch1, T** b, long rl2, long rh2, long cl2, long ch2,
              int sign, const char* routine) {
    std::string in = std::string(" in ") + routine;
    if (ch1 - cl1 != ch2 - cl2)
        nrerror(("number of columns in the first matrix does not match the number of columns in the second "
                 "matrix" +
                 in)
                    .c_str());
    if (rh1 - rl1 != rh2 - rl2)
        nrerror(
            ("number of rows in the first matrix does not match the number of rows in the second matrix" + in)
                .c_str());
    return buildMatrix<T>(rl1, rh1, cl1, ch1, [&](long i, long j) {
        return narrowed<T>(Wide<T>(a[i][j]) + sign * Wide<T>(b[i - rl1 + rl2][j - cl1 + cl2]), routine);
    });
}

template <typename T> T dotProduct(T* x, long lo1, long hi1, T* y, long lo2, const char* routine) {
    Wide<T> sum = 0;
    for (long k = 0; k <= hi1 - lo1; k++)
        sum = addUp(sum, Wide<T>(x[lo1 + k]) * Wide<T>(y[lo2 + k]), routine);
    return narrowed<T>(sum, routine);
}

template <typename T>
T** outerProduct(T* u, long lo1, long hi1, T* v, long lo2, long hi2, const char* routine) {
    return buildMatrix<T>(lo1, hi1, lo2, hi2, [&](long i, long j) {
        return narrowed<T>(Wide<T>(u[i]) * Wide<T>(v[j]), routine);
    });
}

// a v with the vector's elements paired to the columns; R is the result's element type.
template <typename R, typename M>
R* matrixTimesVector(M** a, long rl, long rh, long cl, long ch, R* v, long lo, long hi, const char* message,
                     const char* routine) {
    if (hi - lo != ch - cl) nrerror(message);
    return buildVector<R>(rl, rh, [&](long i) {
        Wide<R> sum = 0;
        for (long k = 0; k <= ch - cl; k++)
            sum = addUp(sum, Wide<R>(a[i][cl + k]) * Wide<R>(v[lo + k]), routine);
        return narrowed<R>(sum, routine);
    });
}

template <typename T>
T* vectorTimesMatrix(T* v, long lo, long hi, T** a, long rl, long rh, long cl, long ch, const char* routine) {
    if (hi - lo != rh - rl) nrerror("vector length does not match the number of rows in the matrix");
    return buildVector<T>(cl, ch, [&](long j) {
        Wide<T> sum = 0;
        for (long k = 0; k <= rh - rl; k++)
            sum = addUp(sum, Wide<T>(v[lo + k]) * Wide<T>(a[rl + k][j]), routine);
        return narrowed<T>(sum, routine);
    });
}

template <typename T>
T** matrixProduct(T** a, long rl1, long rh1, long cl1, long ch1, T** b, long rl2, long rh2, long cl2,
                  long ch2, const char* routine) {
    if (ch1 - cl1 != rh2 - rl2)
        nrerror(
            "number of columns in the first matrix does not match the number of rows in the second matrix");
    return buildMatrix<T>(rl1, rh1, cl2, ch2, [&](long i, long j) {
        Wide<T> sum = 0;
        for (long k = 0; k <= ch1 - cl1; k++)
            sum = addUp(sum, Wide<T>(a[i][cl1 + k]) * Wide<T>(b[rl2 + k][j]), routine);
        return narrowed<T>(sum, routine);
    });
}

template <typename T> long double squaredSum(T** a, long rl, long rh, long cl, long ch) {
    long double sum = 0;
    for (long i = rl; i <= rh; i++)
        for (long j = cl; j <= ch; j++) sum += static_cast<long double>(a[i][j]) * a[i][j];
    return sum;
}

template <typename T> T traceOf(T** a, long rl, long rh, long cl, long ch, const char* routine) {
    if (rh - rl != ch - cl) nrerror(("Non-diagonal matrix in " + std::string(routine)).c_str());
    Wide<T> sum = 0;
    for (long k = 0; k <= rh - rl; k++) sum = addUp(sum, Wide<T>(a[rl + k][cl + k]), routine);
    return narrowed<T>(sum, routine);
}

template <typename T> T** matrixPower(T** a, long rl, long rh, long cl, long ch, int p, const char* product) {
    if (p <= 0) nrerror("non-positive power in matPOWi");
    if (rh - rl != ch - cl) nrerror("non-square matrix in matPOWi");
    T** power = buildMatrix<T>(rl, rh, cl, ch, [&](long i, long j) { return T(j - cl == i - rl ? 1 : 0); });
    for (int k = 1; k <= p; k++) {
        T** next = matrixProduct(power, rl, rh, cl, ch, a, rl, rh, cl, ch, product);
        releaseOwnMatrix(power, rl, rh, cl, ch);
        power = next;
    }
    return power;
}

} // namespace

double** vec2mat(double* v, long lo, long hi) {
    return buildMatrix<double>(lo, hi, 1, 1, [&](long i, long) { return v[i]; });
}
double* matcol2vec(long col, double** a, long rl, long rh) {
    return buildVector<double>(rl, rh, [&](long i) { return a[i][col]; });
}
double* vec_duplicate(double* v, long lo, long hi) {
    return buildVector<double>(lo, hi, [&](long i) { return v[i]; });
}
int* ivec_duplicate(int* v, long lo, long hi) {
    return buildVector<int>(lo, hi, [&](long i) { return v[i]; });
}
double** mat_duplicate(double** a, long rl, long rh, long cl, long ch) {
    return buildMatrix<double>(rl, rh, cl, ch, [&](long i, long j) { return a[i][j]; });
}
int** imat_duplicate(int** a, long rl, long rh, long cl, long ch) {
    return buildMatrix<int>(rl, rh, cl, ch, [&](long i, long j) { return a[i][j]; });
}
double** identity_mat(long n) {
    return buildMatrix<double>(0, n, 0, n, [](long i, long j) { return i == j ? 1.0 : 0.0; });
}
int** identity_imat(long n) {
    return buildMatrix<int>(0, n, 0, n, [](long i, long j) { return i == j ? 1 : 0; });
}
double* identity_vec(long n) {
    return buildVector<double>(0, n, [](long) { return 1.0; });
}
int* identity_ivec(long n) {
    return buildVector<int>(0, n, [](long) { return 1; });
}
double** vec2diagmat(double* v, long lo, long hi) {
    return diagonalOf(v, lo, hi);
}
int** ivec2idiagmat(int* v, long lo, long hi) {
    return diagonalOf(v, lo, hi);
}
double* vec2double(int* iv, long lo, long hi) {
    return buildVector<double>(lo, hi, [&](long i) { return double(iv[i]); });
}
double** mat2double(int** ia, long rl, long rh, long cl, long ch) {
    return buildMatrix<double>(rl, rh, cl, ch, [&](long i, long j) { return double(ia[i][j]); });
}
double** matT(double** a, long rl, long rh, long cl, long ch) {
    return transposed(a, rl, rh, cl, ch);
}
int** imatT(int** a, long rl, long rh, long cl, long ch) {
    return transposed(a, rl, rh, cl, ch);
}

int d_ifsymm(double** a, long rl, long rh, long cl, long ch, double tol) {
    return asymmetric(a, rl, rh, cl, ch, "d_ifsymm",
                      [&](double x, double y) { return std::fabs(x - y) >= tol; });
}
int i_ifsymm(int** a, long rl, long rh, long cl, long ch) {
    return asymmetric(a, rl, rh, cl, ch, "i_ifsymm", [](int x, int y) { return x != y; });
}

double* dXvec(double s, double* v, long lo, long hi) {
    return scaledVector(s, v, lo, hi, "dXvec");
}
int* iXivec(int s, int* v, long lo, long hi) {
    return scaledVector(s, v, lo, hi, "iXivec");
}
double** dXmat(double s, double** a, long rl, long rh, long cl, long ch) {
    return scaledMatrix(s, a, rl, rh, cl, ch, "dXmat");
}
long double** lddXldmat(long double s, long double** a, long rl, long rh, long cl, long ch) {
    return scaledMatrix(s, a, rl, rh, cl, ch, "lddXldmat");
}
int** iXimat(int s, int** a, long rl, long rh, long cl, long ch) {
    return scaledMatrix(s, a, rl, rh, cl, ch, "iXimat");
}

double* vecPvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2) {
    return vectorSum(x, lo1, hi1, y, lo2, hi2, 1, "vecPvec");
}
int* ivecPivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2) {
    return vectorSum(x, lo1, hi1, y, lo2, hi2, 1, "vecPvec");
}
double* vecMvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2) {
    return vectorSum(x, lo1, hi1, y, lo2, hi2, -1, "vecMvec");
}
int* ivecMivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2) {
    return vectorSum(x, lo1, hi1, y, lo2, hi2, -1, "vecMvec");
}
double** matPmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2) {
    return matrixSum(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, 1, "matPmat");
}
int** imatPimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2) {
    return matrixSum(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, 1, "matPmat");
}
double** matMmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2) {
    return matrixSum(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, -1, "matMmat");
}
int** imatMimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2) {
    return matrixSum(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, -1, "matMmat");
}

double vecXvec(double* x, long lo1, long hi1, double* y, long lo2, long hi2) {
    if (hi1 - lo1 != hi2 - lo2) nrerror("length of 2 vectors differs in vecXvec");
    return dotProduct(x, lo1, hi1, y, lo2, "vecXvec");
}
int ivecXivec(int* x, long lo1, long hi1, int* y, long lo2, long hi2) {
    if (hi1 - lo1 != hi2 - lo2) nrerror("length of 2 vectors differs in ivecXivec");
    return dotProduct(x, lo1, hi1, y, lo2, "ivecXivec");
}
double** vecTXvecT(double* u, long lo1, long hi1, double* v, long lo2, long hi2) {
    return outerProduct(u, lo1, hi1, v, lo2, hi2, "vecTXvecT");
}
int** ivecTXivecT(int* u, long lo1, long hi1, int* v, long lo2, long hi2) {
    return outerProduct(u, lo1, hi1, v, lo2, hi2, "ivecTXivecT");
}

double vecXmat_diag(double* v, long lo, long hi, double** a, long rl, long rh, long cl, long ch) {
    if (rh - rl != ch - cl) nrerror("non-suare matrix in vecXmat_diag");
    if (hi - lo != rh - rl) nrerror("vector and diagonal lengths are different in vecXmat_diag");
    double sum = 0.0;
    for (long k = 0; k <= hi - lo; k++) sum += v[lo + k] * a[rl + k][cl + k];
    return sum;
}
double* matXvec(double** a, long rl, long rh, long cl, long ch, double* v, long lo, long hi) {
    return matrixTimesVector(a, rl, rh, cl, ch, v, lo, hi,
                             "vector length does not match the number of columns in the matrix in matXvec",
                             "matXvec");
}
int* imatXivec(int** a, long rl, long rh, long cl, long ch, int* v, long lo, long hi) {
    return matrixTimesVector(a, rl, rh, cl, ch, v, lo, hi,
                             "vector length does not match the number of columns in the matrix in imatXivec",
                             "imatXivec");
}
double* imatXvec(int** a, long rl, long rh, long cl, long ch, double* v, long lo, long hi) {
    return matrixTimesVector(a, rl, rh, cl, ch, v, lo, hi,
                             "vector length does not match the number of columns in the matrix", "imatXvec");
}
double* vecXmat(double* v, long lo, long hi, double** a, long rl, long rh, long cl, long ch) {
    return vectorTimesMatrix(v, lo, hi, a, rl, rh, cl, ch, "vecXmat");
}
int* ivecXimat(int* v, long lo, long hi, int** a, long rl, long rh, long cl, long ch) {
    return vectorTimesMatrix(v, lo, hi, a, rl, rh, cl, ch, "ivecXimat");
}
double** matXmat(double** a, long rl1, long rh1, long cl1, long ch1, double** b, long rl2, long rh2, long cl2,
                 long ch2) {
    return matrixProduct(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, "matXmat");
}
long double** ldmatXldmat(long double** a, long rl1, long rh1, long cl1, long ch1, long double** b, long rl2,
                          long rh2, long cl2, long ch2) {
    return matrixProduct(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, "ldmatXldmat");
}
int** imatXimat(int** a, long rl1, long rh1, long cl1, long ch1, int** b, long rl2, long rh2, long cl2,
                long ch2) {
    return matrixProduct(a, rl1, rh1, cl1, ch1, b, rl2, rh2, cl2, ch2, "imatXimat");
}

void UxDxU_1(double** U, double* d, double** Ui, double** R, double** W, int n) {
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) W[i][j] = d[i] * Ui[i][j];
    for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) {
            double sum = 0.0;
            for (int k = 1; k <= n; k++) sum += U[i][k] * W[k][j];
            R[i][j] = sum;
        }
}

double sqnorm_vec(double* v, long lo, long hi) {
    double sum = 0.0;
    for (long i = lo; i <= hi; i++) sum += v[i] * v[i];
    return std::sqrt(sum);
}
double sqnorm_ivec(int* v, long lo, long hi) {
    long double sum = 0;
    for (long i = lo; i <= hi; i++) sum += static_cast<long double>(v[i]) * v[i];
    return std::sqrt(static_cast<double>(sum));
}
double sqnorm_mat(double** a, long rl, long rh, long cl, long ch) {
    double sum = 0.0;
    for (long i = rl; i <= rh; i++)
        for (long j = cl; j <= ch; j++) sum += a[i][j] * a[i][j];
    return std::sqrt(sum);
}
double sqnorm_imat(int** a, long rl, long rh, long cl, long ch) {
    return std::sqrt(static_cast<double>(squaredSum(a, rl, rh, cl, ch)));
}
double trace_mat(double** a, long rl, long rh, long cl, long ch) {
    return traceOf(a, rl, rh, cl, ch, "trace_mat");
}
int trace_imat(int** a, long rl, long rh, long cl, long ch) {
    return traceOf(a, rl, rh, cl, ch, "trace_imat");
}
double** matPOWi(double** a, long rl, long rh, long cl, long ch, int p) {
    return matrixPower(a, rl, rh, cl, ch, p, "matXmat");
}
int** imatPOWi(int** a, long rl, long rh, long cl, long ch, int p) {
    return matrixPower(a, rl, rh, cl, ch, p, "imatXimat");
}

// ---------------------------------------------------------------------------------------
// Residue tables: reading and printing
// ---------------------------------------------------------------------------------------

namespace {

constexpr int maxTableLetters = 24; // the coded symbols of am2numBZX
constexpr int maxNumberLength = 10;
constexpr long amLetters = sizeof(am) - 2;              // labels 1..48
constexpr long dayhoffLetters = sizeof(am_dayhoff) - 2; // labels 1..20

[[noreturn]] void tableError(const std::string& message) {
    nrerror(message.c_str());
}

// The integer that text starts with, as the standard conversion reads it; one that does
// not fit an int is refused rather than wrapped.
int integerOf(const char* text, const char* routine) {
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        tableError(std::string("number out of range in ") + routine + ": " + text);
    return static_cast<int>(value);
}

// The state of read_aa_imatrix while it walks its stream.
struct PairTableReader {
    int** m = nullptr;
    int columns[maxTableLetters + 1] = {0};
    int columnCount = 0;
    bool haveHeader = false;
    int rowCount = 0;
    int rowCode = 0;
    int numbersInRow = 0;
    std::string number;

    void header(int c) {
        if (c == ' ') return;
        if (++columnCount > maxTableLetters) nrerror("matrix has more than 25 columns: FATAL");
        columns[columnCount] = am2numBZX(c);
    }

    void startRow(int label) {
        if (!haveHeader)
            tableError("matrix row " + std::string(1, char(label)) + " comes before any header line");
        if (++rowCount > maxTableLetters) nrerror("matrix has more than 25 rows: FATAL");
        rowCode = am2numBZX(label);
        numbersInRow = 0;
    }

    void digit(int c) {
        if (number.size() == maxNumberLength) nrerror("string too long:FATAL");
        number += char(c);
    }

    // Stores the number just ended, if any, at the row's letter and its header column.
    void endNumber() {
        if (number.empty()) return;
        if (++numbersInRow > columnCount)
            tableError("matrix row " + std::to_string(rowCount) + " has more numbers than the " +
                       std::to_string(columnCount) + " columns of its header");
        m[rowCode][columns[numbersInRow]] = integerOf(number.c_str(), "read_aa_imatrix");
        number.clear();
    }
};

enum class LineState { start, comment, header, row };

void checkAlphabet(long n, long letters, const char* routine) {
    if (n > letters)
        tableError(std::string(routine) + ": size " + std::to_string(n) + " is larger than the " +
                   std::to_string(letters) + " letters of its alphabet");
}

void printValue(FILE* out, int width, int value) {
    std::fprintf(out, "%*d", width, value);
}
void printValue(FILE* out, int width, double value) {
    std::fprintf(out, "%*.4f", width, value);
}

// A residue-pair table [1..n][1..n]: a header of column letters, then each row's letter and
// its values, all in fields of the given width.
template <typename T, typename Convert>
void printPairTable(FILE* out, T** m, long n, const char* alphabet, long letters, int width,
                    const char* routine, Convert convert) {
    checkAlphabet(n, letters, routine);
    std::fprintf(out, " ");
    for (long j = 1; j <= n; j++) std::fprintf(out, "%*c", width, alphabet[j]);
    std::fprintf(out, "\n");
    for (long i = 1; i <= n; i++) {
        std::fprintf(out, "%1c", alphabet[i]);
        for (long j = 1; j <= n; j++) printValue(out, width, convert(m[i][j]));
        std::fprintf(out, "\n");
    }
}

int asInt(int x) {
    return x;
}
double asDouble(double x) {
    return x;
}
double fromLong(long double x) {
    return static_cast<double>(x);
}

// Reads whole lines "<letter> <value>" into a new vector [0..25]; lines starting with '#',
// a space or nothing are skipped.
template <typename T, typename Convert> T* readResidueVector(FILE* stream, Convert convert) {
    T* v = newVector<T>(0, 25);
    for (int i = 0; i <= 25; i++) v[i] = 0;
    std::string line;
    int c;
    do {
        c = std::fgetc(stream);
        if (c != '\n' && c != EOF) {
            line += char(c);
            continue;
        }
        if (!line.empty() && line[0] != '#' && line[0] != ' ') {
            int code = am2numBZX(static_cast<unsigned char>(line[0]));
            line[0] = ' ';
            v[code] = convert(line.c_str());
        }
        line.clear();
    } while (c != EOF);
    return v;
}

} // namespace

int** read_aa_imatrix(FILE* stream) {
    int** m = imatrix(0, 25, 0, 25);
    for (int i = 0; i <= 25; i++)
        for (int j = 0; j <= 25; j++) m[i][j] = 0;
    PairTableReader reader;
    reader.m = m;
    LineState state = LineState::start;
    for (int c = std::fgetc(stream);; c = std::fgetc(stream)) {
        // The end of the file also ends a last row that lacks its newline.
        bool lineEnd = c == '\n' || c == EOF;
        switch (state) {
        case LineState::start:
            if (c == EOF) return m;
            if (c == '#') {
                state = LineState::comment;
            } else if (c == ' ') {
                reader.columnCount = 0;
                reader.haveHeader = true;
                state = LineState::header;
            } else {
                reader.startRow(c);
                state = lineEnd ? LineState::start : LineState::row;
            }
            break;
        case LineState::comment:
            if (lineEnd) state = LineState::start;
            break;
        case LineState::header:
            if (lineEnd)
                state = LineState::start;
            else
                reader.header(c);
            break;
        case LineState::row:
            if (lineEnd || c == ' ') {
                reader.endNumber();
                if (lineEnd) state = LineState::start;
            } else {
                reader.digit(c);
            }
            break;
        }
        if (c == EOF) return m;
    }
}

double* read_aa_vector(FILE* stream) {
    return readResidueVector<double>(stream, [](const char* text) { return std::strtod(text, nullptr); });
}

int* read_aa_ivector(FILE* stream) {
    return readResidueVector<int>(stream,
                                  [](const char* text) { return integerOf(text, "read_aa_ivector"); });
}

void print_aa_imatrix(int** m, int n) {
    printPairTable(stdout, m, n, am, amLetters, 3, "print_aa_imatrix", asInt);
}
void print_aa_imatrix5(int** m, int n) {
    printPairTable(stdout, m, n, am, amLetters, 5, "print_aa_imatrix5", asInt);
}
void fprint_aa_imatrix5(FILE* stream, int** m, int n) {
    printPairTable(stream, m, n, am, amLetters, 5, "fprint_aa_imatrix5", asInt);
}
void print_aa_imatrix6(int** m, int n) {
    printPairTable(stdout, m, n, am, amLetters, 6, "print_aa_imatrix6", asInt);
}
void print_aa_imatrix_dayhoff(int** m, int n) {
    printPairTable(stdout, m, n, am_dayhoff, dayhoffLetters, 4, "print_aa_imatrix_dayhoff", asInt);
}
void print_aa_matrix(double** m, int n) {
    printPairTable(stdout, m, n, am, amLetters, 7, "print_aa_matrix", asDouble);
}
void print_aa_ldmatrix(long double** m, int n) {
    printPairTable(stdout, m, n, am, amLetters, 7, "print_aa_ldmatrix", fromLong);
}

void print_aa_vector(double* v, int n) {
    checkAlphabet(n, amLetters, "print_aa_vector");
    for (int i = 1; i <= n; i++) std::printf("%1c %14.12f\n", am[i], v[i]);
}

void print_aa_ivector(int* v, int n) {
    checkAlphabet(n, amLetters, "print_aa_ivector");
    for (int i = 1; i <= n; i++) std::printf("%1c %10d\n", am[i], v[i]);
}

void print_matrix(double** m, int rows, int cols, const char* title) {
    std::printf("%s\n", title);
    for (int i = 1; i <= rows; i++) {
        for (int j = 1; j <= cols; j++) std::printf("%10.4f", m[i][j]);
        std::printf("\n");
    }
}

// ---------------------------------------------------------------------------------------
// Linear systems
// ---------------------------------------------------------------------------------------

void ludcmp(double** a, int n, int* perm, double* sign) {
    double* scale = dvector(1, n);
    *sign = 1.0;
    for (int i = 1; i <= n; i++) {
        double big = 0.0;
        for (int j = 1; j <= n; j++)
            if (std::fabs(a[i][j]) > big) big = std::fabs(a[i][j]);
        if (big == 0.0) nrerror("Singular matrix in routine ludcmp");
        scale[i] = 1.0 / big;
    }
    for (int j = 1; j <= n; j++) {
        for (int i = 1; i < j; i++) {
            double sum = a[i][j];
            for (int k = 1; k < i; k++) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
        }
        double big = 0.0;
        int pivot = j;
        for (int i = j; i <= n; i++) {
            double sum = a[i][j];
            for (int k = 1; k < j; k++) sum -= a[i][k] * a[k][j];
            a[i][j] = sum;
            double candidate = scale[i] * std::fabs(sum);
            if (candidate >= big) {
                big = candidate;
                pivot = i;
            }
        }
        if (pivot != j) {
            for (int k = 1; k <= n; k++) std::swap(a[pivot][k], a[j][k]);
            *sign = -*sign;
            scale[pivot] = scale[j];
        }
        perm[j] = pivot;
        if (a[j][j] == 0.0) nrerror("POSSIBLY SINGULAR MATRIX in ludcmp: FATAL");
        if (j < n) {
            double inverse = 1.0 / a[j][j];
            for (int i = j + 1; i <= n; i++) a[i][j] *= inverse;
        }
    }
    free_dvector(scale, 1, n);
}

void lubksb(double** a, int n, int* perm, double* b) {
    int first = 0;
    for (int i = 1; i <= n; i++) {
        int r = perm[i];
        double sum = b[r];
        b[r] = b[i];
        if (first != 0)
            for (int k = first; k < i; k++) sum -= a[i][k] * b[k];
        else if (sum != 0.0)
            first = i;
        b[i] = sum;
    }
    for (int i = n; i >= 1; i--) {
        double sum = b[i];
        for (int k = i + 1; k <= n; k++) sum -= a[i][k] * b[k];
        b[i] = sum / a[i][i];
    }
}

namespace {

// One decomposition of a copy of a; the caller releases copy and perm.
struct Decomposed {
    double** copy;
    int* perm;
    double sign;
};

Decomposed decomposedCopy(double** a, long n) {
    Decomposed d{mat_duplicate(a, 1, n, 1, n), ivector(1, n), 1.0};
    ludcmp(d.copy, static_cast<int>(n), d.perm, &d.sign);
    return d;
}

void release(Decomposed& d, long n) {
    free_dmatrix(d.copy, 1, n, 1, n);
    free_ivector(d.perm, 1, n);
}

} // namespace

double* LUsolve(double** a, long n, double* b) {
    Decomposed d = decomposedCopy(a, n);
    double* x = vec_duplicate(b, 1, n);
    lubksb(d.copy, static_cast<int>(n), d.perm, x);
    release(d, n);
    return x;
}

double** LUinverse(double** a, long n) {
    Decomposed d = decomposedCopy(a, n);
    double** inverse = dmatrix(1, n, 1, n);
    double* column = dvector(1, n);
    for (long j = 1; j <= n; j++) {
        for (long i = 1; i <= n; i++) column[i] = 0.0;
        column[j] = 1.0;
        lubksb(d.copy, static_cast<int>(n), d.perm, column);
        for (long i = 1; i <= n; i++) inverse[i][j] = column[i];
    }
    free_dvector(column, 1, n);
    release(d, n);
    return inverse;
}

double LUdet(double** a, long n) {
    Decomposed d = decomposedCopy(a, n);
    double det = d.sign;
    for (long j = 1; j <= n; j++) det *= d.copy[j][j];
    release(d, n);
    return det;
}

namespace {

// Gauss-Jordan elimination with full pivoting: a becomes its inverse and, when b is given,
// its m columns become the solutions. firstSingular names the family member.
void gaussJordan(double** a, int n, double** b, int m, const char* firstSingular) {
    int* pivotColumn = ivector(1, n);
    int* pivotRow = ivector(1, n);
    int* pivots = ivector(1, n);
    for (int j = 1; j <= n; j++) pivots[j] = 0;
    for (int i = 1; i <= n; i++) {
        double big = 0.0;
        int row = 1, col = 1;
        for (int j = 1; j <= n; j++) {
            if (pivots[j] == 1) continue;
            for (int k = 1; k <= n; k++) {
                if (pivots[k] == 0) {
                    if (std::fabs(a[j][k]) >= big) {
                        big = std::fabs(a[j][k]);
                        row = j;
                        col = k;
                    }
                } else if (pivots[k] > 1) {
                    nrerror(firstSingular);
                }
            }
        }
        pivots[col]++;
        if (row != col) {
            for (int l = 1; l <= n; l++) std::swap(a[row][l], a[col][l]);
            if (b)
                for (int l = 1; l <= m; l++) std::swap(b[row][l], b[col][l]);
        }
        pivotRow[i] = row;
        pivotColumn[i] = col;
        if (a[col][col] == 0.0) nrerror("gaussj: Singular Matrix-2");
        double inverse = 1.0 / a[col][col];
        a[col][col] = 1.0;
        for (int l = 1; l <= n; l++) a[col][l] *= inverse;
        if (b)
            for (int l = 1; l <= m; l++) b[col][l] *= inverse;
        for (int r = 1; r <= n; r++) {
            if (r == col) continue;
            double factor = a[r][col];
            a[r][col] = 0.0;
            for (int l = 1; l <= n; l++) a[r][l] -= a[col][l] * factor;
            if (b)
                for (int l = 1; l <= m; l++) b[r][l] -= b[col][l] * factor;
        }
    }
    for (int l = n; l >= 1; l--)
        if (pivotRow[l] != pivotColumn[l])
            for (int k = 1; k <= n; k++) std::swap(a[k][pivotRow[l]], a[k][pivotColumn[l]]);
    free_ivector(pivots, 1, n);
    free_ivector(pivotRow, 1, n);
    free_ivector(pivotColumn, 1, n);
}

} // namespace

void gaussj(double** a, int n, double** b, int m) {
    gaussJordan(a, n, b, m, "gaussj: Singular Matrix-1");
}
void linsys_gaussjordan(double** a, int n, double** b, int m) {
    gaussJordan(a, n, b, m, "gaussj:Singular Matrix-1");
}
void inv_gaussjordan(double** a, int n) {
    gaussJordan(a, n, nullptr, 0, "gaussj:Singular Matrix-1");
}

void choldc(double** a, int n, double* p) {
    for (int i = 1; i <= n; i++)
        for (int j = i; j <= n; j++) {
            double sum = a[i][j];
            for (int k = i - 1; k >= 1; k--) sum -= a[i][k] * a[j][k];
            if (i == j) {
                if (sum <= 0.0) nrerror("choldc failed");
                p[i] = std::sqrt(sum);
            } else {
                a[j][i] = sum / p[i];
            }
        }
}

void cholsl(double** a, int n, double* p, double* b, double* x) {
    for (int i = 1; i <= n; i++) {
        double sum = b[i];
        for (int k = i - 1; k >= 1; k--) sum -= a[i][k] * x[k];
        x[i] = sum / p[i];
    }
    for (int i = n; i >= 1; i--) {
        double sum = x[i];
        for (int k = i + 1; k <= n; k++) sum -= a[k][i] * x[k];
        x[i] = sum / p[i];
    }
}

double* CHsolve(double** a, long n, double* b) {
    double* x = dvector(1, n);
    double* p = dvector(1, n);
    double** copy = mat_duplicate(a, 1, n, 1, n);
    print_aa_matrix(copy, static_cast<int>(n));
    choldc(copy, static_cast<int>(n), p);
    cholsl(copy, static_cast<int>(n), p, b, x);
    free_dmatrix(copy, 1, n, 1, n);
    free_dvector(p, 1, n);
    return x;
}

// ---------------------------------------------------------------------------------------
// Singular value decomposition
// ---------------------------------------------------------------------------------------

namespace {

// |magnitude| carrying the sign of of; of == 0 counts as positive.
template <typename T> T withSign(T magnitude, T of) {
    return of >= 0 ? std::fabs(magnitude) : -std::fabs(magnitude);
}

double square(double x) {
    return x * x;
}

// Rotates columns p and q of m over rows 1..rows: (y, z) -> (y c + z s, z c - y s).
void rotateColumns(double** m, int rows, int p, int q, double c, double s) {
    for (int r = 1; r <= rows; r++) {
        double y = m[r][p], z = m[r][q];
        m[r][p] = y * c + z * s;
        m[r][q] = z * c - y * s;
    }
}

// Householder reduction of a to bidiagonal form: diagonal into w, superdiagonal into
// super (super[1] = 0). Returns the largest |w[i]| + |super[i]|, the scale of the
// negligibility tests.
double bidiagonalise(double** a, int m, int n, double* w, double* super) {
    double g = 0.0, scale = 0.0, anorm = 0.0;
    for (int i = 1; i <= n; i++) {
        int l = i + 1;
        super[i] = scale * g;
        g = scale = 0.0;
        if (i <= m) {
            for (int k = i; k <= m; k++) scale += std::fabs(a[k][i]);
            if (scale != 0.0) {
                double s = 0.0;
                for (int k = i; k <= m; k++) {
                    a[k][i] /= scale;
                    s += a[k][i] * a[k][i];
                }
                double f = a[i][i];
                g = -withSign(std::sqrt(s), f);
                double h = f * g - s;
                a[i][i] = f - g;
                for (int j = l; j <= n; j++) {
                    double dot = 0.0;
                    for (int k = i; k <= m; k++) dot += a[k][i] * a[k][j];
                    double factor = dot / h;
                    for (int k = i; k <= m; k++) a[k][j] += factor * a[k][i];
                }
                for (int k = i; k <= m; k++) a[k][i] *= scale;
            }
        }
        w[i] = scale * g;
        g = scale = 0.0;
        if (i <= m && i != n) {
            for (int k = l; k <= n; k++) scale += std::fabs(a[i][k]);
            if (scale != 0.0) {
                double s = 0.0;
                for (int k = l; k <= n; k++) {
                    a[i][k] /= scale;
                    s += a[i][k] * a[i][k];
                }
                double f = a[i][l];
                g = -withSign(std::sqrt(s), f);
                double h = f * g - s;
                a[i][l] = f - g;
                for (int k = l; k <= n; k++) super[k] = a[i][k] / h;
                for (int j = l; j <= m; j++) {
                    double dot = 0.0;
                    for (int k = l; k <= n; k++) dot += a[j][k] * a[i][k];
                    for (int k = l; k <= n; k++) a[j][k] += dot * super[k];
                }
                for (int k = l; k <= n; k++) a[i][k] *= scale;
            }
        }
        anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(super[i]));
    }
    return anorm;
}

// Builds V from the row reflections left in a by bidiagonalise.
void accumulateRight(double** a, int n, const double* super, double** v) {
    double g = 0.0;
    int l = n + 1;
    for (int i = n; i >= 1; i--) {
        if (i < n) {
            if (g != 0.0) {
                for (int j = l; j <= n; j++) v[j][i] = (a[i][j] / a[i][l]) / g;
                for (int j = l; j <= n; j++) {
                    double dot = 0.0;
                    for (int k = l; k <= n; k++) dot += a[i][k] * v[k][j];
                    for (int k = l; k <= n; k++) v[k][j] += dot * v[k][i];
                }
            }
            for (int j = l; j <= n; j++) v[i][j] = v[j][i] = 0.0;
        }
        v[i][i] = 1.0;
        g = super[i];
        l = i;
    }
}

// Turns the column reflections left in a into U, in place.
void accumulateLeft(double** a, int m, int n, const double* w) {
    for (int i = std::min(m, n); i >= 1; i--) {
        int l = i + 1;
        double g = w[i];
        for (int j = l; j <= n; j++) a[i][j] = 0.0;
        if (g != 0.0) {
            g = 1.0 / g;
            for (int j = l; j <= n; j++) {
                double dot = 0.0;
                for (int k = l; k <= m; k++) dot += a[k][i] * a[k][j];
                double f = (dot / a[i][i]) * g;
                for (int k = i; k <= m; k++) a[k][j] += f * a[k][i];
            }
            for (int j = i; j <= m; j++) a[j][i] *= g;
        } else {
            for (int j = i; j <= m; j++) a[j][i] = 0.0;
        }
        a[i][i] += 1.0;
    }
}

// Zeroes super[l] by rotations against w[l-1] when w[l-1] is negligible.
void cancelSuperdiagonal(double** a, int m, double* w, double* super, int l, int k, double anorm) {
    int nm = l - 1;
    double c = 0.0, s = 1.0;
    for (int i = l; i <= k; i++) {
        double f = s * super[i];
        super[i] = c * super[i];
        if (std::fabs(f) + anorm == anorm) break;
        double g = w[i];
        double h = dpythag(f, g);
        w[i] = h;
        h = 1.0 / h;
        c = g * h;
        s = -f * h;
        rotateColumns(a, m, nm, i, c, s);
    }
}

// One implicit-shift QR sweep over the bidiagonal block l..k.
void qrSweep(double** a, int m, int n, double* w, double* super, double** v, int l, int k) {
    double z = w[k];
    double x = w[l];
    int nm = k - 1;
    double y = w[nm];
    double g = super[nm];
    double h = super[k];
    double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
    g = dpythag(f, 1.0);
    f = ((x - z) * (x + z) + h * ((y / (f + withSign(g, f))) - h)) / x;
    double c = 1.0, s = 1.0;
    for (int j = l; j <= nm; j++) {
        int i = j + 1;
        g = super[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = dpythag(f, h);
        super[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y *= c;
        rotateColumns(v, n, j, i, c, s);
        z = dpythag(f, h);
        w[j] = z;
        if (z != 0.0) {
            z = 1.0 / z;
            c = f * z;
            s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotateColumns(a, m, j, i, c, s);
    }
    super[l] = 0.0;
    super[k] = f;
    w[k] = x;
}

} // namespace

double dpythag(double a, double b) {
    double absa = std::fabs(a), absb = std::fabs(b);
    if (absa > absb) return absa * std::sqrt(1.0 + square(absb / absa));
    return absb == 0.0 ? 0.0 : absb * std::sqrt(1.0 + square(absa / absb));
}

void svdcmp(double** a, int m, int n, double* w, double** v) {
    double* super = dvector(1, n);
    double anorm = bidiagonalise(a, m, n, w, super);
    accumulateRight(a, n, super, v);
    accumulateLeft(a, m, n, w);
    for (int k = n; k >= 1; k--) {
        for (int its = 1; its <= 30; its++) {
            // Split point: a negligible superdiagonal element, or a negligible diagonal
            // element just above it (then its superdiagonal is cancelled first).
            int l = k;
            bool cancel = false;
            for (; l >= 1; l--) {
                if (l == 1 || std::fabs(super[l]) + anorm == anorm) break;
                if (std::fabs(w[l - 1]) + anorm == anorm) {
                    cancel = true;
                    break;
                }
            }
            if (cancel) cancelSuperdiagonal(a, m, w, super, l, k, anorm);
            if (l == k) {
                if (w[k] < 0.0) {
                    w[k] = -w[k];
                    for (int j = 1; j <= n; j++) v[j][k] = -v[j][k];
                }
                break;
            }
            if (its == 30) nrerror("no convergence in 30 dsvdcmp iterations");
            qrSweep(a, m, n, w, super, v, l, k);
        }
    }
    free_dvector(super, 1, n);
}

void SVDcmp(double** a, int m, int n, double** u, double* w, double** v) {
    for (int i = 1; i <= m; i++)
        for (int j = 1; j <= n; j++) u[i][j] = a[i][j];
    svdcmp(u, m, n, w, v);
}

void dsvbksb(double** u, double* w, double** v, int m, int n, double* b, double* x) {
    double* t = dvector(1, n);
    for (int j = 1; j <= n; j++) {
        double sum = 0.0;
        if (w[j] != 0.0) {
            for (int i = 1; i <= m; i++) sum += u[i][j] * b[i];
            sum /= w[j];
        }
        t[j] = sum;
    }
    for (int j = 1; j <= n; j++) {
        double sum = 0.0;
        for (int jj = 1; jj <= n; jj++) sum += v[j][jj] * t[jj];
        x[j] = sum;
    }
    free_dvector(t, 1, n);
}

namespace {

struct Decomposition {
    double** u;
    double* w;
    double** v;
    double wmax;
};

Decomposition decomposition(double** a, long m, long n) {
    Decomposition d{dmatrix(1, m, 1, n), dvector(1, n), dmatrix(1, n, 1, n), 0.0};
    SVDcmp(a, static_cast<int>(m), static_cast<int>(n), d.u, d.w, d.v);
    for (long i = 1; i <= n; i++)
        if (d.w[i] > d.wmax) d.wmax = d.w[i];
    return d;
}

void release(Decomposition& d, long m, long n) {
    free_dmatrix(d.u, 1, m, 1, n);
    free_dvector(d.w, 1, n);
    free_dmatrix(d.v, 1, n, 1, n);
}

} // namespace

double* SVDsolve(double** a, long m, long n, double* b) {
    Decomposition d = decomposition(a, m, n);
    double threshold = d.wmax * 1e-12;
    for (long i = 1; i <= n; i++)
        if (d.w[i] < threshold) d.w[i] = 0.0;
    double* x = dvector(1, n);
    dsvbksb(d.u, d.w, d.v, static_cast<int>(m), static_cast<int>(n), b, x);
    release(d, m, n);
    return x;
}

double** SVDinverse(double** a, long m, long n) {
    Decomposition d = decomposition(a, m, n);
    double threshold = d.wmax * 1e-12;
    for (long i = 1; i <= n; i++) {
        // A zero value is refused too: when every value is 0 the threshold is 0 as well.
        if (d.w[i] < threshold || d.w[i] == 0.0) {
            std::printf("The eigenvalue number %ld is %.5E, which is essentially zero\n", i, d.w[i]);
            std::printf("Inverse does not exist.\n");
            std::printf("If you object, study and change SVDinverse routine in matrixalgebra\n\n");
            std::fflush(stdout);
            fatalExit(1);
        }
    }
    double** scaledUT = dmatrix(1, n, 1, m);
    for (long j = 1; j <= n; j++)
        for (long k = 1; k <= m; k++) scaledUT[j][k] = d.u[k][j] / d.w[j];
    double** inverse = dmatrix(1, n, 1, m);
    for (long j = 1; j <= n; j++)
        for (long k = 1; k <= m; k++) {
            double sum = 0.0;
            for (long l = 1; l <= n; l++) sum += d.v[j][l] * scaledUT[l][k];
            inverse[j][k] = sum;
        }
    free_dmatrix(scaledUT, 1, n, 1, m);
    release(d, m, n);
    return inverse;
}

double** svd_inverse(double** u, double* w, double** p, long n) {
    double** winv = dmatrix(1, n, 1, n);
    double** wdiag = dmatrix(1, n, 1, n);
    for (long i = 1; i <= n; i++) {
        if (std::fabs(w[i]) < 1e-13) {
            std::printf("\n one of the eigenvalues is %25.20f\n", w[i]);
            std::fflush(stdout);
            nrerror("Possibly singular matrix");
        }
        for (long j = 1; j <= n; j++) winv[i][j] = wdiag[i][j] = 0.0;
        winv[i][i] = 1.0 / w[i];
        wdiag[i][i] = w[i];
    }
    double** ut = matT(u, 1, n, 1, n);
    double** pt = matT(p, 1, n, 1, n);
    double** winvUt = matXmat(winv, 1, n, 1, n, ut, 1, n, 1, n);
    double** result = matXmat(pt, 1, n, 1, n, winvUt, 1, n, 1, n);
    double** wp = matXmat(wdiag, 1, n, 1, n, p, 1, n, 1, n);
    double** original = matXmat(u, 1, n, 1, n, wp, 1, n, 1, n);
    double** check = matXmat(result, 1, n, 1, n, original, 1, n, 1, n);
    double sum = 0.0;
    for (long i = 1; i <= n; i++)
        for (long j = 1; j <= n; j++) sum += square(check[i][j] - (i == j ? 1.0 : 0.0));
    double error = sum > 0.0 ? std::sqrt(sum) : 0.0;
    for (double** m : {winv, wdiag, ut, pt, winvUt, wp, original, check}) free_dmatrix(m, 1, n, 1, n);
    if (error > 1e-10) nrerror("the precision of inversion is unsatisfactory");
    return result;
}

// ---------------------------------------------------------------------------------------
// Eigenvalues of a general real matrix
// ---------------------------------------------------------------------------------------

namespace {

template <typename T> void balanceMatrix(T** a, int n) {
    bool scaled = true;
    while (scaled) {
        scaled = false;
        for (int i = 1; i <= n; i++) {
            T c = 0, r = 0;
            for (int j = 1; j <= n; j++)
                if (j != i) {
                    c += std::fabs(a[j][i]);
                    r += std::fabs(a[i][j]);
                }
            if (c == 0 || r == 0) continue;
            T f = 1, s = c + r;
            while (c < r / 2) {
                f *= 2;
                c *= 4;
            }
            while (c > r * 2) {
                f /= 2;
                c /= 4;
            }
            if ((c + r) / f < T(0.95) * s) {
                scaled = true;
                T g = 1 / f;
                for (int j = 1; j <= n; j++) a[i][j] *= g;
                for (int j = 1; j <= n; j++) a[j][i] *= f;
            }
        }
    }
}

template <typename T> void reduceToHessenberg(T** a, int n) {
    for (int m = 2; m < n; m++) {
        T x = 0;
        int pivot = m;
        for (int j = m; j <= n; j++)
            if (std::fabs(a[j][m - 1]) > std::fabs(x)) {
                x = a[j][m - 1];
                pivot = j;
            }
        if (pivot != m) {
            for (int j = m - 1; j <= n; j++) std::swap(a[pivot][j], a[m][j]);
            for (int j = 1; j <= n; j++) std::swap(a[j][pivot], a[j][m]);
        }
        if (x == 0) continue;
        for (int i = m + 1; i <= n; i++) {
            T y = a[i][m - 1];
            if (y == 0) continue;
            y /= x;
            a[i][m - 1] = y;
            for (int j = m; j <= n; j++) a[i][j] -= y * a[m][j];
            for (int j = 1; j <= n; j++) a[j][m] += y * a[j][i];
        }
    }
}

// Francis double-shift QR on the Hessenberg matrix a. root is the square root to use (the
// long double variant takes its roots in double precision).
template <typename T, typename Root>
void hessenbergEigenvalues(T** a, int n, T* wr, T* wi, Root root, const char* tooMany) {
    T anorm = std::fabs(a[1][1]);
    for (int i = 2; i <= n; i++)
        for (int j = i - 1; j <= n; j++) anorm += std::fabs(a[i][j]);
    int nn = n;
    T t = 0;
    while (nn >= 1) {
        int its = 0;
        for (;;) {
            int l = nn;
            for (; l >= 2; l--) {
                T s = std::fabs(a[l - 1][l - 1]) + std::fabs(a[l][l]);
                if (s == 0) s = anorm;
                if (std::fabs(a[l][l - 1]) + s == s) break;
            }
            T x = a[nn][nn];
            if (l == nn) {
                wr[nn] = x + t;
                wi[nn] = 0;
                nn--;
                break;
            }
            T y = a[nn - 1][nn - 1];
            T w = a[nn][nn - 1] * a[nn - 1][nn];
            if (l == nn - 1) {
                T p = T(0.5) * (y - x);
                T q = p * p + w;
                T z = root(std::fabs(q));
                x += t;
                if (q >= 0) {
                    z = p + withSign(z, p);
                    wr[nn - 1] = wr[nn] = x + z;
                    if (z != 0) wr[nn] = x - w / z;
                    wi[nn - 1] = wi[nn] = 0;
                } else {
                    wr[nn - 1] = wr[nn] = x + p;
                    wi[nn - 1] = -z;
                    wi[nn] = z;
                }
                nn -= 2;
                break;
            }
            if (its == 30) nrerror(tooMany);
            if (its == 10 || its == 20) {
                t += x;
                for (int i = 1; i <= nn; i++) a[i][i] -= x;
                T s = std::fabs(a[nn][nn - 1]) + std::fabs(a[nn - 1][nn - 2]);
                x = y = T(0.75) * s;
                w = T(-0.4375) * s * s;
            }
            its++;
            // Look for two consecutive small subdiagonal elements to start the sweep at m.
            int m = nn - 2;
            T p = 0, q = 0, r = 0, z = 0;
            for (; m >= l; m--) {
                z = a[m][m];
                r = x - z;
                T s = y - z;
                p = (r * s - w) / a[m + 1][m] + a[m][m + 1];
                q = a[m + 1][m + 1] - z - r - s;
                r = a[m + 2][m + 1];
                s = std::fabs(p) + std::fabs(q) + std::fabs(r);
                p /= s;
                q /= s;
                r /= s;
                if (m == l) break;
                T u = std::fabs(a[m][m - 1]) * (std::fabs(q) + std::fabs(r));
                T v = std::fabs(p) * (std::fabs(a[m - 1][m - 1]) + std::fabs(z) + std::fabs(a[m + 1][m + 1]));
                if (u + v == v) break;
            }
            for (int i = m + 2; i <= nn; i++) {
                a[i][i - 2] = 0;
                if (i != m + 2) a[i][i - 3] = 0;
            }
            for (int k = m; k <= nn - 1; k++) {
                if (k != m) {
                    p = a[k][k - 1];
                    q = a[k + 1][k - 1];
                    r = k != nn - 1 ? a[k + 2][k - 1] : 0;
                    x = std::fabs(p) + std::fabs(q) + std::fabs(r);
                    if (x != 0) {
                        p /= x;
                        q /= x;
                        r /= x;
                    }
                }
                T s = withSign(root(p * p + q * q + r * r), p);
                if (s == 0) continue;
                if (k == m) {
                    if (l != m) a[k][k - 1] = -a[k][k - 1];
                } else {
                    a[k][k - 1] = -s * x;
                }
                p += s;
                x = p / s;
                y = q / s;
                z = r / s;
                q /= p;
                r /= p;
                for (int j = k; j <= nn; j++) {
                    p = a[k][j] + q * a[k + 1][j];
                    if (k != nn - 1) {
                        p += r * a[k + 2][j];
                        a[k + 2][j] -= p * z;
                    }
                    a[k + 1][j] -= p * y;
                    a[k][j] -= p * x;
                }
                int last = std::min(nn, k + 3);
                for (int i = l; i <= last; i++) {
                    p = x * a[i][k] + y * a[i][k + 1];
                    if (k != nn - 1) {
                        p += z * a[i][k + 2];
                        a[i][k + 2] -= p * r;
                    }
                    a[i][k + 1] -= p * q;
                    a[i][k] -= p;
                }
            }
        }
    }
}

double doubleRoot(double x) {
    return std::sqrt(x);
}
long double roundedRoot(long double x) {
    return std::sqrt(static_cast<double>(x));
}

} // namespace

void balanc(double** a, int n) {
    balanceMatrix(a, n);
}
void elmhes(double** a, int n) {
    reduceToHessenberg(a, n);
}
void hqr(double** a, int n, double* wr, double* wi) {
    hessenbergEigenvalues(a, n, wr, wi, doubleRoot, "Too many iterations in hqr");
}
void ldbalanc(long double** a, int n) {
    balanceMatrix(a, n);
}
void ldelmhes(long double** a, int n) {
    reduceToHessenberg(a, n);
}
void ldhqr(long double** a, int n, long double* wr, long double* wi) {
    hessenbergEigenvalues(a, n, wr, wi, roundedRoot, "Too many iterations in ldhqr");
}

void eigenvalues(double** a, long n, double* wr, double* wi) {
    double** copy = mat_duplicate(a, 1, n, 1, n);
    int size = static_cast<int>(n);
    balanc(copy, size);
    elmhes(copy, size);
    hqr(copy, size, wr, wi);
    free_dmatrix(copy, 1, n, 1, n);
}

void ldeigenvalues(long double** a, long n, long double* wr, long double* wi) {
    long double** copy = ldmatrix(1, n, 1, n);
    for (long i = 1; i <= n; i++)
        for (long j = 1; j <= n; j++) copy[i][j] = a[i][j];
    int size = static_cast<int>(n);
    ldbalanc(copy, size);
    ldelmhes(copy, size);
    ldhqr(copy, size, wr, wi);
    releaseMatrix(copy, 1, 1);
}

// ---------------------------------------------------------------------------------------
// Symmetric eigensystem and matrix functions
// ---------------------------------------------------------------------------------------

void tred2(double** a, int n, double* d, double* e) {
    for (int i = n; i >= 2; i--) {
        int l = i - 1;
        double h = 0.0;
        if (l > 1) {
            double scale = 0.0;
            for (int k = 1; k <= l; k++) scale += std::fabs(a[i][k]);
            if (scale == 0.0) {
                e[i] = a[i][l];
            } else {
                for (int k = 1; k <= l; k++) {
                    a[i][k] /= scale;
                    h += a[i][k] * a[i][k];
                }
                double f = a[i][l];
                double g = f >= 0.0 ? -std::sqrt(h) : std::sqrt(h);
                e[i] = scale * g;
                h -= f * g;
                a[i][l] = f - g;
                f = 0.0;
                for (int j = 1; j <= l; j++) {
                    a[j][i] = a[i][j] / h;
                    g = 0.0;
                    for (int k = 1; k <= j; k++) g += a[j][k] * a[i][k];
                    for (int k = j + 1; k <= l; k++) g += a[k][j] * a[i][k];
                    e[j] = g / h;
                    f += e[j] * a[i][j];
                }
                double hh = f / (h + h);
                for (int j = 1; j <= l; j++) {
                    f = a[i][j];
                    e[j] = g = e[j] - hh * f;
                    for (int k = 1; k <= j; k++) a[j][k] -= (f * e[k] + g * a[i][k]);
                }
            }
        } else {
            e[i] = a[i][l];
        }
        d[i] = h;
    }
    d[1] = 0.0;
    e[1] = 0.0;
    for (int i = 1; i <= n; i++) {
        int l = i - 1;
        if (d[i] != 0.0) {
            for (int j = 1; j <= l; j++) {
                double g = 0.0;
                for (int k = 1; k <= l; k++) g += a[i][k] * a[k][j];
                for (int k = 1; k <= l; k++) a[k][j] -= g * a[k][i];
            }
        }
        d[i] = a[i][i];
        a[i][i] = 1.0;
        for (int j = 1; j <= l; j++) a[j][i] = a[i][j] = 0.0;
    }
}

void tqli(double* d, double* e, int n, double** z) {
    for (int i = 2; i <= n; i++) e[i - 1] = e[i];
    e[n] = 0.0;
    for (int l = 1; l <= n; l++) {
        int iter = 0;
        int m;
        do {
            for (m = l; m <= n - 1; m++) {
                double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
                if (std::fabs(e[m]) + dd == dd) break;
            }
            if (m == l) break;
            if (iter == 30) nrerror("Too many iterations in tqli");
            iter++;
            double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
            double r = dpythag(g, 1.0);
            g = d[m] - d[l] + e[l] / (g >= 0.0 ? g + std::fabs(r) : g - std::fabs(r));
            double s = 1.0, c = 1.0, p = 0.0;
            bool underflow = false;
            for (int i = m - 1; i >= l; i--) {
                double f = s * e[i];
                double b = c * e[i];
                r = dpythag(f, g);
                e[i + 1] = r;
                if (r == 0.0) {
                    // The rotation vanished: deflate here and start the step again.
                    d[i + 1] -= p;
                    e[m] = 0.0;
                    underflow = true;
                    break;
                }
                s = f / r;
                c = g / r;
                g = d[i + 1] - p;
                r = (d[i] - g) * s + 2.0 * c * b;
                p = s * r;
                d[i + 1] = g + p;
                g = c * r - b;
                for (int k = 1; k <= n; k++) {
                    f = z[k][i + 1];
                    z[k][i + 1] = s * z[k][i] + c * f;
                    z[k][i] = c * z[k][i] - s * f;
                }
            }
            if (!underflow) {
                d[l] -= p;
                e[l] = g;
                e[m] = 0.0;
            }
        } while (m != l);
    }
}

void eigensystem_symm(double** a, long n, double* d, double** z, double* e) {
    for (long i = 1; i <= n; i++)
        for (long j = 1; j <= n; j++) z[i][j] = a[i][j];
    tred2(z, static_cast<int>(n), d, e);
    tqli(d, e, static_cast<int>(n), z);
}

namespace {

double** productOf(double** a, double** b, long n) {
    return matXmat(a, 1, n, 1, n, b, 1, n, 1, n);
}
long double** productOf(long double** a, long double** b, long n) {
    return ldmatXldmat(a, 1, n, 1, n, b, 1, n, 1, n);
}

// Puts the routine's own new matrix in place of P[i]; the caller's original is not ours to
// release, the routine's earlier products are.
template <typename T> void replaceProjector(T**& current, T** next, char& ours) {
    if (ours) releaseMatrix(current, 1, 1);
    current = next;
    ours = 1;
}

// Sylvester's projectors P[i] = prod over j != i of scale (a - wr[j] I) / (wr[i] - wr[j]).
template <typename T> void buildProjectors(T** a, long n, T*** P, T* wr, T scale, std::vector<char>& ours) {
    T** factor = newMatrix<T>(1, n, 1, n);
    for (long i = 1; i <= n; i++) {
        for (long p = 1; p <= n; p++)
            for (long k = 1; k <= n; k++) P[i][p][k] = p == k ? 1 : 0;
        for (long j = 1; j <= n; j++) {
            if (j == i) continue;
            T diff = wr[i] - wr[j];
            if (std::fabs(diff) <= T(1e-10)) nrerror("not all eigenvalues are different in mat_prepped");
            for (long p = 1; p <= n; p++)
                for (long k = 1; k <= n; k++) factor[p][k] = scale * a[p][k] / diff;
            for (long p = 1; p <= n; p++) factor[p][p] = (a[p][p] - wr[j]) * scale / diff;
            replaceProjector(P[i], productOf(P[i], factor, n), ours[i]);
        }
    }
    releaseMatrix(factor, 1, 1);
}

// R = the sum over i of factor(wr[i]) P[i], the factor computed once per eigenvalue.
template <typename Factor> void sumOfProjectors(double*** P, long n, double* wr, double** R, Factor factor) {
    for (long i = 1; i <= n; i++) {
        double f = factor(wr[i]);
        for (long j = 1; j <= n; j++)
            for (long k = 1; k <= n; k++) R[j][k] = i == 1 ? f * P[i][j][k] : R[j][k] + f * P[i][j][k];
    }
}

} // namespace

void mat_prepped(double** a, long n, double*** P, double* wr, double* wi) {
    // The factors are damped by scale so that the products stay in range; the damping is
    // taken out again in 20 passes over every projector.
    const double scale = 0.9999999;
    eigenvalues(a, n, wr, wi);
    std::vector<char> ours(n + 1, 0);
    buildProjectors(a, n, P, wr, scale, ours);
    for (int pass = 1; pass <= 20; pass++)
        for (long i = 1; i <= n; i++) replaceProjector(P[i], dXmat(1.0 / scale, P[i], 1, n, 1, n), ours[i]);
}

void ldmat_prepped(long double** a, long n, long double*** P, long double* wr, long double* wi) {
    ldeigenvalues(a, n, wr, wi);
    std::printf("done eigenvalues\n");
    std::vector<char> ours(n + 1, 0);
    buildProjectors(a, n, P, wr, 1.0L, ours);
}

void mat_EXP_prepped(double*** P, long n, double* wr, double** R, double t) {
    sumOfProjectors(P, n, wr, R, [t](double lambda) { return std::exp(t * lambda); });
}

void mat_EXPDI_prepped(double*** P, long n, double* wr, double** R, double t) {
    sumOfProjectors(P, n, wr, R, [t](double lambda) { return 1.0 / (1.0 - t * lambda); });
}
