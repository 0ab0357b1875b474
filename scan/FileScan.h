#pragma once
// The scan of one recording: decode, run every taken frame through the
// detector, and keep the steps.

#include "scan/ScanEvents.h"
#include "scan/VideoDecoder.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct TScanSettings {
    int PixelTolerance = 20;
    int MinimalMovement = 400;
    // 0 compares every frame.
    std::int64_t StepNs = 250000000;
};

// What a scan shows while it runs; written by the scan, read by the
// progress display on another thread.
struct TScanProgress {
    std::atomic<double> Fraction{0};
    std::atomic<std::int64_t> FramesSeen{0};
    std::atomic<bool> Started{false};
    std::atomic<bool> Finished{false};
};

struct TFileScan {
    std::vector<TStepRecord> Steps;
    std::int64_t VideoEndNs = 0;
    std::int64_t FramesSeen = 0;
    TCreationTime Creation;
    // Empty when the whole file was read; otherwise why it stopped. Steps
    // taken before a failure are kept.
    std::string Failure;
};

TFileScan ScanFile(const std::string& path, const TScanSettings& settings, TScanProgress& progress);
