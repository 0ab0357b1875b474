#pragma once
// For the files that implement the image kernels: the x86 intrinsics, the
// target attributes of the vector paths, and the choice of one function per
// code path. Only the kernels' own .cpp files include this.

#include "analysis/ImageOperations.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define STIRWATCH_X86 1
// Functions of the vector paths are compiled for their instruction sets
// only; they run only after KernelPathSupported said yes.
#define STIRWATCH_TARGET_AVX2 __attribute__((target("avx2,popcnt")))
#define STIRWATCH_TARGET_AVX512                                                                    \
    __attribute__((target("avx2,popcnt,avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,"             \
                          "avx512vnni")))
// A vector-path function, or no function where the processor family has none.
#define STIRWATCH_X86_ONLY(function) function
#else
#define STIRWATCH_X86_ONLY(function) nullptr
#endif

// Around the vector code: GCC 12 takes the deliberately undefined vectors
// inside several AVX-512 intrinsics for uninitialised variables. Clang has no
// such warning (and would warn about the unknown option instead).
#if defined(__clang__)
#define STIRWATCH_VECTOR_CODE_BEGIN
#define STIRWATCH_VECTOR_CODE_END
#else
#define STIRWATCH_VECTOR_CODE_BEGIN                                                                \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define STIRWATCH_VECTOR_CODE_END _Pragma("GCC diagnostic pop")
#endif

// One implementation of a kernel per code path; a path without one of its
// own falls back to the next slower path that has one.
template <class TFunction> struct TKernelSet {
    TFunction Scalar;
    TFunction Avx2 = nullptr;
    TFunction Avx512 = nullptr;

    // The implementation for the path, the portable one when the processor
    // cannot run the path.
    TFunction For(TKernelPath path) const {
        if (!KernelPathSupported(path)) {
            return Scalar;
        }
        switch (path) {
        case TKernelPath::Avx512:
            if (Avx512) {
                return Avx512;
            }
            [[fallthrough]];
        case TKernelPath::Avx2:
            if (Avx2) {
                return Avx2;
            }
            [[fallthrough]];
        case TKernelPath::Scalar:
            break;
        }
        return Scalar;
    }
};
