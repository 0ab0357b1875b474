#pragma once
// What the image operations share: their result codes and the choice between
// the portable code path and the vector path of the running processor.

#include "types/ResultCodes.h"

enum class TKernelPath {
    Scalar, // portable C++, runs on any processor
    Avx2,   // x86-64 with AVX2 (and POPCNT), chosen at run time
};

// True when this processor can run the given path.
bool KernelPathSupported(TKernelPath path);

// The fastest path this processor supports; decided once.
TKernelPath BestKernelPath();
