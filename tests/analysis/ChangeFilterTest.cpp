// The speckle filter and the mask decide which changed pixels count; the
// vector paths give the scalar path's bytes.

#include "analysis/ChangeFilter.h"
#include "KernelPaths.h"
#include "analysis/FrameDifferencing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

TBitmap Gray(int width, int height, std::uint8_t level) {
    TBitmap image;
    image.Allocate(width, height, pf8bit);
    for (int y = 0; y < height; ++y) {
        std::memset(image.ScanLine(y), level, std::size_t(width));
    }
    return image;
}

// Levels near `base`, each pixel moved by up to `strength` at random.
TBitmap Noisy(int width, int height, int base, int strength, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> offset(-strength, strength);
    TBitmap image = Gray(width, height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.ScanLine(y)[x] = static_cast<std::uint8_t>(base + offset(random));
        }
    }
    return image;
}

int Changed(const TBitmap& previous, const TBitmap& current, int tolerance) {
    TDifferenceResult result;
    TBitmap scratch;
    CountChanges(previous, current, static_cast<std::uint8_t>(tolerance), result, scratch);
    return result.PositiveCount + result.NegativeCount;
}

int FilteredChanges(const TBitmap& previous, const TBitmap& current, int tolerance,
                    const TChangeFilter& filter) {
    TBitmap filtered;
    std::vector<std::uint8_t> scratch;
    EXPECT_EQ(FilterChanges(previous, current, static_cast<std::uint8_t>(tolerance), filter,
                            filtered, scratch),
              ResultDone);
    return Changed(previous, filtered, tolerance);
}

bool SameBytes(const TBitmap& a, const TBitmap& b) {
    for (int y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), std::size_t(a.Width())) != 0) {
            return false;
        }
    }
    return true;
}

TEST(ChangeFilter, VectorPathsGiveTheScalarBytesOnRandomImages) {
    std::mt19937 random(7);
    // Widths around the 32-pixel blocks, with and without a mask, every N.
    for (int width : {1, 31, 32, 33, 65, 100}) {
        const int height = 9;
        const TBitmap previous = Noisy(width, height, 128, 40, random());
        const TBitmap current = Noisy(width, height, 128, 40, random());
        std::vector<std::uint8_t> mask(std::size_t(width) * height);
        for (auto& watched : mask) {
            watched = static_cast<std::uint8_t>(random() % 4 != 0);
        }
        for (bool masked : {false, true}) {
            for (int neighbours = 0; neighbours <= 8; ++neighbours) {
                const TChangeFilter filter{neighbours, masked ? mask.data() : nullptr,
                                           std::size_t(width)};
                TBitmap expected;
                std::vector<std::uint8_t> scratch;
                FilterChanges(previous, current, 20, filter, expected, scratch,
                              TKernelPath::Scalar);
                for (TKernelPath path : SupportedPaths()) {
                    TBitmap filtered;
                    FilterChanges(previous, current, 20, filter, filtered, scratch, path);
                    EXPECT_TRUE(SameBytes(expected, filtered))
                        << KernelPathName(path) << " width " << width << " N " << neighbours;
                }
            }
        }
    }
}

TEST(ChangeFilter, NoiseCountsAtZeroNeighboursAndIsFilteredAtThree) {
    // Sparse noise: one pixel in 50 jumps by 60 levels; a 20 x 20 block moves.
    TBitmap previous = Gray(160, 120, 100);
    TBitmap current = Gray(160, 120, 100);
    std::mt19937 random(3);
    for (int i = 0; i < 160 * 120 / 50; ++i) {
        current.ScanLine(int(random() % 120))[random() % 160] = 160;
    }
    for (int y = 50; y < 70; ++y) {
        std::memset(current.ScanLine(y) + 70, 220, 20);
    }
    const int everything = Changed(previous, current, 20);
    ASSERT_GT(everything, 400 + 300);
    EXPECT_EQ(FilteredChanges(previous, current, 20, {0, nullptr, 0}), everything);
    // The block keeps all its pixels (corners have 3 changed neighbours), the
    // scattered noise almost none.
    const int filtered = FilteredChanges(previous, current, 20, {3, nullptr, 0});
    EXPECT_GE(filtered, 400);
    EXPECT_LT(filtered, 420);
    // At 8 only the block's inside (18 x 18) remains, less any noise next to it.
    EXPECT_LE(FilteredChanges(previous, current, 20, {8, nullptr, 0}), 18 * 18);
}

TEST(ChangeFilter, MaskedPixelsNeverCountNorSupportTheirNeighbours) {
    const TBitmap previous = Gray(64, 8, 50);
    const TBitmap current = Gray(64, 8, 200);
    std::vector<std::uint8_t> mask(64 * 8, 1);
    for (int y = 0; y < 8; ++y) {
        std::memset(&mask[std::size_t(y) * 64], 0, 32); // the left half ignored
    }
    EXPECT_EQ(FilteredChanges(previous, current, 20, {0, mask.data(), 64}), 32 * 8);
    // The watched column at the mask's edge has 5 changed neighbours, as
    // has the column at the frame's edge: N = 6 keeps the 30 x 6 inner pixels.
    EXPECT_EQ(FilteredChanges(previous, current, 20, {6, mask.data(), 64}), 30 * 6);
    TBitmap other = Gray(63, 8, 0);
    TBitmap filtered;
    std::vector<std::uint8_t> scratch;
    EXPECT_EQ(FilterChanges(previous, other, 20, {}, filtered, scratch), ResultWrongFormat);
}

} // namespace
