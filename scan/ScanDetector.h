#pragma once
// The detector of a scan: one frame step on a decoded frame, with the
// meaning of Pixel Tolerance and Minimal Movement of the main window.

#include "scan/FrameView.h"

#include <cstdint>
#include <memory>

struct TStepMeasure {
    int ChangedPixels = 0;
    int Percent = 0;
    bool Movement = false;
};

class TScanDetector {
public:
    TScanDetector(int pixelTolerance, int minimalMovement);
    ~TScanDetector();
    TScanDetector(const TScanDetector&) = delete;
    TScanDetector& operator=(const TScanDetector&) = delete;

    // The first frame becomes the frame to compare against.
    void TakeReference(const TDecodedFrame& frame);
    // Compares the frame with the one before and keeps it for the next step.
    TStepMeasure Step(const TDecodedFrame& frame);

private:
    struct TState;
    std::unique_ptr<TState> State;
};
