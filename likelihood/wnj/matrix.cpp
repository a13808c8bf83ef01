#include "wnj/matrix.h"

#include "numerics/matrixalgebra.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace wnj {

namespace {

// count zeroed elements of the given size; nullptr (errno ENOMEM) when the byte count
// does not fit in size_t or the request is refused.
void* zeroedBlock(std::size_t count, std::size_t size) {
    if (size != 0 && count > SIZE_MAX / size) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::calloc(count == 0 ? 1 : count, size);
}

[[noreturn]] void allocationFailure(const char* tag) {
    std::perror(tag);
    fatalExit(1);
}

} // namespace

double** matrix(int n) {
    std::size_t rows = n > 0 ? static_cast<std::size_t>(n) : 0;
    double** m = static_cast<double**>(zeroedBlock(rows, sizeof(double*)));
    if (!m) allocationFailure("wnj::matrix::matrix(1)");
    std::size_t elements = rows != 0 && rows > SIZE_MAX / rows ? SIZE_MAX : rows * rows;
    double* block = static_cast<double*>(zeroedBlock(elements, sizeof(double)));
    if (!block) allocationFailure("wnj::matrix::matrix(2)");
    for (std::size_t i = 0; i < rows; i++) m[i] = block + i * rows;
    if (rows == 0) m[0] = block;
    return m;
}

void freeMatrix(double** m) {
    std::free(m[0]);
    std::free(m);
}

double* vector(int n) {
    double* v = static_cast<double*>(zeroedBlock(n > 0 ? static_cast<std::size_t>(n) : 0, sizeof(double)));
    if (!v) allocationFailure("wnj::matrix::vector");
    return v;
}

void freeVector(double* v) {
    std::free(v);
}

void setMM(int n, double** from, double** to) {
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) to[i][j] = from[i][j];
}

void delRowCol(int n, double** m, int k) {
    for (int i = 0; i < n; i++) m[i][k] = m[k][i] = 0.0;
    m[k][k] = 1.0;
}

void printMatrix(int n, double** m) {
    std::printf("\t[");
    for (int i = 0; i < n; i++) {
        if (i > 0) std::printf("\n\t ");
        for (int j = 0; j < n; j++) {
            const char* format = j < n - 1 ? "%10.7f, " : i < n - 1 ? "%10.7f; " : "%10.7f]";
            std::printf(format, m[i][j]);
        }
    }
    std::printf("\n");
}

void printVector(int n, double* v) {
    std::printf("\t[");
    for (int i = 0; i < n; i++) std::printf(i < n - 1 ? "%10.7f, " : "%10.7f]\n\n", v[i]);
}

} // namespace wnj
