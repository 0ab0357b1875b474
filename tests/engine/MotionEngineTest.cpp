// The engine gives the numbers of the frame step's own sequence (gray
// conversion, comparison with the previous gray frame, swap), over views with
// any row stride, and keeps its state per engine.

#include "engine/MotionEngine.h"
#include "analysis/FrameDifferencing.h"
#include "analysis/FrameStep.h"
#include "analysis/GrayConversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// A colour frame with a bright square at (left, top) on a noisy background.
TBitmap Scene(int width, int height, int left, int top, unsigned seed) {
    std::mt19937 random(seed);
    TBitmap frame;
    frame.Allocate(width, height, pf24bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const bool inSquare = x >= left && x < left + 12 && y >= top && y < top + 12;
            for (int c = 0; c < 3; ++c) {
                row[3 * x + c] = static_cast<std::uint8_t>(inSquare ? 230 : random() % 60);
            }
        }
    }
    return frame;
}

// The same pixels with rows `padding` bytes longer than needed.
std::vector<std::uint8_t> Padded(const TBitmap& frame, int padding, TFrameView& view) {
    const int rowBytes = 3 * frame.Width() + padding;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(rowBytes) * frame.Height(), 0xEE);
    for (int y = 0; y < frame.Height(); ++y) {
        std::memcpy(&bytes[std::size_t(y) * rowBytes], frame.ScanLine(y), 3 * frame.Width());
    }
    view = {TFrameFormat::Bgr24, frame.Width(), frame.Height(), {bytes.data()}, {rowBytes}};
    return bytes;
}

// The frame step's sequence written out with the analysis kernels.
struct TReferenceStep {
    TBitmap Previous;
    TBitmap Gray;
    TBitmap Difference;
    TPoint Direction{50, 50};

    TDifferenceResult Step(const TBitmap& frame, int tolerance) {
        ConvertToGray(frame, Gray);
        TDifferenceResult result;
        result.Direction = Direction;
        if (CompareFrames(Previous, Gray, Difference, static_cast<std::uint8_t>(tolerance),
                          result) != 0) {
            Difference.Clear();
        }
        Direction = result.Direction;
        std::swap(Previous, Gray);
        return result;
    }
};

bool SameImage(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) {
        return false;
    }
    const std::size_t rowBytes = std::size_t(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
    for (int y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

TEST(MotionEngine, GivesTheNumbersAndImagesOfTheFrameStepOverPaddedViews) {
    const int width = 101; // odd, so rows end inside a vector block
    const int height = 37;
    TMotionEngine counting;
    TMotionEngine drawing;
    TReferenceStep reference;
    const TBitmap first = Scene(width, height, 0, 0, 1);
    reference.Step(first, 20);
    counting.TakeReference(BitmapView(first));
    drawing.TakeReference(BitmapView(first));
    for (int i = 1; i < 8; ++i) {
        const TBitmap frame = Scene(width, height, 7 * i, 3 * i, 1 + i % 2);
        TFrameView view;
        const auto bytes = Padded(frame, 5 + i, view);
        const int tolerance = 10 * i;
        const TDifferenceResult expected = reference.Step(frame, tolerance);
        const TStepResult counted = counting.Step(view, {tolerance, 30, false});
        const TStepResult drawn = drawing.Step(view, {tolerance, 30, true});
        for (const TStepResult& got : {counted, drawn}) {
            EXPECT_TRUE(got.Compared);
            EXPECT_EQ(got.ChangedPixels, expected.PositiveCount + expected.NegativeCount);
            EXPECT_EQ(got.Percent, MovementPercent(got.ChangedPixels, width * height));
            EXPECT_EQ(got.Movement, got.ChangedPixels > 30);
            EXPECT_EQ(got.Difference.PositiveSumX, expected.PositiveSumX);
            EXPECT_EQ(got.Difference.NegativeSumY, expected.NegativeSumY);
            EXPECT_EQ(got.Difference.Direction.X, expected.Direction.X) << "step " << i;
            EXPECT_EQ(got.Difference.Direction.Y, expected.Direction.Y) << "step " << i;
        }
        EXPECT_TRUE(SameImage(drawing.DifferenceImage(), reference.Difference)) << "step " << i;
        EXPECT_TRUE(SameImage(counting.PreviousFrame(), reference.Previous)) << "step " << i;
    }
}

TEST(MotionEngine, CentresAreTheChangeWeightedMeansAndDirectionLiesBetween) {
    TBitmap dark;
    dark.Allocate(20, 10, pf8bit);
    for (int y = 0; y < 10; ++y) {
        std::memset(dark.ScanLine(y), 100, 20);
    }
    TBitmap moved = dark;
    moved.ScanLine(2)[4] = 200; // brightened
    moved.ScanLine(8)[16] = 0;  // darkened
    moved.ScanLine(8)[18] = 50; // darkened by half as much
    TMotionEngine engine;
    engine.TakeReference(BitmapView(dark));
    const TStepResult result = engine.Step(BitmapView(moved), {20, 2, false});
    ASSERT_TRUE(result.Difference.Centred);
    EXPECT_EQ(result.Difference.PositiveCentre.X, 4);
    EXPECT_EQ(result.Difference.PositiveCentre.Y, 2);
    EXPECT_EQ(result.Difference.NegativeCentre.X, (16 * 100 + 18 * 50) / 150);
    EXPECT_EQ(result.Difference.NegativeCentre.Y, 8);
    EXPECT_EQ(result.Difference.Direction.X, (4 + 16) / 2);
    EXPECT_EQ(result.Difference.Direction.Y, (2 + 8) / 2);
    EXPECT_EQ(result.ChangedPixels, 3);
    EXPECT_TRUE(result.Movement) << "3 pixels are more than a minimum of 2";
    EXPECT_FALSE(engine.Step(BitmapView(moved), {20, 2, false}).Movement) << "nothing moved";
}

TEST(MotionEngine, DeclinesWithoutAPreviousFrameOfTheSameSizeAndKeepsTheDirection) {
    TMotionEngine engine;
    const TBitmap small = Scene(16, 16, 0, 0, 3);
    const TBitmap large = Scene(32, 16, 0, 0, 3);
    TStepResult result = engine.Step(BitmapView(small), {20, 0, true});
    EXPECT_FALSE(result.Compared) << "no reference yet";
    EXPECT_EQ(result.ChangedPixels, 0);
    EXPECT_EQ(result.Difference.Direction.X, 50);
    EXPECT_TRUE(engine.DifferenceImage().Empty());

    result = engine.Step(BitmapView(large), {0, 0, true});
    EXPECT_FALSE(result.Compared) << "the size changed";
    EXPECT_EQ(engine.PreviousFrame().Width(), 32) << "the new size is the next reference";
    EXPECT_TRUE(engine.Step(BitmapView(large), {0, 0, true}).Compared);

    result = engine.Step(TFrameView{}, {0, 0, true});
    EXPECT_FALSE(result.Compared) << "no picture";
    EXPECT_TRUE(engine.PreviousFrame().Empty());
    EXPECT_EQ(result.Percent, 0);

    engine.TakeReference(BitmapView(small));
    engine.TakeReference(TFrameView{});
    EXPECT_EQ(engine.PreviousFrame().Width(), 16) << "a missing reference keeps the old one";
    engine.Reset();
    EXPECT_TRUE(engine.PreviousFrame().Empty());
    EXPECT_EQ(engine.LastDirection().X, 50);
}

} // namespace
