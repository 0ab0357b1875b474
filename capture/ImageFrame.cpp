#include "capture/ImageFrame.h"

#include <QImage>
#include <QRgb>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

using TRow = std::uint8_t*;
using TSourceRow = const std::uint8_t*;

void Put(TRow out, int x, QRgb colour) {
    std::uint8_t* p = out + 3 * x;
    p[0] = static_cast<std::uint8_t>(qBlue(colour));
    p[1] = static_cast<std::uint8_t>(qGreen(colour));
    p[2] = static_cast<std::uint8_t>(qRed(colour));
}

// Bytes in memory: blue, green, red, then one byte that is dropped.
void CopyBgrxRow(TSourceRow in, TRow out, int width) {
    for (int x = 0; x < width; ++x) {
        out[3 * x] = in[4 * x];
        out[3 * x + 1] = in[4 * x + 1];
        out[3 * x + 2] = in[4 * x + 2];
    }
}

// Bytes in memory: red, green, blue, then one byte that is dropped.
void CopyRgbxRow(TSourceRow in, TRow out, int width) {
    for (int x = 0; x < width; ++x) {
        out[3 * x] = in[4 * x + 2];
        out[3 * x + 1] = in[4 * x + 1];
        out[3 * x + 2] = in[4 * x];
    }
}

void CopyRgbRow(TSourceRow in, TRow out, int width) {
    for (int x = 0; x < width; ++x) {
        out[3 * x] = in[3 * x + 2];
        out[3 * x + 1] = in[3 * x + 1];
        out[3 * x + 2] = in[3 * x];
    }
}

void CopyGrayRow(TSourceRow in, TRow out, int width) {
    for (int x = 0; x < width; ++x) {
        out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    }
}

// The colour table padded to every index an image of this depth can hold;
// indices past the table read as black.
std::array<QRgb, 256> Palette(const QImage& image) {
    std::array<QRgb, 256> palette;
    palette.fill(qRgb(0, 0, 0));
    const int entries = std::min<int>(image.colorCount(), 256);
    for (int i = 0; i < entries; ++i) {
        palette[static_cast<std::size_t>(i)] = image.color(i);
    }
    return palette;
}

void CopyIndexedRows(const QImage& image, TBitmap& target) {
    const std::array<QRgb, 256> palette = Palette(image);
    const int width = image.width();
    const QImage::Format format = image.format();
    for (int y = 0; y < image.height(); ++y) {
        const TSourceRow in = image.constScanLine(y);
        const TRow out = target.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int index;
            if (format == QImage::Format_Indexed8) {
                index = in[x];
            } else if (format == QImage::Format_Mono) {
                index = (in[x >> 3] >> (7 - (x & 7))) & 1;
            } else {
                index = (in[x >> 3] >> (x & 7)) & 1;
            }
            Put(out, x, palette[static_cast<std::size_t>(index)]);
        }
    }
}

void CopyBgrRow(TSourceRow in, TRow out, int width) {
    std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
}

template <class RowCopy> void CopyRows(const QImage& image, TBitmap& target, RowCopy copy) {
    for (int y = 0; y < image.height(); ++y) {
        copy(image.constScanLine(y), target.ScanLine(y), image.width());
    }
}

} // namespace

void ImageToFrame(const QImage& image, TBitmap& target) {
    if (image.isNull()) {
        target.Clear();
        return;
    }
    // Every pixel is written below: the old content needs no keeping.
    target.Allocate(image.width(), image.height(), pf24bit);
    const bool littleEndian = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    switch (image.format()) {
    case QImage::Format_BGR888:
        CopyRows(image, target, CopyBgrRow);
        return;
    case QImage::Format_RGB888:
        CopyRows(image, target, CopyRgbRow);
        return;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        if (littleEndian) {
            CopyRows(image, target, CopyBgrxRow);
            return;
        }
        break;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        CopyRows(image, target, CopyRgbxRow);
        return;
    case QImage::Format_Grayscale8:
        CopyRows(image, target, CopyGrayRow);
        return;
    case QImage::Format_Indexed8:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        CopyIndexedRows(image, target);
        return;
    default:
        break;
    }
    // Formats no grab produces (premultiplied, packed, deeper or floating
    // point channels) through the toolkit's own 24-bit conversion, which
    // unpremultiplies and rounds deeper channels to 8 bits: one transient copy.
    const QImage converted = image.convertToFormat(QImage::Format_BGR888);
    CopyRows(converted, target, CopyBgrRow);
}
