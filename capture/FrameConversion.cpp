#include "capture/FrameConversion.h"

#include "engine/YuvConversion.h"

#include <cstdint>
#include <cstring>

namespace {

const std::uint8_t* Row(const TFrameView& frame, int plane, int y) {
    return frame.Plane[plane] + static_cast<std::ptrdiff_t>(y) * frame.Stride[plane];
}

void ConvertRow(const TFrameView& frame, int y, std::uint8_t* bgr) {
    const int width = frame.Width;
    switch (frame.Format) {
    case TFrameFormat::Bgr24:
        std::memcpy(bgr, Row(frame, 0, y), static_cast<std::size_t>(width) * 3);
        break;
    case TFrameFormat::Gray8: {
        const std::uint8_t* gray = Row(frame, 0, y);
        for (int x = 0; x < width; ++x) {
            bgr[3 * x] = bgr[3 * x + 1] = bgr[3 * x + 2] = gray[x];
        }
        break;
    }
    case TFrameFormat::I420:
        YuvRowToBgr(Row(frame, 0, y), Row(frame, 1, y / 2), Row(frame, 2, y / 2), 1, bgr, width,
                    frame.Colors);
        break;
    case TFrameFormat::Nv12: {
        const std::uint8_t* chroma = Row(frame, 1, y / 2);
        YuvRowToBgr(Row(frame, 0, y), chroma, chroma + 1, 2, bgr, width, frame.Colors);
        break;
    }
    }
}

// The positions part.left() + (2i + 1) * part.width() / (2 * count), i = 0,
// 1, ...: the centres of `count` equal cells over the part, found by adding
// the quotient and the remainder of one step rather than dividing per pixel.
class TSamplePositions {
public:
    TSamplePositions(int first, int length, int count)
        : FCells(2 * std::int64_t{count}), FStepWhole(std::int64_t{length} / count),
          FStepRest(2 * std::int64_t{length} % FCells), FWhole(first + length / FCells),
          FRest(length % FCells) {}

    int operator*() const { return static_cast<int>(FWhole); }
    void operator++() {
        FWhole += FStepWhole;
        FRest += FStepRest;
        if (FRest >= FCells) {
            ++FWhole;
            FRest -= FCells;
        }
    }

private:
    std::int64_t FCells;
    std::int64_t FStepWhole;
    std::int64_t FStepRest;
    std::int64_t FWhole;
    std::int64_t FRest;
};

// One row of the screen picture from source row `y`, at the given columns;
// `pixel(row, x)` gives the colour of pixel x of that row.
template <class Pixel>
void SampleRow(const TFrameView& frame, int y, TSamplePositions columns, QRgb* target, int width,
               Pixel pixel) {
    const std::uint8_t* row = Row(frame, 0, y);
    for (int x = 0; x < width; ++x, ++columns) {
        target[x] = pixel(row, *columns);
    }
}

// Converts the columns `first` .. `first` + `count` - 1 of source row `y` of a
// YUV frame with the vector kernel; `first` is even, where a chroma pair starts.
void ConvertYuvRun(const TFrameView& frame, int y, int first, int count, std::uint8_t* bgr) {
    const std::uint8_t* luma = Row(frame, 0, y) + first;
    if (frame.Format == TFrameFormat::I420) {
        YuvRowToBgr(luma, Row(frame, 1, y / 2) + first / 2, Row(frame, 2, y / 2) + first / 2, 1,
                    bgr, count, frame.Colors);
    } else {
        const std::uint8_t* chroma = Row(frame, 1, y / 2) + first;
        YuvRowToBgr(luma, chroma, chroma + 1, 2, bgr, count, frame.Colors);
    }
}

// The pixels at the centres of `width` cells of `step` pixels each (the whole
// row, or every second pixel of a picture shown at half its size).
void PackEvery(const std::uint8_t* bgr, int step, QRgb* target, int width) {
    const std::uint8_t* p = bgr + 3 * (step / 2);
    const std::ptrdiff_t stride = 3 * static_cast<std::ptrdiff_t>(step);
    for (int x = 0; x < width; ++x, p += stride) {
        target[x] = qRgb(p[2], p[1], p[0]);
    }
}

// The display's usual case, a YUV frame shown at half its size or larger: each
// source row used is converted once, whole, with the vector kernel (about a
// tenth of the cost of a pixel at a time) and sampled from `rowBuffer`; a
// shown row that repeats the source row of the one above is copied.
void SampleYuvRows(const TFrameView& frame, QRect part, QSize size, QImage& shown,
                   std::vector<std::uint8_t>& rowBuffer) {
    const int first = part.left() & ~1;
    const int count = part.left() + part.width() - first;
    rowBuffer.resize(3 * static_cast<std::size_t>(count));
    const std::uint8_t* shifted = rowBuffer.data() + 3 * (part.left() - first);
    TSamplePositions rows(part.top(), part.height(), size.height());
    int converted = -1;
    for (int y = 0; y < size.height(); ++y, ++rows) {
        auto* target = reinterpret_cast<QRgb*>(shown.scanLine(y));
        if (*rows == converted) {
            std::memcpy(target, shown.constScanLine(y - 1),
                        4 * static_cast<std::size_t>(size.width()));
            continue;
        }
        converted = *rows;
        ConvertYuvRun(frame, converted, first, count, rowBuffer.data());
        if (part.width() % size.width() == 0) {
            PackEvery(shifted, part.width() / size.width(), target, size.width());
            continue;
        }
        TSamplePositions columns(0, part.width(), size.width());
        for (int x = 0; x < size.width(); ++x, ++columns) {
            const std::uint8_t* p = shifted + 3 * static_cast<std::ptrdiff_t>(*columns);
            target[x] = qRgb(p[2], p[1], p[0]);
        }
    }
}

} // namespace

TFrameView BgrImageView(const QImage& image) {
    TFrameView view;
    if (image.isNull() || image.format() != QImage::Format_BGR888) {
        return view;
    }
    view.Format = TFrameFormat::Bgr24;
    view.Width = image.width();
    view.Height = image.height();
    view.Plane[0] = image.constBits();
    view.Stride[0] = static_cast<int>(image.bytesPerLine());
    return view;
}

void FrameToBgrImage(const TFrameView& frame, QImage& target) {
    CheckFrameView(frame);
    if (frame.Empty()) {
        target = QImage();
        return;
    }
    if (target.width() != frame.Width || target.height() != frame.Height ||
        target.format() != QImage::Format_BGR888 || !target.isDetached()) {
        target = QImage(frame.Width, frame.Height, QImage::Format_BGR888);
    }
    for (int y = 0; y < frame.Height; ++y) {
        ConvertRow(frame, y, target.scanLine(y));
    }
}

void SampleFrameForScreen(const TFrameView& frame, QRect part, QSize size, QImage& shown,
                          std::vector<std::uint8_t>& rowBuffer) {
    CheckFrameView(frame);
    if (shown.size() != size || shown.format() != QImage::Format_RGB32) {
        shown = QImage(size, QImage::Format_RGB32);
    }
    if (size.isEmpty()) {
        return;
    }
    const bool yuv = frame.Format == TFrameFormat::I420 || frame.Format == TFrameFormat::Nv12;
    if (yuv && part.width() <= 2 * size.width()) {
        SampleYuvRows(frame, part, size, shown, rowBuffer);
        return;
    }
    const TSamplePositions firstColumn(part.left(), part.width(), size.width());
    const TYuvColors colors = frame.Colors;
    TSamplePositions rows(part.top(), part.height(), size.height());
    for (int y = 0; y < size.height(); ++y, ++rows) {
        auto* target = reinterpret_cast<QRgb*>(shown.scanLine(y));
        const auto sample = [&](auto pixel) {
            SampleRow(frame, *rows, firstColumn, target, size.width(), pixel);
        };
        switch (frame.Format) {
        case TFrameFormat::Bgr24:
            sample([](const std::uint8_t* row, int x) {
                const std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(x);
                return qRgb(p[2], p[1], p[0]);
            });
            break;
        case TFrameFormat::Gray8:
            sample([](const std::uint8_t* row, int x) { return qRgb(row[x], row[x], row[x]); });
            break;
        case TFrameFormat::I420: {
            const std::uint8_t* u = Row(frame, 1, *rows / 2);
            const std::uint8_t* v = Row(frame, 2, *rows / 2);
            sample([&](const std::uint8_t* row, int x) {
                std::uint8_t bgr[3];
                YuvToBgr(row[x], u[x / 2], v[x / 2], colors, bgr);
                return qRgb(bgr[2], bgr[1], bgr[0]);
            });
            break;
        }
        case TFrameFormat::Nv12: {
            const std::uint8_t* chroma = Row(frame, 1, *rows / 2);
            sample([&](const std::uint8_t* row, int x) {
                const std::uint8_t* pair = chroma + 2 * static_cast<std::ptrdiff_t>(x / 2);
                std::uint8_t bgr[3];
                YuvToBgr(row[x], pair[0], pair[1], colors, bgr);
                return qRgb(bgr[2], bgr[1], bgr[0]);
            });
            break;
        }
        }
    }
}
