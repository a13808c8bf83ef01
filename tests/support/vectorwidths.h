// Test support: a test body run under every vector width this processor has, with the width
// the process chose restored after it.
#ifndef TESTS_SUPPORT_VECTORWIDTHS_H
#define TESTS_SUPPORT_VECTORWIDTHS_H

#include "numerics/vectorwidth.h"

namespace testsupport {

inline const char* widthName(VectorWidth width) {
    return width == VectorWidth::AVX2 ? "AVX2" : "SSE2";
}

// body(width) with vectorWidth set to width, SSE2 first, then AVX2 where the processor has it.
template <typename Body> void forEachVectorWidth(Body body) {
    VectorWidth kept = vectorWidth;
    for (VectorWidth width : {VectorWidth::SSE2, VectorWidth::AVX2}) {
        if (width == VectorWidth::AVX2 && !processorHasAvx2()) continue;
        vectorWidth = width;
        body(width);
    }
    vectorWidth = kept;
}

} // namespace testsupport

#endif
