#include "app/RunningSize.h"

#include "types/Exception.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

int ClampToInt(double value) {
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

} // namespace

int RunningSizeFor(int runningWindowMs, int capturePeriodMs) {
    if (capturePeriodMs == 0) {
        if (runningWindowMs == 0) {
            throw EInvalidOp("Invalid floating point operation");
        }
        throw EZeroDivide("Floating point division by zero");
    }
    const double frames = static_cast<double>(runningWindowMs) / capturePeriodMs;
    const int previousMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(frames);
    std::fesetround(previousMode);
    return ClampToInt(rounded);
}
