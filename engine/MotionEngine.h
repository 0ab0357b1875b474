#pragma once
// The analysis of one frame step: the frame to gray, the comparison with the
// previous step's gray frame, the changed pixels, their percentage of the
// frame, the centres of the brightened and darkened pixels with the point
// between them, and the movement decision. The engine owns the previous gray
// frame; one engine per stream of frames, no state shared between engines.

#include "analysis/FrameDifferencing.h"
#include "analysis/TBitmap.h"
#include "engine/DetectionMask.h"
#include "engine/FrameView.h"
#include "types/TPoint.h"

#include <cstdint>
#include <memory>
#include <vector>

struct TEngineOptions {
    int PixelTolerance = 20;     // a pixel changed when its gray level moved by more
    int MinimalMovement = 400;   // movement when strictly more pixels changed
    bool WantDifference = false; // keep the difference image (DifferenceImage)
    // Fewer false alarms; each is off by default.
    // A changed pixel counts only when at least this many of its 8 neighbours
    // changed too (0 off .. 8).
    int SpeckleNeighbours = 0;
    // A step in which more than this percentage of the watched pixels changed
    // is a change of light, not movement (0 off).
    int LightGuardPercent = 0;
    // Pixels the mask leaves out never count; the percentage is then of the
    // watched pixels. Null or empty watches every pixel.
    std::shared_ptr<const TDetectionMask> Mask = nullptr;
};

struct TStepResult {
    // False when there was nothing to compare with: no previous frame, or a
    // frame of another size (the stream's format changed). The counts are
    // then 0 and Direction is the previous step's.
    bool Compared = false;
    int ChangedPixels = 0;
    int Percent = 0;                // ChangedPixels * 100 / WatchedPixels, truncated
    std::int64_t WatchedPixels = 0; // the frame's area, less what the mask leaves out
    // Movement: ChangedPixels > MinimalMovement, unless the step is a
    // LightChange (more changed than the light guard allows). The next step
    // compares with this step's frame either way.
    bool Movement = false;
    bool LightChange = false;
    // Counts, change-weighted sums, and (when Centred) the two centres; its
    // Direction is the point between the centres, or the previous step's
    // point when there are not both kinds of change.
    TDifferenceResult Difference;
};

class TMotionEngine {
public:
    // The point the first steps report until both kinds of change are seen.
    static constexpr TPoint InitialDirection{50, 50};

    // The reference for the next step. An empty view keeps the previous frame.
    void TakeReference(const TFrameView& frame);

    // Compares `frame` with the previous frame, which it then replaces (an
    // empty view leaves an empty previous frame). Allocates nothing when the
    // frame's size and format are those of the step before. Throws
    // EInvalidOperation for a view that lacks a plane or has short rows.
    TStepResult Step(const TFrameView& frame, const TEngineOptions& options);

    // The 24-bit difference image of the latest step that asked for it
    // (empty when that step compared nothing).
    const TBitmap& DifferenceImage() const { return FDifference; }
    // The same image to take away by swapping: the engine reuses whatever
    // storage it gets back.
    TBitmap& DifferenceImage() { return FDifference; }
    // The gray frame the next step compares with.
    const TBitmap& PreviousFrame() const { return FPrevious; }
    TPoint LastDirection() const { return FLastDirection; }

    // Forgets the previous frame and the last direction.
    void Reset();

private:
    // Writes the gray picture of `frame` to `target`; false for an empty view.
    bool ToGray(const TFrameView& frame, TBitmap& target);
    void YuvToGray(const TFrameView& frame, TBitmap& target);
    // The frame to compare with the previous one: FCurrent, or FFiltered.
    const TBitmap& Filtered(const TEngineOptions& options, std::uint8_t tolerance);
    // The mask's pixels for the current frame size, null without a mask.
    const std::uint8_t* MaskPixels(const TEngineOptions& options);

    TBitmap FPrevious;
    TBitmap FCurrent;
    TBitmap FDifference;
    TBitmap FRowScratch;
    // The current frame with the pixels that must not count set back to the
    // previous frame's levels, when a filter is on.
    TBitmap FFiltered;
    std::vector<std::uint8_t> FFilterScratch;
    // The mask as pixels for the latest frame size; redrawn when the mask or
    // the size changes.
    std::shared_ptr<const TDetectionMask> FMaskShape;
    TDetectionMask FMaskCopy;
    int FMaskWidth = -1;
    int FMaskHeight = -1;
    std::vector<std::uint8_t> FMaskPixels;
    std::int64_t FMaskWatched = 0;
    std::vector<std::uint8_t> FBgrRow;
    TPoint FLastDirection = InitialDirection;
};
