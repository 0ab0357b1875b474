#pragma once
// Comparison of two gray frames: every pixel is classified by its signed
// brightness change d = Current - Previous against a tolerance T. From one
// pass come the difference image, the counts of brightened (d > T) and
// darkened (d < -T) pixels, their change-weighted sums and centres, and the
// direction point halfway between the two centres.

#include "analysis/ImageOperations.h"
#include "analysis/TBitmap.h"
#include "types/TPoint.h"

#include <cstdint>

// The sums are 64-bit so that the centres stay inside the frame for any frame
// size; for frames whose sums fit in 32 bits they equal 32-bit sums.
struct TDifferenceResult {
    int PositiveCount = 0;
    int NegativeCount = 0;
    std::int64_t PositiveSumX = 0;
    std::int64_t PositiveSumY = 0;
    std::int64_t NegativeSumX = 0;
    std::int64_t NegativeSumY = 0;
    TPoint Direction;
    // Written only when there are both brightened and darkened pixels: the
    // change-weighted centres of both (truncated); Direction lies halfway.
    bool Centred = false;
    TPoint PositiveCentre;
    TPoint NegativeCentre;
};

// Colours of the difference image and its markers (TColor, 0x00BBGGRR).
constexpr TColor DifferenceUnchanged = 0xFFFFFF;   // -T <= d < T
constexpr TColor DifferenceAtTolerance = 0xC0C0C0; // d = T exactly
constexpr TColor PositiveCentreMarker = 0x0000FF;  // red
constexpr TColor NegativeCentreMarker = 0x800000;  // navy
constexpr TColor DirectionMarker = 0x008000;       // green

// Compares Current with Previous.
// - ResultWrongFormat, writing nothing (neither Difference nor Result), when
//   either frame is not 8 bits per pixel, or when the frames differ in size:
//   such frames do not show the same picture grid (the video format changed
//   between them), and a pixel comparison would report a false movement.
// - ResultDone otherwise: Difference becomes a 24-bit image of Previous's size
//   (brightened pixels red (d + 128) mod 256, darkened pixels blue
//   (|d| + 128) mod 256, d = T light gray, all others white), and every field
//   of Result but Direction is written. When there are both brightened and
//   darkened pixels, the centres of both (change-weighted, truncated) and the
//   direction point are marked with 10 x 10 squares outlined in black (red,
//   navy, then green) and Direction is set; otherwise Direction is untouched.
int CompareFrames(const TBitmap& Previous, const TBitmap& Current, TBitmap& Difference,
                  std::uint8_t Tolerance, TDifferenceResult& Result);

// The same on a chosen code path; the path must be supported by this processor.
int CompareFrames(const TBitmap& Previous, const TBitmap& Current, TBitmap& Difference,
                  std::uint8_t Tolerance, TDifferenceResult& Result, TKernelPath path);

// The counts, sums, centres and direction of CompareFrames without keeping a
// difference image: each row's colours go to RowScratch, one 24-bit row of
// the frames' width that is reallocated only when the width changes. Returns
// ResultWrongFormat (writing nothing) or ResultDone as CompareFrames does.
int CountChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                 TDifferenceResult& Result, TBitmap& RowScratch);
int CountChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                 TDifferenceResult& Result, TBitmap& RowScratch, TKernelPath path);
