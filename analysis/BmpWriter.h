#pragma once
// Saving a bitmap as a Windows BMP file of 24 bits per pixel.

#include "analysis/TBitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Writes bitmap to path: the 14-byte file header ("BM"), the 40-byte
// information header, then the rows bottom-up, 3 bytes per pixel (blue, green,
// red; gray pixels spread to three equal bytes), each row padded to 4 bytes.
// An existing file is replaced. The file is written under a temporary name in
// the same folder and renamed only when complete, so a failure never leaves a
// partial file under path.
// Throws EFCreateError "Cannot create file \"<full path>\". <system text>".
void SaveBitmapToFile(const TBitmap& bitmap, const std::string& path);

// The same for `height` rows of `width` pixels in `format` at `rows`, each
// `rowStride` bytes after the one before, top row first.
void SaveRowsToFile(const std::uint8_t* rows, std::size_t rowStride, TPixelFormat format, int width,
                    int height, const std::string& path);
