#pragma once
// Conversion of any image into the 24-bit blue-green-red colour frame that
// the frame step analyses and saves.

#include "analysis/TBitmap.h"

class QImage;

// Copies image into target as a 24-bit frame of the same pixel grid (the
// image's device pixel ratio plays no part). Every format gives the colours
// of the toolkit's own 24-bit conversion: alpha is dropped and the colour
// kept (premultiplied formats are unpremultiplied), deeper channels are
// rounded to 8 bits. An index with no entry in the colour table reads as
// black, also when the table is empty. A null image empties target.
// Frames in the capture's formats (blue-green-red or red-green-blue bytes,
// 32-bit words, gray, indexed) are copied straight, allocating nothing when
// target already has the image's size and 24 bits per pixel; the grab's own
// blue-green-red frames take one copy per row.
void ImageToFrame(const QImage& image, TBitmap& target);
