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

inline QRgb Opaque(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return 0xff000000u | red << 16 | green << 8 | blue;
}

// The source columns of the pixels shown, as `Step` whole columns from the
// first when the part is a whole multiple of the width shown (the usual 1:1
// and 2:1), else from the table of TScreenSampling::Columns (Step 0).
struct TColumns {
    int First = 0;
    int Step = 0;
    const int* Table = nullptr;
    int Count = 0;
};

TColumns ColumnsShown(QRect part, int width, std::vector<int>& table) {
    if (part.width() >= width && part.width() % width == 0) {
        const int step = part.width() / width;
        // The centre of cell i, part.left() + (2i + 1) * step / 2, is i whole steps
        // from the first cell's.
        return {part.left() + step / 2, step, nullptr, width};
    }
    table.resize(static_cast<std::size_t>(width));
    TSamplePositions column(part.left(), part.width(), width);
    for (int& value : table) {
        value = *column;
        ++column;
    }
    return {0, 0, table.data(), width};
}

// Column access for the sampling loops, inlined into each: evenly spaced or
// from the table.
struct TSteppedColumns {
    int First;
    int Step;
    int operator[](int x) const { return First + Step * x; }
};
struct TTableColumns {
    const int* __restrict Table;
    int operator[](int x) const { return Table[x]; }
};

template <class TColumnOf>
void SampleBgrRow(const std::uint8_t* __restrict row, TColumnOf column, int count,
                  QRgb* __restrict target) {
    for (int x = 0; x < count; ++x) {
        const std::uint8_t* p = row + 3 * static_cast<std::ptrdiff_t>(column[x]);
        target[x] = Opaque(p[2], p[1], p[0]);
    }
}

template <class TColumnOf>
void SampleGrayRow(const std::uint8_t* __restrict row, TColumnOf column, int count,
                   QRgb* __restrict target) {
    for (int x = 0; x < count; ++x) {
        target[x] = 0xff000000u | 0x010101u * row[column[x]];
    }
}

// Picks the Y, U and V samples of the columns shown into one 0x00VVUUYY
// word per pixel, where the pixel's colour goes; a column's chroma is at
// (column / 2) << chromaShift. One store per pixel, through pointers that
// alias nothing, so that the compiler keeps the planes and the table in
// registers.
template <class TColumnOf>
void GatherYuv(const std::uint8_t* __restrict luma, const std::uint8_t* __restrict u,
               const std::uint8_t* __restrict v, int chromaShift, TColumnOf column, int count,
               std::uint32_t* __restrict packed) {
    for (int x = 0; x < count; ++x) {
        const int at = column[x];
        const std::ptrdiff_t pair = static_cast<std::ptrdiff_t>(at >> 1) << chromaShift;
        packed[x] = luma[at] | std::uint32_t{u[pair]} << 8 | std::uint32_t{v[pair]} << 16;
    }
}

// One row of the picture from source row `y` of a YUV frame. At 1:1 the row
// is converted as it is; at 2:1 every other luma sample is taken with the
// chroma pairs in order (column 2i + first shares pair i + first / 2);
// otherwise the samples are picked into the row, then converted there eight
// at a time.
void SampleYuvRow(const TFrameView& frame, int y, const TColumns& columns, QRgb* target) {
    const std::uint8_t* luma = Row(frame, 0, y);
    const std::uint8_t* u = Row(frame, 1, y / 2);
    const std::uint8_t* v = Row(frame, 2, y / 2);
    int chromaStep = 1;
    if (frame.Format == TFrameFormat::Nv12) {
        v = u + 1;
        chromaStep = 2;
    }
    const int first = columns.First;
    const std::ptrdiff_t firstPair = static_cast<std::ptrdiff_t>(first >> 1) * chromaStep;
    if (columns.Step == 1) {
        // An odd first column has its pair to itself; the rest starts a pair.
        const int alone = first & 1;
        if (alone) {
            YuvRowToRgb32(luma + first, u + firstPair, v + firstPair, chromaStep, target, 1,
                          frame.Colors);
        }
        const std::ptrdiff_t pair = firstPair + alone * chromaStep;
        YuvRowToRgb32(luma + first + alone, u + pair, v + pair, chromaStep, target + alone,
                      columns.Count - alone, frame.Colors);
        return;
    }
    if (columns.Step == 2) {
        YuvHalvedRowToRgb32(luma + first, u + firstPair, v + firstPair, chromaStep, target,
                            columns.Count, frame.Colors);
        return;
    }
    const int shift = chromaStep - 1;
    if (columns.Step > 0) {
        GatherYuv(luma, u, v, shift, TSteppedColumns{first, columns.Step}, columns.Count, target);
    } else {
        GatherYuv(luma, u, v, shift, TTableColumns{columns.Table}, columns.Count, target);
    }
    YuvPackedToRgb32(target, columns.Count, frame.Colors);
}

template <class TColumnOf>
void SamplePackedRow(const TFrameView& frame, const std::uint8_t* row, TColumnOf column, int count,
                     QRgb* target) {
    if (frame.Format == TFrameFormat::Bgr24) {
        SampleBgrRow(row, column, count, target);
    } else {
        SampleGrayRow(row, column, count, target);
    }
}

void SampleRow(const TFrameView& frame, int y, const TColumns& columns, QRgb* target) {
    switch (frame.Format) {
    case TFrameFormat::Bgr24:
    case TFrameFormat::Gray8:
        if (columns.Step > 0) {
            SamplePackedRow(frame, Row(frame, 0, y), TSteppedColumns{columns.First, columns.Step},
                            columns.Count, target);
        } else {
            SamplePackedRow(frame, Row(frame, 0, y), TTableColumns{columns.Table}, columns.Count,
                            target);
        }
        break;
    case TFrameFormat::I420:
    case TFrameFormat::Nv12:
        SampleYuvRow(frame, y, columns, target);
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

void TFrameCopy::Assign(const TFrameView& frame) {
    CheckFrameView(frame);
    FPictureMade = false;
    if (frame.Empty()) {
        FView = TFrameView{};
        return;
    }
    const TPlaneLayout layout = PlaneLayoutOf(frame);
    std::size_t bytes = 0;
    for (int plane = 0; plane < layout.Count; ++plane) {
        bytes += static_cast<std::size_t>(layout.RowBytes[plane]) *
                 static_cast<std::size_t>(layout.Rows[plane]);
    }
    if (FStorage.size() != bytes) {
        FStorage.resize(bytes);
    }
    FView = TFrameView{};
    FView.Format = frame.Format;
    FView.Width = frame.Width;
    FView.Height = frame.Height;
    FView.Colors = frame.Colors;
    std::uint8_t* target = FStorage.data();
    for (int plane = 0; plane < layout.Count; ++plane) {
        const auto rowBytes = static_cast<std::size_t>(layout.RowBytes[plane]);
        FView.Plane[plane] = target;
        FView.Stride[plane] = static_cast<int>(rowBytes);
        for (int y = 0; y < layout.Rows[plane]; ++y, target += rowBytes) {
            std::memcpy(target, Row(frame, plane, y), rowBytes);
        }
    }
}

const QImage& TFrameCopy::Picture() const {
    if (!FPictureMade) {
        FrameToBgrImage(FView, FPicture);
        FPictureMade = true;
    }
    return FPicture;
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
    const TColumns columns = ColumnsShown(part, size.width(), work.Columns);
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
        SampleRow(frame, sampled, columns, target);
    }
}
