#include "events/SourceRate.h"

#include <algorithm>

namespace {

// Rates outside these are taken for broken times, not for a camera.
constexpr double LowestRate = 1.0;
constexpr double HighestRate = 240.0;

} // namespace

void TSourceRate::Reset(const GstVideoInfo& info) {
    FLast = GST_CLOCK_TIME_NONE;
    FCount = 0;
    FMeasured = false;
    FRate = 0;
    if (GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0) {
        FRate = static_cast<double>(GST_VIDEO_INFO_FPS_N(&info)) / GST_VIDEO_INFO_FPS_D(&info);
    }
}

// The median gap, so that a frame late or dropped on the way does not set the rate.
void TSourceRate::Add(GstClockTime time) {
    if (FRate > 0) {
        return;
    }
    if (GST_CLOCK_TIME_IS_VALID(FLast) && time > FLast) {
        FGaps[FCount++] = time - FLast;
    }
    FLast = time;
    if (FCount < MeasuredGaps) {
        return;
    }
    std::nth_element(FGaps.begin(), FGaps.begin() + MeasuredGaps / 2, FGaps.end());
    const double rate = static_cast<double>(GST_SECOND) / FGaps[MeasuredGaps / 2];
    FRate = std::clamp(rate, LowestRate, HighestRate);
    FMeasured = true;
}
