#include "engine/FrameView.h"

#include "types/Exception.h"

#include <string>

TPlaneLayout PlaneLayoutOf(const TFrameView& view) {
    const int halfWidth = (view.Width + 1) / 2;
    const int halfHeight = (view.Height + 1) / 2;
    switch (view.Format) {
    case TFrameFormat::Bgr24:
        return {1, {3 * view.Width, 0, 0}, {view.Height, 0, 0}};
    case TFrameFormat::Gray8:
        return {1, {view.Width, 0, 0}, {view.Height, 0, 0}};
    case TFrameFormat::I420:
        return {3, {view.Width, halfWidth, halfWidth}, {view.Height, halfHeight, halfHeight}};
    case TFrameFormat::Nv12:
        return {2, {view.Width, 2 * halfWidth, 0}, {view.Height, halfHeight, 0}};
    }
    return {};
}

TFrameView BitmapView(const TBitmap& bitmap) {
    TFrameView view;
    if (bitmap.Empty() || (bitmap.PixelFormat() != pf24bit && bitmap.PixelFormat() != pf8bit)) {
        return view;
    }
    view.Format = bitmap.PixelFormat() == pf24bit ? TFrameFormat::Bgr24 : TFrameFormat::Gray8;
    view.Width = bitmap.Width();
    view.Height = bitmap.Height();
    view.Plane[0] = bitmap.ScanLine(0);
    view.Stride[0] = static_cast<int>(bitmap.Stride());
    return view;
}

void CheckFrameView(const TFrameView& view) {
    if (view.Empty()) {
        return;
    }
    const TPlaneLayout shape = PlaneLayoutOf(view);
    for (int plane = 0; plane < shape.Count; ++plane) {
        const std::string name = "Frame plane " + std::to_string(plane);
        if (view.Plane[plane] == nullptr) {
            throw EInvalidOperation(name + " is missing");
        }
        if (view.Stride[plane] < shape.RowBytes[plane]) {
            throw EInvalidOperation(name + " has rows of " + std::to_string(view.Stride[plane]) +
                                    " bytes, fewer than its " +
                                    std::to_string(shape.RowBytes[plane]) + " bytes of pixels");
        }
    }
}
