#include "wnj/io.h"

#include "wnj/matrix.h"

#include "numerics/matrixalgebra.h"

#include <cstdlib>
#include <cstring>

namespace wnj {

void printError(const char* msg) {
    std::perror("weigbor::io");
    std::fprintf(stderr, "%s\n", msg);
    fatalExit(1);
}

namespace {

FILE* openOrFail(const char* path, const char* mode, const char* purpose, const char* tag) {
    FILE* file = std::fopen(path, mode);
    if (!file) {
        std::fprintf(stderr, "%s could not be open for %s\n", path, purpose);
        std::perror(tag);
        fatalExit(1);
    }
    return file;
}

// Reads the name of a row into its own allocation.
char* readName(FILE* file) {
    char buffer[96];
    // One byte of the buffer ends the string, so a longer word is read in no more than 95.
    if (std::fscanf(file, "%95s", buffer) != 1) printError("File format error-1");
    char* name = static_cast<char*>(std::malloc(std::strlen(buffer) + 1));
    if (!name) printError("File format error-Out of memory");
    std::strcpy(name, buffer);
    return name;
}

} // namespace

FILE* openRead(const char* path) {
    return openOrFail(path, "r", "reading", "wnj::io::openRead");
}

FILE* openWrite(const char* path) {
    return openOrFail(path, "w", "writing", "wnj::io::openWrite");
}

int readPhylipFile(FILE* file, int* n, double*** D, char*** names) {
    if (std::fscanf(file, "%d", n) != 1) return 0;
    int count = *n;
    *names =
        static_cast<char**>(std::malloc(sizeof(char*) * static_cast<std::size_t>(count > 0 ? count : 1)));
    if (!*names) printError("File format error-Out of memory");
    double** m = matrix(count);
    bool triangle = false;
    for (int i = 0; i < count; i++) {
        (*names)[i] = readName(file);
        int columns = triangle ? i + 1 : count;
        for (int j = 0; j < columns; j++) {
            if (std::fscanf(file, "%lf", &m[i][j]) == 1) continue;
            // A row may end at its diagonal (or just after it on the first row of a triangle).
            if (j != i && (triangle || j != i + 1)) printError("File format error-2");
            triangle = true;
            break;
        }
    }
    for (int i = 0; i < count; i++)
        for (int j = 0; j < i; j++) m[j][i] = m[i][j];
    *D = m;
    return 1;
}

} // namespace wnj
