#pragma once
// The frame rate a source really has: the rate its caps give, or, where they
// give none (framerate 0/1: many network and some USB cameras), the rate its
// frames' times show. The event encoder's key-frame interval, bit rate and
// frame durations follow it, so that half a second between key frames is
// half a second for a 10 fps camera as for a 30 fps one.

#include <gst/gst.h>
#include <gst/video/video.h>

#include <array>
#include <cstddef>

class TSourceRate {
public:
    // The gaps measured when the caps give no rate: the median of this many.
    static constexpr std::size_t MeasuredGaps = 9;

    // Starts again for a source of this format.
    void Reset(const GstVideoInfo& info);
    // The time of the next frame, rising (only read while measuring).
    void Add(GstClockTime time);
    // Frames per second; 0 while the times are still being measured.
    double FramesPerSecond() const { return FRate; }
    // True when the rate was measured rather than given by the caps.
    bool Measured() const { return FMeasured; }

private:
    double FRate = 0;
    bool FMeasured = false;
    GstClockTime FLast = GST_CLOCK_TIME_NONE;
    std::array<GstClockTime, MeasuredGaps> FGaps{};
    std::size_t FCount = 0;
};
