// The vector instructions the kernels use, chosen when the program starts: AVX2 where the
// processor has it, SSE2 (which every x86-64 processor has) otherwise, so that one portable
// build serves every machine. Both give the same values to the bit: each lane does what the
// plain arithmetic does, in the same order, without fused multiply-add.
#ifndef NUMERICS_VECTORWIDTH_H
#define NUMERICS_VECTORWIDTH_H

enum class VectorWidth { SSE2, AVX2 };

// The processor's widest, unless a test has chosen one to compare the paths.
extern VectorWidth vectorWidth;

// Whether the processor can run the AVX2 kernels.
bool processorHasAvx2();

#endif
