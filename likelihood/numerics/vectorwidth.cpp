#include "numerics/vectorwidth.h"

bool processorHasAvx2() {
    return __builtin_cpu_supports("avx2");
}

VectorWidth vectorWidth = processorHasAvx2() ? VectorWidth::AVX2 : VectorWidth::SSE2;
