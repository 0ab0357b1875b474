// The engine's false-alarm options: the mask, the light guard and the speckle
// filter, on scenes drawn here.

#include "engine/MotionEngine.h"
#include "types/Exception.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

// A gray frame of one level with a bright 16 x 16 ball at (left, top).
TBitmap Ball(int width, int height, int left, int top, std::uint8_t background = 60) {
    TBitmap frame;
    frame.Allocate(width, height, pf8bit);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.ScanLine(y);
        std::memset(row, background, std::size_t(width));
        if (y >= top && y < top + 16) {
            std::memset(row + left, 230, 16);
        }
    }
    return frame;
}

std::shared_ptr<const TDetectionMask> LeftHalf(TMaskMode mode) {
    return std::make_shared<TDetectionMask>(
        ParseMask(std::string(mode == TMaskMode::Ignore ? "ignore" : "watch") +
                  "\n# the left half\n0,0 0.5,0 0.5,1 0,1\n"));
}

TStepResult Move(TMotionEngine& engine, const TBitmap& from, const TBitmap& to,
                 const TEngineOptions& options) {
    engine.TakeReference(BitmapView(from));
    return engine.Step(BitmapView(to), options);
}

TEST(EngineMask, ABallInAnIgnoredAreaIsNoMovementOutsideItIs) {
    TMotionEngine engine;
    TEngineOptions options{20, 50, true};
    options.Mask = LeftHalf(TMaskMode::Ignore);
    TStepResult inside = Move(engine, Ball(160, 120, 10, 50), Ball(160, 120, 40, 50), options);
    EXPECT_EQ(inside.ChangedPixels, 0);
    EXPECT_FALSE(inside.Movement);
    EXPECT_EQ(inside.WatchedPixels, 80 * 120);
    const TStepResult outside =
        Move(engine, Ball(160, 120, 90, 50), Ball(160, 120, 120, 50), options);
    EXPECT_EQ(outside.ChangedPixels, 2 * 16 * 16);
    EXPECT_TRUE(outside.Movement);
    EXPECT_EQ(outside.Percent, 2 * 16 * 16 * 100 / (80 * 120)) << "of the watched pixels";
    // Watching only the left half turns both around.
    options.Mask = LeftHalf(TMaskMode::WatchOnly);
    inside = Move(engine, Ball(160, 120, 10, 50), Ball(160, 120, 40, 50), options);
    EXPECT_EQ(inside.ChangedPixels, 2 * 16 * 16);
    EXPECT_EQ(Move(engine, Ball(160, 120, 90, 50), Ball(160, 120, 120, 50), options).ChangedPixels,
              0);
}

TEST(EngineMask, StaysInPlaceAcrossAFormatChange) {
    TMotionEngine engine;
    TEngineOptions options{20, 50, false};
    options.Mask = LeftHalf(TMaskMode::Ignore);
    EXPECT_EQ(Move(engine, Ball(160, 120, 10, 50), Ball(160, 120, 40, 50), options).ChangedPixels,
              0);
    EXPECT_FALSE(engine.Step(BitmapView(Ball(320, 240, 20, 100)), options).Compared);
    // At double the size the left 160 columns are ignored.
    TStepResult step = engine.Step(BitmapView(Ball(320, 240, 100, 100)), options);
    EXPECT_EQ(step.ChangedPixels, 0);
    EXPECT_EQ(step.WatchedPixels, 160 * 240);
    step = engine.Step(BitmapView(Ball(320, 240, 200, 100)), options);
    EXPECT_EQ(step.ChangedPixels, 16 * 16) << "only where the ball arrives";
}

TEST(EngineMask, TextFormRoundTripsAndNamesFaultyLines) {
    const TDetectionMask mask = ParseMask("watch\n0.1,0.2 0.5,0.2 0.5,0.75\n\n0,0 1,0 1,1 0,1\n");
    EXPECT_EQ(mask.Mode, TMaskMode::WatchOnly);
    ASSERT_EQ(mask.Polygons.size(), 2u);
    EXPECT_EQ(ParseMask(MaskText(mask)), mask);
    EXPECT_TRUE(ParseMask("# nothing yet\nignore\n").Empty());
    EXPECT_THROW(ParseMask("ignore\n0,0 1,1\n"), EInvalidOperation) << "two points";
    try {
        ParseMask("ignore\n0,0 1,x 1,1\n");
        FAIL();
    } catch (const EInvalidOperation& fault) {
        EXPECT_NE(std::string(fault.what()).find("line 2"), std::string::npos) << fault.what();
    }
}

TEST(EngineLightGuard, ABrightnessStepIsGuardedAndTheNextStepIsQuiet) {
    TMotionEngine engine;
    TEngineOptions options{20, 50, true};
    options.LightGuardPercent = 60;
    engine.TakeReference(BitmapView(Ball(160, 120, 10, 50, 60)));
    TStepResult step = engine.Step(BitmapView(Ball(160, 120, 10, 50, 140)), options);
    EXPECT_TRUE(step.LightChange);
    EXPECT_FALSE(step.Movement);
    EXPECT_GT(step.Percent, 60);
    // The lit picture is the next reference: nothing more to report.
    step = engine.Step(BitmapView(Ball(160, 120, 10, 50, 140)), options);
    EXPECT_FALSE(step.LightChange);
    EXPECT_EQ(step.ChangedPixels, 0);
    // Movement in the lit picture counts again.
    step = engine.Step(BitmapView(Ball(160, 120, 60, 50, 140)), options);
    EXPECT_TRUE(step.Movement);
    EXPECT_FALSE(step.LightChange);
    // Off, the same brightness step is movement.
    options.LightGuardPercent = 0;
    EXPECT_TRUE(
        Move(engine, Ball(160, 120, 10, 50, 60), Ball(160, 120, 10, 50, 140), options).Movement);
}

TEST(EngineSpeckle, SingleChangedPixelsDoNotCountAtThreeNeighbours) {
    TBitmap noisy = Ball(64, 48, 20, 20);
    for (int i = 0; i < 40; ++i) {
        noisy.ScanLine(i % 12)[(i * 7) % 64] = 200; // lone pixels in the top rows
    }
    TMotionEngine engine;
    TEngineOptions options{20, 10, true};
    EXPECT_EQ(Move(engine, Ball(64, 48, 20, 20), noisy, options).ChangedPixels, 40);
    options.SpeckleNeighbours = 3;
    const TStepResult filtered = Move(engine, Ball(64, 48, 20, 20), noisy, options);
    EXPECT_EQ(filtered.ChangedPixels, 0);
    EXPECT_FALSE(filtered.Movement);
    EXPECT_EQ(engine.PreviousFrame().ScanLine(0)[0], 200) << "the next step sees the real frame";
}

} // namespace
