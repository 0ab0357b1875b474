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

// The source columns of the pixels shown.
void FillColumns(QRect part, int width, std::vector<int>& columns) {
    columns.resize(static_cast<std::size_t>(width));
    TSamplePositions column(part.left(), part.width(), width);
    for (int& value : columns) {
        value = *column;
        ++column;
    }
}

inline QRgb Opaque(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return 0xff000000u | red << 16 | green << 8 | blue;
}

// One row of the picture from source row `y`: the Y, U and V samples of the
// columns shown are picked from the planes, then converted eight at a time.
void SampleYuvRow(const TFrameView& frame, int y, TScreenSampling& work, QRgb* target) {
    const std::uint8_t* luma = Row(frame, 0, y);
    const std::uint8_t* u = Row(frame, 1, y / 2);
    const std::uint8_t* v = Row(frame, 2, y / 2);
    int chromaShift = 0; // a column's chroma at (column / 2) << shift
    if (frame.Format == TFrameFormat::Nv12) {
        v = u + 1;
        chromaShift = 1;
    }
    const std::size_t width = work.Columns.size();
    for (std::size_t x = 0; x < width; ++x) {
        const int column = work.Columns[x];
        const std::ptrdiff_t pair = static_cast<std::ptrdiff_t>(column >> 1) << chromaShift;
        work.Luma[x] = luma[column];
        work.U[x] = u[pair];
        work.V[x] = v[pair];
    }
    YuvPixelsToRgb32(work.Luma.data(), work.U.data(), work.V.data(), target,
                     static_cast<int>(width), frame.Colors);
}

void SampleRow(const TFrameView& frame, int y, TScreenSampling& work, QRgb* target) {
    const std::uint8_t* row = Row(frame, 0, y);
    const std::size_t width = work.Columns.size();
    switch (frame.Format) {
    case TFrameFormat::Bgr24:
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(work.Columns[x]);
            target[x] = Opaque(p[2], p[1], p[0]);
        }
        break;
    case TFrameFormat::Gray8:
        for (std::size_t x = 0; x < width; ++x) {
            target[x] = 0xff000000u | 0x010101u * row[work.Columns[x]];
        }
        break;
    case TFrameFormat::I420:
    case TFrameFormat::Nv12:
        SampleYuvRow(frame, y, work, target);
        break;
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
                          TScreenSampling& work) {
    CheckFrameView(frame);
    if (shown.size() != size || shown.format() != QImage::Format_RGB32) {
        shown = QImage(size, QImage::Format_RGB32);
    }
    if (size.isEmpty()) {
        return;
    }
    FillColumns(part, size.width(), work.Columns);
    for (std::vector<std::uint8_t>* samples : {&work.Luma, &work.U, &work.V}) {
        samples->resize(work.Columns.size());
    }
    TSamplePositions rows(part.top(), part.height(), size.height());
    int sampled = -1;
    for (int y = 0; y < size.height(); ++y, ++rows) {
        auto* target = reinterpret_cast<QRgb*>(shown.scanLine(y));
        if (*rows == sampled) {
            // A picture taller than the part: the row above shows the same source row.
            std::memcpy(target, shown.constScanLine(y - 1),
                        4 * static_cast<std::size_t>(size.width()));
            continue;
        }
        sampled = *rows;
        SampleRow(frame, sampled, work, target);
    }
}
