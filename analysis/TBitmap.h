#pragma once
// The raster image of the whole system: 8-bit gray frames, 24-bit
// blue-green-red colour frames and difference images. Rows are stored top
// first and padded to 4 bytes; nothing reads or writes past a row's pixels.

#include "types/TColor.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

enum TPixelFormat { pf8bit, pf24bit, pf32bit };

class TBitmap;

// Pixel storage that starts on a cache line (64 bytes), so that the image
// kernels can write whole lines of it.
template <class T> struct TCacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t Alignment{64};
    TCacheLineAllocator() = default;
    template <class U> TCacheLineAllocator(const TCacheLineAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) {
        return static_cast<T*>(::operator new(count * sizeof(T), Alignment));
    }
    void deallocate(T* block, std::size_t) noexcept { ::operator delete(block, Alignment); }
    template <class U> bool operator==(const TCacheLineAllocator<U>&) const noexcept {
        return true;
    }
};

// The drawing surface of a bitmap: pen and brush colours and the operations
// the system draws with. Everything is clipped at the image edges.
class TCanvas {
public:
    explicit TCanvas(TBitmap& owner) : Owner(owner) {}

    TColor PenColor = clBlack;
    TColor BrushColor = clWhite;

    // Filled rectangle from (x1, y1) to (x2, y2), right and bottom edges
    // excluded, outlined by a 1-pixel pen and filled with the brush.
    void Rectangle(int x1, int y1, int x2, int y2);
    void SetPixel(int x, int y, TColor color);

private:
    TBitmap& Owner;
};

class TBitmap {
public:
    TBitmap();
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    ~TBitmap() = default;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }

    // Resizing keeps the pixels of the overlapping area; new pixels are black.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);
    // Changing the format converts the pixels: gray is spread to three
    // channels, colour keeps its blue, green and red bytes, and colour to gray
    // takes the green byte (the system converts to gray only through
    // ConvertToGray).
    void SetPixelFormat(TPixelFormat format);
    // Gives the image this size and format in one step for an image whose
    // pixels are about to be overwritten: the pixels are kept when the shape
    // is unchanged and all black otherwise (no conversion of the old ones).
    void Allocate(int width, int height, TPixelFormat format);

    // Row y, row 0 at the top; throws EListError outside 0..Height()-1.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    // Bytes from one row to the next (at least the row's own pixels, a multiple of 4).
    std::size_t Stride() const { return FStride; }
    static int BytesPerPixel(TPixelFormat format);

    // Colour of pixel (x, y) as TColor; gray pixels read as equal channels.
    TColor Pixel(int x, int y) const;

    TCanvas& Canvas() { return FCanvas; }

    // Releases the pixels; the format stays.
    void Clear();

private:
    void Reshape(int width, int height, TPixelFormat format);
    static std::size_t StrideFor(int width, TPixelFormat format);

    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FPixelFormat = pf24bit;
    std::size_t FStride = 0;
    std::vector<std::uint8_t, TCacheLineAllocator<std::uint8_t>> FPixels;
    TCanvas FCanvas;
};
