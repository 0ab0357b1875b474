#pragma once
// A borrowed view of one decoded frame, in the layout a decoder or the
// capture hands it out: no copy is made to describe it.

#include "analysis/TBitmap.h"

#include <cstdint>

enum class TFrameFormat {
    Bgr24, // one plane, 3 bytes a pixel: blue, green, red
    Gray8, // one plane, 1 byte a pixel, taken as the gray level itself
    I420,  // planes Y, U, V; U and V at half width and half height
    Nv12,  // planes Y and interleaved U V, at half width and half height
};

// How the Y, U and V of a frame map to red, green and blue: the matrix of
// ITU-R BT.601 or BT.709, at studio range (Y 16-235) or full range (0-255).
enum class TYuvColors { Bt601Studio, Bt601Full, Bt709Studio, Bt709Full };

struct TFrameView {
    TFrameFormat Format = TFrameFormat::Bgr24;
    int Width = 0;
    int Height = 0;
    const std::uint8_t* Plane[3] = {nullptr, nullptr, nullptr};
    int Stride[3] = {0, 0, 0};                   // bytes from one row to the next, per plane
    TYuvColors Colors = TYuvColors::Bt601Studio; // for I420 and NV12 only

    // True when there is no picture (no pixels or no first plane).
    bool Empty() const { return Width <= 0 || Height <= 0 || Plane[0] == nullptr; }
};

// The planes of a frame of a view's format and size: how many, the bytes of
// pixels in each plane's row, and each plane's rows.
struct TPlaneLayout {
    int Count = 1;
    int RowBytes[3] = {0, 0, 0};
    int Rows[3] = {0, 0, 0};
};
TPlaneLayout PlaneLayoutOf(const TFrameView& view);

// A view of a 24-bit or 8-bit bitmap (Bgr24 or Gray8); an empty view for an
// empty bitmap or another format.
TFrameView BitmapView(const TBitmap& bitmap);

// Throws EInvalidOperation naming the fault when a non-empty view lacks a
// plane its format needs or a stride is shorter than its plane's row.
void CheckFrameView(const TFrameView& view);
