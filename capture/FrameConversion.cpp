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

// The colour of pixel `x` of row `y`.
QRgb PixelAt(const TFrameView& frame, int x, int y) {
    std::uint8_t bgr[3];
    switch (frame.Format) {
    case TFrameFormat::Bgr24: {
        const std::uint8_t* p = Row(frame, 0, y) + 3 * static_cast<std::ptrdiff_t>(x);
        return qRgb(p[2], p[1], p[0]);
    }
    case TFrameFormat::Gray8: {
        const std::uint8_t gray = Row(frame, 0, y)[x];
        return qRgb(gray, gray, gray);
    }
    case TFrameFormat::I420: {
        const int pair = x / 2;
        YuvToBgr(Row(frame, 0, y)[x], Row(frame, 1, y / 2)[pair], Row(frame, 2, y / 2)[pair],
                 frame.Colors, bgr);
        break;
    }
    case TFrameFormat::Nv12: {
        const std::uint8_t* chroma = Row(frame, 1, y / 2) + 2 * static_cast<std::ptrdiff_t>(x / 2);
        YuvToBgr(Row(frame, 0, y)[x], chroma[0], chroma[1], frame.Colors, bgr);
        break;
    }
    }
    return qRgb(bgr[2], bgr[1], bgr[0]);
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

void SampleFrameForScreen(const TFrameView& frame, QRect part, QSize size, QImage& shown) {
    CheckFrameView(frame);
    if (shown.size() != size || shown.format() != QImage::Format_RGB32) {
        shown = QImage(size, QImage::Format_RGB32);
    }
    for (int y = 0; y < size.height(); ++y) {
        const auto row = static_cast<int>(part.top() + (2 * y + 1) * qint64{part.height()} /
                                                           (2 * size.height()));
        auto* target = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const auto column = static_cast<int>(part.left() + (2 * x + 1) * qint64{part.width()} /
                                                                   (2 * size.width()));
            target[x] = PixelAt(frame, column, row);
        }
    }
}
