// Images of any format, size, row stride, colour table and device pixel
// ratio, as other programs may leave them on the clipboard, into the 24-bit
// frame: nothing is read outside the image, and every pixel is the toolkit's
// own 24-bit conversion (indices without a colour black).

#include "capture/ImageFrame.h"
#include "fuzz/FuzzInput.h"

#include <QImage>

#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

TColor Expected(QRgb colour) {
    return static_cast<TColor>(qRed(colour)) | static_cast<TColor>(qGreen(colour)) << 8 |
           static_cast<TColor>(qBlue(colour)) << 16;
}

bool Indexed(QImage::Format format) {
    return format == QImage::Format_Mono || format == QImage::Format_MonoLSB ||
           format == QImage::Format_Indexed8;
}

QRgb IndexedColour(const QImage& image, int x, int y) {
    const uchar* row = image.constScanLine(y);
    int index;
    if (image.format() == QImage::Format_Mono) {
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
    } else if (image.format() == QImage::Format_MonoLSB) {
        index = (row[x >> 3] >> (x & 7)) & 1;
    } else {
        index = row[x];
    }
    return index < image.colorCount() ? image.color(index) : qRgb(0, 0, 0);
}

// The frame the last call left, kept so that the next one can reuse it.
TBitmap Frame;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TFuzzInput input(data, size);
    const auto format =
        static_cast<QImage::Format>(input.Between(QImage::Format_Mono, QImage::NImageFormats - 1));
    const int width = input.Between(1, 70);
    const int height = input.Between(1, 40);
    const int depth = QImage(1, 1, format).depth();
    const int minimumStride = (width * depth + 7) / 8;
    const int stride = minimumStride + input.Between(0, 9);
    const int colours = input.Between(0, 300);
    const double ratio = 0.25 * input.Between(1, 16);

    // The pixel bytes exactly as large as the rows need: a read past the
    // image is a read past this buffer.
    std::vector<uchar> bytes(static_cast<std::size_t>(stride) * height);
    for (auto& byte : bytes) {
        byte = input.Byte();
    }
    QImage image(bytes.data(), width, height, stride, format);
    if (image.isNull()) {
        return 0;
    }
    if (Indexed(format)) {
        QList<QRgb> table;
        for (int i = 0; i < colours; ++i) {
            table.push_back(input.Word());
        }
        image.setColorTable(table);
    }
    image.setDevicePixelRatio(ratio);

    ImageToFrame(image, Frame);
    Check(Frame.PixelFormat() == pf24bit && Frame.Width() == width && Frame.Height() == height);
    const QImage reference =
        Indexed(format) ? QImage() : image.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb colour =
                Indexed(format) ? IndexedColour(image, x, y) : reference.pixel(x, y);
            Check(Frame.Pixel(x, y) == Expected(colour));
        }
    }
    return 0;
}
