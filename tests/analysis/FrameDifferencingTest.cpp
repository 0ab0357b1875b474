#include "analysis/FrameDifferencing.h"
#include "tests/analysis/KernelPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

TBitmap GrayFrame(int width, int height, std::uint8_t level = 0) {
    TBitmap frame;
    frame.SetPixelFormat(pf8bit);
    frame.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        std::fill_n(frame.ScanLine(y), width, level);
    }
    return frame;
}

TBitmap GrayRow(const std::vector<int>& levels) {
    TBitmap frame = GrayFrame(static_cast<int>(levels.size()), 1);
    std::copy(levels.begin(), levels.end(), frame.ScanLine(0));
    return frame;
}

constexpr TColor Red(int level) {
    return static_cast<TColor>(level);
}
constexpr TColor Blue(int level) {
    return static_cast<TColor>(level) << 16;
}
constexpr TColor Gray192 = 0xC0C0C0;

bool SameResult(const TDifferenceResult& a, const TDifferenceResult& b) {
    return a.PositiveCount == b.PositiveCount && a.NegativeCount == b.NegativeCount &&
           a.PositiveSumX == b.PositiveSumX && a.PositiveSumY == b.PositiveSumY &&
           a.NegativeSumX == b.NegativeSumX && a.NegativeSumY == b.NegativeSumY &&
           a.Direction.X == b.Direction.X && a.Direction.Y == b.Direction.Y;
}

void ExpectAllPixels(const TBitmap& image, TColor colour) {
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            ASSERT_EQ(image.Pixel(x, y), colour) << "pixel " << x << ", " << y;
        }
    }
}

} // namespace

TEST(CompareFrames, EqualFramesAreWhiteOrAllGrayAtZeroTolerance) {
    const TBitmap frame = GrayFrame(37, 5, 90);
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        result.Direction = {7, 8};
        result.PositiveSumX = 99;
        EXPECT_EQ(CompareFrames(frame, frame, difference, 20, result, path), ResultDone);
        EXPECT_EQ(difference.PixelFormat(), pf24bit);
        EXPECT_EQ(difference.Width(), 37);
        EXPECT_EQ(difference.Height(), 5);
        ExpectAllPixels(difference, clWhite);
        TDifferenceResult expected;
        expected.Direction = {7, 8};
        EXPECT_TRUE(SameResult(result, expected));

        EXPECT_EQ(CompareFrames(frame, frame, difference, 0, result, path), ResultDone);
        ExpectAllPixels(difference, Gray192);
        EXPECT_EQ(result.PositiveCount + result.NegativeCount, 0);
    }
}

// Brightened and darkened cases in separate frames, so that no markers cover them.
TEST(CompareFrames, PixelColoursAtTheToleranceAndChannelWrapAround) {
    struct TCase {
        int Before, After;
        TColor Colour;
    };
    const std::vector<TCase> brightening = {
        {100, 120, Gray192}, {120, 100, clWhite}, {100, 100, clWhite}, {100, 121, Red(149)},
        {0, 127, Red(255)},  {0, 128, Red(0)},    {0, 255, Red(127)},  {119, 100, clWhite},
    };
    const std::vector<TCase> darkening = {
        {121, 100, Blue(149)}, {127, 0, Blue(255)}, {128, 0, Blue(0)},
        {255, 0, Blue(127)},   {100, 120, Gray192}, {101, 100, clWhite},
    };
    for (const auto* cases : {&brightening, &darkening}) {
        std::vector<int> before, after;
        for (int i = 0; i < 130; ++i) {
            const TCase& c = (*cases)[i % cases->size()];
            before.push_back(c.Before);
            after.push_back(c.After);
        }
        for (TKernelPath path : SupportedPaths()) {
            TBitmap difference;
            TDifferenceResult result;
            ASSERT_EQ(CompareFrames(GrayRow(before), GrayRow(after), difference, 20, result, path),
                      ResultDone);
            int brightened = 0, darkened = 0;
            for (int x = 0; x < 130; ++x) {
                const TCase& c = (*cases)[x % cases->size()];
                EXPECT_EQ(difference.Pixel(x, 0), c.Colour)
                    << c.Before << " -> " << c.After << " path " << KernelPathName(path);
                brightened += c.After - c.Before > 20;
                darkened += c.After - c.Before < -20;
            }
            EXPECT_EQ(result.PositiveCount, brightened);
            EXPECT_EQ(result.NegativeCount, darkened);
        }
    }
}

TEST(CompareFrames, FourPixelExampleGivesCentresDirectionAndClippedMarkers) {
    const TBitmap previous = GrayRow({100, 100, 100, 100});
    const TBitmap current = GrayRow({150, 100, 100, 60});
    TBitmap difference;
    TDifferenceResult result;
    ASSERT_EQ(CompareFrames(previous, current, difference, 20, result), ResultDone);
    EXPECT_EQ(result.PositiveCount, 1);
    EXPECT_EQ(result.NegativeCount, 1);
    EXPECT_EQ(result.PositiveSumX, 0);
    EXPECT_EQ(result.PositiveSumY, 0);
    EXPECT_EQ(result.NegativeSumX, -120);
    EXPECT_EQ(result.NegativeSumY, 0);
    EXPECT_EQ(result.Direction.X, 1);
    EXPECT_EQ(result.Direction.Y, 0);
    // The green marker on (1, 0) is drawn last and covers the whole row with
    // its inside.
    ExpectAllPixels(difference, DirectionMarker);
}

TEST(CompareFrames, MarkersAreOutlinedSquaresDrawnRedNavyGreen) {
    // Brightened block around (10, 10), darkened block around (40, 30).
    TBitmap previous = GrayFrame(64, 48, 100);
    TBitmap current = GrayFrame(64, 48, 100);
    for (int y = 8; y <= 12; ++y) {
        std::fill_n(current.ScanLine(y) + 8, 5, 200);
    }
    for (int y = 28; y <= 32; ++y) {
        std::fill_n(current.ScanLine(y) + 38, 5, 10);
    }
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        ASSERT_EQ(CompareFrames(previous, current, difference, 20, result, path), ResultDone);
        EXPECT_EQ(result.PositiveCount, 25);
        EXPECT_EQ(result.NegativeCount, 25);
        EXPECT_EQ(result.Direction.X, 25);
        EXPECT_EQ(result.Direction.Y, 20);
        // Red square: columns and rows 5..14, outline black.
        EXPECT_EQ(difference.Pixel(5, 5), clBlack);
        EXPECT_EQ(difference.Pixel(14, 10), clBlack);
        EXPECT_EQ(difference.Pixel(10, 14), clBlack);
        EXPECT_EQ(difference.Pixel(10, 10), PositiveCentreMarker);
        EXPECT_EQ(difference.Pixel(15, 10), clWhite);
        EXPECT_EQ(difference.Pixel(4, 10), clWhite);
        // Navy square: 35..44 by 25..34.
        EXPECT_EQ(difference.Pixel(35, 30), clBlack);
        EXPECT_EQ(difference.Pixel(40, 30), NegativeCentreMarker);
        EXPECT_EQ(difference.Pixel(45, 30), clWhite);
        // Green square: 20..29 by 15..24.
        EXPECT_EQ(difference.Pixel(25, 20), DirectionMarker);
        EXPECT_EQ(difference.Pixel(20, 20), clBlack);
        EXPECT_EQ(difference.Pixel(29, 24), clBlack);
        EXPECT_EQ(difference.Pixel(30, 20), clWhite);
        // Scanned pixels that no marker covers keep their colours.
        EXPECT_EQ(difference.Pixel(50, 40), clWhite);
        EXPECT_EQ(difference.Canvas().PenColor, clBlack);
    }
}

TEST(CompareFrames, CentresAndDirectionTruncateTowardZero) {
    // Zero tolerance: d = -1 at x = 3 and 4 on row 0, d = +1 at x = 4 on row 1.
    TBitmap previous = GrayFrame(40, 2, 50);
    TBitmap current = GrayFrame(40, 2, 50);
    current.ScanLine(0)[3] = 49;
    current.ScanLine(0)[4] = 49;
    current.ScanLine(1)[4] = 51;
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        ASSERT_EQ(CompareFrames(previous, current, difference, 0, result, path), ResultDone);
        EXPECT_EQ(result.NegativeSumX, -7);
        EXPECT_EQ(result.NegativeSumY, 0);
        EXPECT_EQ(result.PositiveSumX, 4);
        EXPECT_EQ(result.PositiveSumY, 1);
        // Centres (4, 1) and (3, 0): the direction point is (3, 0).
        EXPECT_EQ(result.Direction.X, 3);
        EXPECT_EQ(result.Direction.Y, 0);
    }
}

TEST(CompareFrames, OnlyOneKindOfChangeDrawsNoMarkersAndKeepsDirection) {
    TBitmap previous = GrayFrame(40, 20, 0);
    TBitmap current = GrayFrame(40, 20, 0);
    std::fill_n(current.ScanLine(10), 40, 255);
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        result.Direction = {-3, -4};
        ASSERT_EQ(CompareFrames(previous, current, difference, 20, result, path), ResultDone);
        EXPECT_EQ(result.PositiveCount, 40);
        EXPECT_EQ(result.NegativeCount, 0);
        EXPECT_EQ(result.PositiveSumY, 10 * 40 * 255);
        EXPECT_EQ(result.Direction.X, -3);
        EXPECT_EQ(result.Direction.Y, -4);
        EXPECT_EQ(difference.Pixel(20, 10), Red(127));
        EXPECT_EQ(difference.Pixel(20, 9), clWhite);
    }
}

TEST(CompareFrames, FullToleranceCountsNothing) {
    TBitmap previous = GrayFrame(50, 3, 0);
    TBitmap current = GrayFrame(50, 3, 0);
    current.ScanLine(1)[7] = 255;
    current.ScanLine(2)[40] = 254;
    previous.ScanLine(0)[3] = 255;
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        ASSERT_EQ(CompareFrames(previous, current, difference, 255, result, path), ResultDone);
        EXPECT_EQ(result.PositiveCount + result.NegativeCount, 0);
        EXPECT_EQ(difference.Pixel(7, 1), Gray192);
        EXPECT_EQ(difference.Pixel(40, 2), clWhite);
        EXPECT_EQ(difference.Pixel(3, 0), clWhite);
        EXPECT_EQ(difference.Pixel(0, 0), clWhite);
    }
}

TEST(CompareFrames, EmptyFramesGiveAnEmptyDifferenceAndZeroCounts) {
    const TBitmap empty = GrayFrame(0, 0);
    TBitmap difference = GrayFrame(3, 3);
    TDifferenceResult result;
    result.PositiveCount = 5;
    result.Direction = {1, 2};
    EXPECT_EQ(CompareFrames(empty, empty, difference, 20, result), ResultDone);
    EXPECT_TRUE(difference.Empty());
    EXPECT_EQ(difference.PixelFormat(), pf24bit);
    EXPECT_EQ(result.PositiveCount, 0);
    EXPECT_EQ(result.Direction.X, 1);
}

TEST(CompareFrames, DeclinesMismatchedSizesAndNonGrayFramesWritingNothing) {
    const TBitmap previous = GrayFrame(40, 30, 10);
    TBitmap colour;
    colour.SetSize(40, 30);
    const std::vector<TBitmap> unfit = {GrayFrame(20, 10, 200), GrayFrame(41, 30, 200),
                                        GrayFrame(40, 31, 200), GrayFrame(0, 0), colour};
    for (const TBitmap& current : unfit) {
        for (bool swapped : {false, true}) {
            TBitmap difference = GrayFrame(2, 2, 77);
            TDifferenceResult result;
            result.PositiveCount = 123;
            result.Direction = {5, 6};
            const int code = swapped ? CompareFrames(current, previous, difference, 20, result)
                                     : CompareFrames(previous, current, difference, 20, result);
            EXPECT_EQ(code, ResultWrongFormat);
            EXPECT_EQ(difference.Width(), 2);
            EXPECT_EQ(difference.PixelFormat(), pf8bit);
            EXPECT_EQ(difference.ScanLine(1)[1], 77);
            EXPECT_EQ(result.PositiveCount, 123);
            EXPECT_EQ(result.Direction.X, 5);
        }
    }
}

TEST(CompareFrames, SumsBeyond32BitsKeepTheCentresInsideTheFrame) {
    // Top half brightened by 200, bottom half darkened by 200.
    TBitmap previous = GrayFrame(2000, 1500, 100);
    TBitmap current = GrayFrame(2000, 1500, 100);
    for (int y = 0; y < 1500; ++y) {
        std::fill_n(current.ScanLine(y), 2000, y < 750 ? 255 : 0);
    }
    for (TKernelPath path : SupportedPaths()) {
        TBitmap difference;
        TDifferenceResult result;
        ASSERT_EQ(CompareFrames(previous, current, difference, 20, result, path), ResultDone);
        const std::int64_t columnSum = 1999 * 2000 / 2;
        EXPECT_EQ(result.PositiveSumX, 155 * 750 * columnSum);
        EXPECT_EQ(result.NegativeSumX, -100 * 750 * columnSum);
        EXPECT_EQ(result.PositiveSumY, std::int64_t{155} * 2000 * (749 * 750 / 2));
        // Centres (999, 374) and (999, 1124).
        EXPECT_EQ(result.Direction.X, 999);
        EXPECT_EQ(result.Direction.Y, 749);
    }
}

// Every vector path against the scalar one on random frames of many widths
// (every tail length of the 32- and 64-pixel blocks among them), with changes
// everywhere or only here and there (so that blocks without changes are
// skipped between counted ones), including rows long enough to need several
// runs of accumulation and an image large enough to be written with
// streaming stores.
TEST(CompareFrames, VectorPathsEqualScalarPath) {
    if (SupportedPaths().size() < 2) {
        GTEST_SKIP() << "no vector path on this processor";
    }
    std::mt19937 random(11);
    struct TShape {
        int Width, Height;
    };
    for (int changeEvery : {8, 700}) {
        for (TShape shape : {TShape{1, 3},
                             {31, 2},
                             {32, 2},
                             {33, 4},
                             {63, 2},
                             {64, 2},
                             {65, 3},
                             {95, 3},
                             {127, 2},
                             {200, 7},
                             {32 * 600 + 17, 2}}) {
            TBitmap previous = GrayFrame(shape.Width, shape.Height);
            TBitmap current = GrayFrame(shape.Width, shape.Height);
            for (int y = 0; y < shape.Height; ++y) {
                for (int x = 0; x < shape.Width; ++x) {
                    const int base = static_cast<int>(random() % 256);
                    const int noise = static_cast<int>(random() % 5) - 2;
                    previous.ScanLine(y)[x] = static_cast<std::uint8_t>(base);
                    current.ScanLine(y)[x] = static_cast<std::uint8_t>(
                        random() % changeEvery == 0 ? random() % 256
                                                    : std::clamp(base + noise, 0, 255));
                }
            }
            for (int tolerance : {0, 1, 2, 20, 127, 128, 254, 255}) {
                TBitmap scalarImage;
                TDifferenceResult scalarResult;
                CompareFrames(previous, current, scalarImage, tolerance, scalarResult,
                              TKernelPath::Scalar);
                for (TKernelPath path : SupportedPaths()) {
                    TBitmap vectorImage;
                    TDifferenceResult vectorResult;
                    CompareFrames(previous, current, vectorImage, tolerance, vectorResult, path);
                    EXPECT_TRUE(SameResult(scalarResult, vectorResult))
                        << KernelPathName(path) << " width " << shape.Width << " tolerance "
                        << tolerance;
                    for (int y = 0; y < shape.Height; ++y) {
                        ASSERT_EQ(std::memcmp(scalarImage.ScanLine(y), vectorImage.ScanLine(y),
                                              3 * std::size_t(shape.Width)),
                                  0)
                            << KernelPathName(path) << " width " << shape.Width << " tolerance "
                            << tolerance << " row " << y;
                    }
                }
            }
        }
    }
}
