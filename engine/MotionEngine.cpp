#include "engine/MotionEngine.h"

#include "analysis/ChangeFilter.h"
#include "analysis/FrameStep.h"
#include "analysis/GrayConversion.h"
#include "engine/YuvConversion.h"

#include <cstring>
#include <utility>

bool TMotionEngine::ToGray(const TFrameView& frame, TBitmap& target) {
    CheckFrameView(frame);
    if (frame.Empty()) {
        return false;
    }
    target.Allocate(frame.Width, frame.Height, pf8bit);
    switch (frame.Format) {
    case TFrameFormat::Bgr24:
        ConvertBgrRowsToGray(frame.Plane[0], static_cast<std::size_t>(frame.Stride[0]),
                             target.ScanLine(0), target.Stride(), frame.Width, frame.Height);
        break;
    case TFrameFormat::Gray8:
        for (int y = 0; y < frame.Height; ++y) {
            std::memcpy(target.ScanLine(y), frame.Plane[0] + std::size_t(y) * frame.Stride[0],
                        static_cast<std::size_t>(frame.Width));
        }
        break;
    case TFrameFormat::I420:
    case TFrameFormat::Nv12:
        YuvToGray(frame, target);
        break;
    }
    return true;
}

// Each row goes to blue-green-red and then through the gray conversion of
// 24-bit frames, so that a YUV frame gives the gray levels of its colours and
// Pixel Tolerance means what it means on a BGR frame. The luma plane alone
// is no substitute: studio-range luma spans 16-235 instead of 0-255, and
// saturated colours differ from their luma by dozens of levels.
void TMotionEngine::YuvToGray(const TFrameView& frame, TBitmap& target) {
    FBgrRow.resize(3 * static_cast<std::size_t>(frame.Width));
    const bool interleaved = frame.Format == TFrameFormat::Nv12;
    for (int y = 0; y < frame.Height; ++y) {
        const std::size_t chromaRow = static_cast<std::size_t>(y / 2);
        const std::uint8_t* luma = frame.Plane[0] + std::size_t(y) * frame.Stride[0];
        const std::uint8_t* u = frame.Plane[1] + chromaRow * frame.Stride[1];
        const std::uint8_t* v = interleaved ? u + 1 : frame.Plane[2] + chromaRow * frame.Stride[2];
        YuvRowToBgr(luma, u, v, interleaved ? 2 : 1, FBgrRow.data(), frame.Width, frame.Colors);
        ConvertBgrRowsToGray(FBgrRow.data(), 0, target.ScanLine(y), 0, frame.Width, 1);
    }
}

void TMotionEngine::TakeReference(const TFrameView& frame) {
    ToGray(frame, FPrevious);
}

const std::uint8_t* TMotionEngine::MaskPixels(const TEngineOptions& options) {
    if (!options.Mask || options.Mask->Empty()) {
        return nullptr;
    }
    const int width = FCurrent.Width();
    const int height = FCurrent.Height();
    // The copy catches a mask changed in place behind the same pointer.
    if (options.Mask != FMaskShape || *options.Mask != FMaskCopy || width != FMaskWidth ||
        height != FMaskHeight) {
        FMaskShape = options.Mask;
        FMaskCopy = *options.Mask;
        FMaskWidth = width;
        FMaskHeight = height;
        FMaskWatched = RasteriseMask(FMaskCopy, width, height, FMaskPixels);
    }
    return FMaskPixels.data();
}

const TBitmap& TMotionEngine::Filtered(const TEngineOptions& options, std::uint8_t tolerance) {
    TChangeFilter filter;
    filter.Neighbours = options.SpeckleNeighbours;
    filter.Mask = MaskPixels(options);
    filter.MaskStride = static_cast<std::size_t>(FCurrent.Width());
    if (!filter.Active() || FilterChanges(FPrevious, FCurrent, tolerance, filter, FFiltered,
                                          FFilterScratch) != ResultDone) {
        return FCurrent;
    }
    return FFiltered;
}

TStepResult TMotionEngine::Step(const TFrameView& frame, const TEngineOptions& options) {
    if (!ToGray(frame, FCurrent)) {
        FCurrent.Clear();
    }
    TStepResult result;
    result.Difference.Direction = FLastDirection;
    const auto tolerance = static_cast<std::uint8_t>(options.PixelTolerance & 0xFF);
    const TBitmap& current = Filtered(options, tolerance);
    const int outcome =
        options.WantDifference
            ? CompareFrames(FPrevious, current, FDifference, tolerance, result.Difference)
            : CountChanges(FPrevious, current, tolerance, result.Difference, FRowScratch);
    result.Compared = outcome == ResultDone;
    if (!result.Compared && options.WantDifference) {
        FDifference.Clear();
    }
    FLastDirection = result.Difference.Direction;
    std::swap(FPrevious, FCurrent);
    const bool masked = options.Mask && !options.Mask->Empty() && FMaskWidth == FPrevious.Width() &&
                        FMaskHeight == FPrevious.Height();
    result.WatchedPixels =
        masked ? FMaskWatched : std::int64_t{FPrevious.Width()} * FPrevious.Height();
    result.ChangedPixels = result.Difference.PositiveCount + result.Difference.NegativeCount;
    result.Percent = MovementPercent(result.ChangedPixels, result.WatchedPixels);
    result.LightChange = options.LightGuardPercent > 0 &&
                         std::int64_t{result.ChangedPixels} * 100 >
                             std::int64_t{options.LightGuardPercent} * result.WatchedPixels;
    result.Movement =
        !result.LightChange && IsMovement(result.ChangedPixels, options.MinimalMovement);
    return result;
}

void TMotionEngine::Reset() {
    FPrevious.Clear();
    FCurrent.Clear();
    FLastDirection = InitialDirection;
}
