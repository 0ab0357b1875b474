#pragma once
// What the image operations share: their result codes and the choice between
// the portable code path and the vector paths of the running processor.

#include <array>

#include "types/ResultCodes.h"

enum class TKernelPath {
    Scalar, // portable C++, runs on any processor
    Avx2,   // x86-64 with AVX2 (and POPCNT), chosen at run time
    Avx512, // x86-64 with AVX-512 F, BW, DQ, VL, VBMI and VNNI, chosen at run time
};

// Every path, slowest first; tests and benchmarks walk this list.
constexpr std::array<TKernelPath, 3> AllKernelPaths = {TKernelPath::Scalar, TKernelPath::Avx2,
                                                       TKernelPath::Avx512};

// "Scalar", "AVX2", "AVX512".
const char* KernelPathName(TKernelPath path);

// True when this processor can run the given path.
bool KernelPathSupported(TKernelPath path);

// The fastest path this processor supports; decided once.
TKernelPath BestKernelPath();
