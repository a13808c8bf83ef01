#include "numerics/vectorwidth.h"

// The width is chosen while the program's statics are made, where the processor's features may
// not yet have been read.
bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

VectorWidth vectorWidth = processorHasAvx2() ? VectorWidth::AVX2 : VectorWidth::SSE2;
