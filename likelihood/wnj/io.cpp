#include "wnj/io.h"

#include "numerics/matrixalgebra.h"

#include <cstdio>

namespace wnj {

void printError(const char* msg) {
    std::perror("weigbor::io");
    std::fprintf(stderr, "%s\n", msg);
    fatalExit(1);
}

} // namespace wnj
