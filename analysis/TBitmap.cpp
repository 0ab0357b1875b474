#include "analysis/TBitmap.h"

#include "types/Exception.h"

#include <algorithm>
#include <cstring>

namespace {

void ConvertRow(const std::uint8_t* from, TPixelFormat fromFormat, std::uint8_t* to,
                TPixelFormat toFormat, int pixels) {
    const int fromBytes = TBitmap::BytesPerPixel(fromFormat);
    const int toBytes = TBitmap::BytesPerPixel(toFormat);
    for (int x = 0; x < pixels; ++x) {
        const std::uint8_t* src = from + x * fromBytes;
        std::uint8_t* dst = to + x * toBytes;
        std::uint8_t bgr[3];
        if (fromBytes == 1) {
            bgr[0] = bgr[1] = bgr[2] = src[0];
        } else {
            std::memcpy(bgr, src, 3);
        }
        if (toBytes == 1) {
            dst[0] = bgr[1];
        } else {
            std::memcpy(dst, bgr, 3);
            if (toBytes == 4) {
                dst[3] = 0;
            }
        }
    }
}

} // namespace

void TCanvas::SetPixel(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= Owner.Width() || y >= Owner.Height()) {
        return;
    }
    const int bytes = TBitmap::BytesPerPixel(Owner.PixelFormat());
    std::uint8_t* p = Owner.ScanLine(y) + x * bytes;
    const std::uint8_t red = color & 0xFF;
    const std::uint8_t green = (color >> 8) & 0xFF;
    const std::uint8_t blue = (color >> 16) & 0xFF;
    if (bytes == 1) {
        p[0] = green;
        return;
    }
    p[0] = blue;
    p[1] = green;
    p[2] = red;
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x2 < x1) {
        std::swap(x1, x2);
    }
    if (y2 < y1) {
        std::swap(y1, y2);
    }
    const int right = x2 - 1;
    const int bottom = y2 - 1;
    const int left = std::max(x1, 0);
    const int top = std::max(y1, 0);
    const int clippedRight = std::min(right, Owner.Width() - 1);
    const int clippedBottom = std::min(bottom, Owner.Height() - 1);
    for (int y = top; y <= clippedBottom; ++y) {
        for (int x = left; x <= clippedRight; ++x) {
            const bool edge = x == x1 || x == right || y == y1 || y == bottom;
            SetPixel(x, y, edge ? PenColor : BrushColor);
        }
    }
}

TBitmap::TBitmap() : FCanvas(*this) {}

TBitmap::TBitmap(const TBitmap& other)
    : FWidth(other.FWidth), FHeight(other.FHeight), FPixelFormat(other.FPixelFormat),
      FStride(other.FStride), FPixels(other.FPixels), FCanvas(*this) {}

TBitmap& TBitmap::operator=(const TBitmap& other) {
    if (this != &other) {
        FWidth = other.FWidth;
        FHeight = other.FHeight;
        FPixelFormat = other.FPixelFormat;
        FStride = other.FStride;
        FPixels = other.FPixels;
    }
    return *this;
}

TBitmap::TBitmap(TBitmap&& other) noexcept
    : FWidth(other.FWidth), FHeight(other.FHeight), FPixelFormat(other.FPixelFormat),
      FStride(other.FStride), FPixels(std::move(other.FPixels)), FCanvas(*this) {
    other.FWidth = other.FHeight = 0;
    other.FStride = 0;
    other.FPixels.clear();
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept {
    if (this != &other) {
        FWidth = other.FWidth;
        FHeight = other.FHeight;
        FPixelFormat = other.FPixelFormat;
        FStride = other.FStride;
        FPixels = std::move(other.FPixels);
        other.FWidth = other.FHeight = 0;
        other.FStride = 0;
        other.FPixels.clear();
    }
    return *this;
}

int TBitmap::BytesPerPixel(TPixelFormat format) {
    switch (format) {
    case pf8bit:
        return 1;
    case pf24bit:
        return 3;
    case pf32bit:
        return 4;
    }
    return 3;
}

std::size_t TBitmap::StrideFor(int width, TPixelFormat format) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * BytesPerPixel(format);
    return (rowBytes + 3) & ~std::size_t{3};
}

void TBitmap::Reshape(int width, int height, TPixelFormat format) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight && format == FPixelFormat) {
        return;
    }
    const std::size_t stride = StrideFor(width, format);
    decltype(FPixels) pixels(stride * static_cast<std::size_t>(height), 0);
    const int keepWidth = std::min(width, FWidth);
    const int keepHeight = std::min(height, FHeight);
    for (int y = 0; y < keepHeight; ++y) {
        ConvertRow(FPixels.data() + y * FStride, FPixelFormat, pixels.data() + y * stride, format,
                   keepWidth);
    }
    FWidth = width;
    FHeight = height;
    FPixelFormat = format;
    FStride = stride;
    FPixels = std::move(pixels);
}

void TBitmap::Allocate(int width, int height, TPixelFormat format) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight && format == FPixelFormat) {
        return;
    }
    FWidth = width;
    FHeight = height;
    FPixelFormat = format;
    FStride = StrideFor(width, format);
    FPixels.assign(FStride * static_cast<std::size_t>(height), 0);
}

void TBitmap::SetWidth(int width) {
    Reshape(width, FHeight, FPixelFormat);
}
void TBitmap::SetHeight(int height) {
    Reshape(FWidth, height, FPixelFormat);
}
void TBitmap::SetSize(int width, int height) {
    Reshape(width, height, FPixelFormat);
}
void TBitmap::SetPixelFormat(TPixelFormat format) {
    Reshape(FWidth, FHeight, format);
}

std::uint8_t* TBitmap::ScanLine(int y) {
    if (y < 0 || y >= FHeight) {
        throw EListError("Scan line index out of range");
    }
    return FPixels.data() + static_cast<std::size_t>(y) * FStride;
}

const std::uint8_t* TBitmap::ScanLine(int y) const {
    return const_cast<TBitmap*>(this)->ScanLine(y);
}

TColor TBitmap::Pixel(int x, int y) const {
    if (x < 0 || x >= FWidth) {
        throw EListError("Pixel index out of range");
    }
    const std::uint8_t* p = ScanLine(y) + x * BytesPerPixel(FPixelFormat);
    if (FPixelFormat == pf8bit) {
        return p[0] | (p[0] << 8) | (p[0] << 16);
    }
    return p[2] | (p[1] << 8) | (static_cast<TColor>(p[0]) << 16);
}

void TBitmap::Clear() {
    FWidth = FHeight = 0;
    FStride = 0;
    FPixels.clear();
}
