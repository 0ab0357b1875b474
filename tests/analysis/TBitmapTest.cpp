#include "analysis/TBitmap.h"
#include "types/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(TBitmap, RowsArePaddedAndBoundsChecked) {
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.Empty());
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetWidth(5);
    bitmap.SetHeight(2);
    EXPECT_FALSE(bitmap.Empty());
    EXPECT_EQ(bitmap.Stride(), 16u);
    EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), 16);
    EXPECT_THROW(bitmap.ScanLine(2), EListError);
    EXPECT_THROW(bitmap.ScanLine(-1), EListError);
}

TEST(TBitmap, FormatChangesConvertPixelsAndResizeKeepsOverlap) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf8bit);
    bitmap.SetSize(3, 2);
    bitmap.ScanLine(1)[2] = 77;
    bitmap.SetPixelFormat(pf24bit);
    EXPECT_EQ(bitmap.Pixel(2, 1), 0x4D4D4Du);
    bitmap.SetSize(4, 3);
    EXPECT_EQ(bitmap.Pixel(2, 1), 0x4D4D4Du);
    EXPECT_EQ(bitmap.Pixel(3, 2), 0u);
}

TEST(TBitmap, RectangleExcludesRightAndBottomEdgesAndClips) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(6, 6);
    for (int y = 0; y < 6; ++y) {
        std::fill_n(bitmap.ScanLine(y), 18, 0xFF);
    }
    bitmap.Canvas().BrushColor = 0x0000FF;
    bitmap.Canvas().Rectangle(-2, 1, 4, 5);
    EXPECT_EQ(bitmap.Pixel(0, 0), clWhite);   // above: untouched
    EXPECT_EQ(bitmap.Pixel(0, 1), clBlack);   // top outline
    EXPECT_EQ(bitmap.Pixel(1, 2), 0x0000FFu); // inside
    EXPECT_EQ(bitmap.Pixel(3, 2), clBlack);   // right outline at x2 - 1
    EXPECT_EQ(bitmap.Pixel(4, 2), clWhite);   // x2 itself excluded
    EXPECT_EQ(bitmap.Pixel(2, 4), clBlack);   // bottom outline at y2 - 1
    EXPECT_EQ(bitmap.Pixel(2, 5), clWhite);
}

TEST(TBitmap, AllocateKeepsPixelsOnlyWhenTheShapeIsUnchanged) {
    TBitmap bitmap;
    bitmap.Allocate(3, 2, pf8bit);
    EXPECT_EQ(bitmap.Stride(), 4u);
    bitmap.ScanLine(1)[2] = 9;
    bitmap.Allocate(3, 2, pf8bit);
    EXPECT_EQ(bitmap.ScanLine(1)[2], 9);
    bitmap.Allocate(3, 2, pf24bit);
    EXPECT_EQ(bitmap.Stride(), 12u);
    EXPECT_EQ(bitmap.Pixel(2, 1), clBlack);
}
