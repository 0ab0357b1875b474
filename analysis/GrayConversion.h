#pragma once
// Conversion of 24-bit blue-green-red frames to 8-bit luminance frames.
//
// The gray level of a colour (R, G, B) is (R * 0.30 + G * 0.59) + B * 0.11
// evaluated in the 80-bit extended format (64-bit significand, weights and
// every step rounded to nearest, ties to even) and rounded to the nearest
// integer, ties to even. The conversion reproduces that bit for bit on any
// processor with integer arithmetic only.

#include "analysis/ImageOperations.h"
#include "analysis/TBitmap.h"

#include <cstddef>
#include <cstdint>

// Converts Source (24 bits per pixel) into Target (8 bits per pixel, same
// size). Returns ResultDone, ResultSourceEmpty for an empty 24-bit Source or
// ResultWrongFormat for any other format of Source; Target is touched only on
// ResultDone.
int ConvertToGray(const TBitmap& Source, TBitmap& Target);

// The same on a chosen code path; the path must be supported by this processor.
int ConvertToGray(const TBitmap& Source, TBitmap& Target, TKernelPath path);

// The same conversion on raw rows: `height` rows of `width` blue-green-red
// pixels from `source` (rows `sourceStride` bytes apart) into `height` rows of
// gray bytes at `target` (rows `targetStride` bytes apart). Allocates nothing;
// the caller guarantees both areas.
void ConvertBgrRowsToGray(const std::uint8_t* source, std::size_t sourceStride,
                          std::uint8_t* target, std::size_t targetStride, int width, int height);
void ConvertBgrRowsToGray(const std::uint8_t* source, std::size_t sourceStride,
                          std::uint8_t* target, std::size_t targetStride, int width, int height,
                          TKernelPath path);

// The gray level of one colour.
std::uint8_t GrayLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
