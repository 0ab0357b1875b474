#include "scan/ScanDetector.h"

#include "analysis/FrameDifferencing.h"
#include "analysis/FrameStep.h"
#include "analysis/GrayConversion.h"
#include "analysis/TBitmap.h"

#include <cstring>
#include <utility>

struct TScanDetector::TState {
    int Tolerance;
    int MinimalMovement;
    TBitmap Previous;
    TBitmap Gray;
    TBitmap Colour;
    TBitmap Difference;

    void ToGray(const TDecodedFrame& frame, TBitmap& gray) {
        if (frame.Layout == TFrameLayout::Bgr24) {
            Colour.Allocate(frame.Width, frame.Height, pf24bit);
            for (int y = 0; y < frame.Height; ++y) {
                std::memcpy(Colour.ScanLine(y), frame.Planes[0] + std::ptrdiff_t(y) * frame.Strides[0],
                            std::size_t(frame.Width) * 3);
            }
            ConvertToGray(Colour, gray);
            return;
        }
        gray.Allocate(frame.Width, frame.Height, pf8bit);
        for (int y = 0; y < frame.Height; ++y) {
            std::memcpy(gray.ScanLine(y), frame.Planes[0] + std::ptrdiff_t(y) * frame.Strides[0],
                        std::size_t(frame.Width));
        }
    }
};

TScanDetector::TScanDetector(int pixelTolerance, int minimalMovement)
    : State(std::make_unique<TState>()) {
    State->Tolerance = pixelTolerance;
    State->MinimalMovement = minimalMovement;
}

TScanDetector::~TScanDetector() = default;

void TScanDetector::TakeReference(const TDecodedFrame& frame) {
    State->ToGray(frame, State->Previous);
}

TStepMeasure TScanDetector::Step(const TDecodedFrame& frame) {
    TState& s = *State;
    s.ToGray(frame, s.Gray);
    TDifferenceResult result;
    TStepMeasure measure;
    if (CompareFrames(s.Previous, s.Gray, s.Difference, std::uint8_t(s.Tolerance & 0xFF),
                      result) == 0) {
        measure.ChangedPixels = result.PositiveCount + result.NegativeCount;
    }
    std::swap(s.Previous, s.Gray);
    measure.Percent = MovementPercent(
        measure.ChangedPixels, std::int64_t(s.Previous.Width()) * s.Previous.Height());
    measure.Movement = IsMovement(measure.ChangedPixels, s.MinimalMovement);
    return measure;
}
