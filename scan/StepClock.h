#pragma once
// Which frames a scan compares: the first frame at or after each multiple of
// the step in the video's time. A step of 0 takes every frame. The rule looks
// at a frame's time only, so the filter in front of a decoder and the reader
// behind it agree on the frames they keep.

#include <cstdint>

class TStepClock {
public:
    explicit TStepClock(std::int64_t stepNs) : StepNs(stepNs) {}

    // True when the frame at this time is taken; the clock then moves on to
    // the next multiple of the step after it.
    bool Take(std::int64_t timeNs) {
        if (StepNs <= 0) {
            return true;
        }
        if (Started && timeNs < DueNs) {
            return false;
        }
        Started = true;
        const std::int64_t multiple = timeNs >= 0 ? timeNs / StepNs + 1 : 0;
        DueNs = multiple * StepNs;
        return true;
    }

private:
    std::int64_t StepNs;
    std::int64_t DueNs = 0;
    bool Started = false;
};
