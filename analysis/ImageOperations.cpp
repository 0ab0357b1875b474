#include "analysis/ImageOperations.h"

const char* KernelPathName(TKernelPath path) {
    switch (path) {
    case TKernelPath::Scalar:
        return "Scalar";
    case TKernelPath::Avx2:
        return "AVX2";
    case TKernelPath::Avx512:
        return "AVX512";
    }
    return "?";
}

bool KernelPathSupported(TKernelPath path) {
    switch (path) {
    case TKernelPath::Scalar:
        return true;
    case TKernelPath::Avx2:
#if defined(__x86_64__)
        __builtin_cpu_init(); // callable before main, e.g. from static initialisers
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
#else
        return false;
#endif
    case TKernelPath::Avx512:
#if defined(__x86_64__)
        // The run-time library also checks that the system saves the
        // AVX-512 registers.
        __builtin_cpu_init();
        return KernelPathSupported(TKernelPath::Avx2) && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
               __builtin_cpu_supports("avx512vnni");
#else
        return false;
#endif
    }
    return false;
}

TKernelPath BestKernelPath() {
    static const TKernelPath best = [] {
        TKernelPath fastest = TKernelPath::Scalar;
        for (TKernelPath path : AllKernelPaths) {
            if (KernelPathSupported(path)) {
                fastest = path;
            }
        }
        return fastest;
    }();
    return best;
}
