#pragma once
// The code paths this CPU can run, so that every test covers each of them.

#include "analysis/ImageOperations.h"

#include <vector>

inline std::vector<TKernelPath> SupportedPaths() {
    std::vector<TKernelPath> paths;
    for (TKernelPath path : AllKernelPaths) {
        if (KernelPathSupported(path)) {
            paths.push_back(path);
        }
    }
    return paths;
}
