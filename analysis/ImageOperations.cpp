#include "analysis/ImageOperations.h"

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
    }
    return false;
}

TKernelPath BestKernelPath() {
    static const TKernelPath best =
        KernelPathSupported(TKernelPath::Avx2) ? TKernelPath::Avx2 : TKernelPath::Scalar;
    return best;
}
