#include "analysis/GrayConversion.h"
#include "tests/analysis/KernelPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

// The defining evaluation, straight in the 80-bit format (rintl rounds to
// nearest, ties to even, in the default rounding mode).
int ExtendedReference(int red, int green, int blue) {
    const long double luminance = (red * 0.30L + green * 0.59L) + blue * 0.11L;
    return static_cast<int>(std::rintl(luminance));
}

bool LongDoubleIsExtended() {
    return std::numeric_limits<long double>::digits == 64;
}

struct TRgb {
    int Red, Green, Blue;
};

void SetColour(TBitmap& bitmap, int x, int y, TRgb colour) {
    std::uint8_t* pixel = bitmap.ScanLine(y) + 3 * x;
    pixel[0] = static_cast<std::uint8_t>(colour.Blue);
    pixel[1] = static_cast<std::uint8_t>(colour.Green);
    pixel[2] = static_cast<std::uint8_t>(colour.Red);
}

TBitmap ColourFrame(int width, int height) {
    TBitmap frame;
    frame.SetPixelFormat(pf24bit);
    frame.SetSize(width, height);
    return frame;
}

} // namespace

// Every colour once: row r * 16 + g / 16, column (g mod 16) * 256 + b.
TEST(ConvertToGray, EveryColourMatchesTheExtendedEvaluationOnEveryPath) {
    if (!LongDoubleIsExtended()) {
        GTEST_SKIP() << "long double is not the 80-bit format here";
    }
    TBitmap source = ColourFrame(4096, 4096);
    std::vector<std::uint8_t> expected(std::size_t{1} << 24);
    for (int y = 0; y < 4096; ++y) {
        std::uint8_t* pixel = source.ScanLine(y);
        for (int x = 0; x < 4096; ++x, pixel += 3) {
            const int red = y / 16;
            const int green = y % 16 * 16 + x / 256;
            const int blue = x % 256;
            pixel[0] = static_cast<std::uint8_t>(blue);
            pixel[1] = static_cast<std::uint8_t>(green);
            pixel[2] = static_cast<std::uint8_t>(red);
            expected[std::size_t(y) * 4096 + x] =
                static_cast<std::uint8_t>(ExtendedReference(red, green, blue));
        }
    }
    for (TKernelPath path : SupportedPaths()) {
        TBitmap gray;
        ASSERT_EQ(ConvertToGray(source, gray, path), ResultDone);
        ASSERT_EQ(gray.PixelFormat(), pf8bit);
        int mismatches = 0;
        for (int y = 0; y < 4096; ++y) {
            const std::uint8_t* row = gray.ScanLine(y);
            for (int x = 0; x < 4096; ++x) {
                mismatches += row[x] != expected[std::size_t(y) * 4096 + x];
            }
        }
        EXPECT_EQ(mismatches, 0) << "path " << KernelPathName(path);
    }
}

TEST(ConvertToGray, KnownColoursIncludingComputedHalves) {
    struct TCase {
        TRgb Colour;
        int Gray;
    };
    const std::vector<TCase> cases = {
        {{0, 0, 0}, 0},     {{255, 255, 255}, 255}, {{128, 128, 128}, 128}, {{255, 0, 0}, 76},
        {{0, 255, 0}, 150}, {{0, 0, 255}, 28},      {{0, 0, 50}, 6},        {{15, 0, 0}, 4},
        {{5, 0, 0}, 2},     {{0, 5, 5}, 3},         {{0, 50, 0}, 29},       {{16, 37, 17}, 29},
    };
    // Repeated to 130 pixels so that every vector path sees them in full
    // blocks (of 32 and of 64 pixels) and in the tail of the row.
    constexpr int Width = 130;
    TBitmap source = ColourFrame(Width, 1);
    for (int x = 0; x < Width; ++x) {
        SetColour(source, x, 0, cases[x % cases.size()].Colour);
    }
    for (TKernelPath path : SupportedPaths()) {
        TBitmap gray;
        ASSERT_EQ(ConvertToGray(source, gray, path), ResultDone);
        for (int x = 0; x < Width; ++x) {
            const TCase& c = cases[x % cases.size()];
            EXPECT_EQ(gray.ScanLine(0)[x], c.Gray)
                << "(" << c.Colour.Red << ", " << c.Colour.Green << ", " << c.Colour.Blue
                << ") path " << KernelPathName(path);
        }
    }
    for (const TCase& c : cases) {
        EXPECT_EQ(GrayLevel(c.Colour.Red, c.Colour.Green, c.Colour.Blue), c.Gray);
    }
}

TEST(ConvertToGray, OddWidthsConvertEveryPixelAndLeaveRowPaddingAlone) {
    std::mt19937 random(7);
    for (int width : {1, 3, 31, 32, 33, 45, 63, 64, 65, 97, 127, 1100}) {
        TBitmap source = ColourFrame(width, 3);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < width; ++x) {
                SetColour(source, x, y,
                          {int(random() % 256), int(random() % 256), int(random() % 256)});
            }
        }
        for (TKernelPath path : SupportedPaths()) {
            TBitmap gray;
            gray.SetPixelFormat(pf8bit);
            gray.SetSize(width, 3);
            const std::size_t padding = gray.Stride() - width;
            for (int y = 0; y < 3; ++y) {
                std::fill_n(gray.ScanLine(y) + width, padding, 0xA5);
            }
            ASSERT_EQ(ConvertToGray(source, gray, path), ResultDone);
            for (int y = 0; y < 3; ++y) {
                const std::uint8_t* pixels = source.ScanLine(y);
                for (int x = 0; x < width; ++x) {
                    ASSERT_EQ(gray.ScanLine(y)[x],
                              GrayLevel(pixels[3 * x + 2], pixels[3 * x + 1], pixels[3 * x]))
                        << "width " << width << " x " << x;
                }
                for (std::size_t i = 0; i < padding; ++i) {
                    EXPECT_EQ(gray.ScanLine(y)[width + i], 0xA5);
                }
            }
        }
    }
}

TEST(ConvertToGray, TargetTakesSizeAndFormatOfSource) {
    TBitmap source = ColourFrame(5, 3);
    SetColour(source, 4, 2, {255, 255, 255});
    TBitmap target = ColourFrame(9, 9);
    EXPECT_EQ(ConvertToGray(source, target), ResultDone);
    EXPECT_EQ(target.Width(), 5);
    EXPECT_EQ(target.Height(), 3);
    EXPECT_EQ(target.PixelFormat(), pf8bit);
    EXPECT_EQ(target.ScanLine(2)[4], 255);
    EXPECT_EQ(target.ScanLine(0)[0], 0);
}

TEST(ConvertToGray, EmptyOrWrongFormatSourceLeavesTargetUntouched) {
    TBitmap target;
    target.SetPixelFormat(pf8bit);
    target.SetSize(2, 2);
    target.ScanLine(1)[1] = 42;
    auto expectUntouched = [&] {
        EXPECT_EQ(target.Width(), 2);
        EXPECT_EQ(target.Height(), 2);
        EXPECT_EQ(target.PixelFormat(), pf8bit);
        EXPECT_EQ(target.ScanLine(1)[1], 42);
    };

    TBitmap empty = ColourFrame(0, 0);
    EXPECT_EQ(ConvertToGray(empty, target), ResultSourceEmpty);
    expectUntouched();
    TBitmap noRows = ColourFrame(7, 0);
    EXPECT_EQ(ConvertToGray(noRows, target), ResultSourceEmpty);
    expectUntouched();

    for (TPixelFormat format : {pf8bit, pf32bit}) {
        TBitmap source;
        source.SetPixelFormat(format);
        source.SetSize(3, 3);
        EXPECT_EQ(ConvertToGray(source, target), ResultWrongFormat);
        expectUntouched();
        source.Clear();
        EXPECT_EQ(ConvertToGray(source, target), ResultWrongFormat) << "empty, not 24-bit";
        expectUntouched();
    }
}
