#pragma once
// The scan of one recording: decode, run every taken frame through the
// detector, and keep the steps.

#include "engine/DetectionMask.h"
#include "scan/ScanEvents.h"
#include "scan/VideoDecoder.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TScanSettings {
    int PixelTolerance = 20;
    int MinimalMovement = 400;
    // 0 compares every frame.
    std::int64_t StepNs = 250000000;
    // Against false alarms, as in the engine's options; all off by default.
    int SpeckleNeighbours = 0;
    int LightGuardPercent = 0;
    std::shared_ptr<const TDetectionMask> Mask = nullptr;
};

// What a scan shows while it runs; written by the scan, read by the
// progress display on another thread.
struct TScanProgress : TDecodeProgress {
    // The file's share of all files (its size), for the overall progress.
    double Weight = 1;
    std::atomic<bool> Started{false};
    // When the scan started, on the steady clock.
    std::atomic<std::chrono::steady_clock::rep> StartTicks{0};
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
