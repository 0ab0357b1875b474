#pragma once
// Y, U, V rows to blue-green-red rows, for the gray conversion of decoded
// YUV frames.

#include "analysis/ImageOperations.h"
#include "engine/FrameView.h"

#include <cstdint>

// Converts one row of `width` pixels: luma from `luma`, one chroma pair per
// two pixels from `u` and `v`, read every `chromaStep` bytes (1 for the U and
// V planes of I420, 2 for the interleaved plane of NV12). Each colour is
// rounded to nearest and clamped to 0-255.
// Each conversion runs on the fastest code path of this processor unless
// given another, which must be supported by this processor.
void YuvRowToBgr(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                 int chromaStep, std::uint8_t* bgr, int width, TYuvColors colors,
                 TKernelPath path = BestKernelPath());

// Converts `count` pixels in place, each with its own Y, U and V byte
// (samples picked from a frame's planes) as 0x00VVUUYY, into 32-bit
// 0xffRRGGBB pixels with the colours of YuvToBgr.
void YuvPackedToRgb32(std::uint32_t* pixels, int count, TYuvColors colors,
                      TKernelPath path = BestKernelPath());

// Converts one row of `width` pixels, read as YuvRowToBgr reads it, into
// 32-bit 0xffRRGGBB pixels: a picture shown at the frame's own width.
void YuvRowToRgb32(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                   int chromaStep, std::uint32_t* rgb, int width, TYuvColors colors,
                   TKernelPath path = BestKernelPath());

// Converts `count` pixels of a row shown at half its width into 32-bit
// 0xffRRGGBB pixels: pixel x has the luma `luma[2x]` and the chroma
// `u[x * chromaStep]`, `v[x * chromaStep]` (one pair per pixel shown). With a
// chromaStep of 2, `v` must be `u + 1` (interleaved chroma). Reads nothing
// past `luma[2 * (count - 1)]` and the last pixel's chroma.
void YuvHalvedRowToRgb32(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                         int chromaStep, std::uint32_t* rgb, int count, TYuvColors colors,
                         TKernelPath path = BestKernelPath());

// The blue-green-red colour of one Y, U, V triple.
void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, TYuvColors colors,
              std::uint8_t bgr[3]);
