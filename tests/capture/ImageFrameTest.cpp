// Images of every kind that other programs may leave on the clipboard, turned
// into the 24-bit frame of the frame step.

#include "capture/ImageFrame.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// TColor is 0x00BBGGRR.
TColor Expected(QRgb colour) {
    return static_cast<TColor>(qRed(colour)) | static_cast<TColor>(qGreen(colour)) << 8 |
           static_cast<TColor>(qBlue(colour)) << 16;
}

// Distinct colours and alphas in every pixel, so that a channel swap, a
// shifted column or a dropped row shows.
QImage Pattern(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int alpha = (x + y) % 3 == 0 ? 255 : (x + y) % 3 == 1 ? 128 : 1;
            image.setPixel(x, y, qRgba(17 * x + 3, 29 * y + 5, 7 * x + 11 * y + 1, alpha));
        }
    }
    return image;
}

// The frame holds the toolkit's own 24-bit conversion of the image.
void ExpectFrameReadsLike(const TBitmap& frame, const QImage& image) {
    ASSERT_EQ(frame.PixelFormat(), pf24bit);
    ASSERT_EQ(frame.Width(), image.width());
    ASSERT_EQ(frame.Height(), image.height());
    const QImage reference = image.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ASSERT_EQ(frame.Pixel(x, y), Expected(reference.pixel(x, y)))
                << "format " << image.format() << " at " << x << "," << y;
        }
    }
}

TEST(ImageFrame, EveryFormatReadsAsTheToolkitsOwn24BitConversion) {
    const QImage pattern = Pattern(7, 5);
    for (int f = QImage::Format_Mono; f < QImage::NImageFormats; ++f) {
        const auto format = static_cast<QImage::Format>(f);
        const QImage image = pattern.convertToFormat(format);
        ASSERT_FALSE(image.isNull()) << f;
        TBitmap frame;
        ImageToFrame(image, frame);
        ExpectFrameReadsLike(frame, image);
    }
}

TEST(ImageFrame, AlphaIsDroppedAndTheColourKept) {
    QImage straight(3, 1, QImage::Format_ARGB32);
    straight.setPixel(0, 0, qRgba(200, 100, 50, 0));
    straight.setPixel(1, 0, qRgba(200, 100, 50, 128));
    straight.setPixel(2, 0, qRgba(200, 100, 50, 255));
    for (const QImage& image : {straight, straight.convertToFormat(QImage::Format_RGBA8888),
                                straight.convertToFormat(QImage::Format_RGBA64)}) {
        TBitmap frame;
        ImageToFrame(image, frame);
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(frame.Pixel(x, 0), TColor{0x3264C8}) << image.format() << " x " << x;
        }
    }

    // Premultiplied pixels are unpremultiplied: half of (200, 100, 50) at alpha 128.
    QImage premultiplied(1, 1, QImage::Format_ARGB32_Premultiplied);
    premultiplied.setPixel(0, 0, qRgba(100, 50, 25, 128));
    TBitmap frame;
    ImageToFrame(premultiplied, frame);
    EXPECT_EQ(frame.Pixel(0, 0), Expected(qUnpremultiply(qRgba(100, 50, 25, 128))));
    EXPECT_EQ(frame.Pixel(0, 0) & 0xFF, 199u);
}

TEST(ImageFrame, MissingColourTableEntriesReadAsBlack) {
    QImage empty8(4, 2, QImage::Format_Indexed8);
    empty8.fill(3);
    QImage short8(4, 1, QImage::Format_Indexed8);
    short8.setColorTable({qRgb(10, 20, 30), qRgba(40, 50, 60, 0)});
    const uchar indices[] = {0, 1, 2, 255};
    std::memcpy(short8.scanLine(0), indices, 4);
    QImage emptyMono(9, 2, QImage::Format_Mono);
    emptyMono.setColorTable({});
    emptyMono.fill(1);
    QImage shortMono(9, 1, QImage::Format_MonoLSB);
    shortMono.setColorTable({qRgb(1, 2, 3)});
    shortMono.fill(0);
    shortMono.setPixel(8, 0, 1);

    TBitmap frame;
    ImageToFrame(empty8, frame);
    EXPECT_EQ(frame.Pixel(3, 1), clBlack);
    ImageToFrame(short8, frame);
    EXPECT_EQ(frame.Pixel(0, 0), TColor{0x1E140A});
    EXPECT_EQ(frame.Pixel(1, 0), TColor{0x3C3228}) << "alpha 0 keeps its colour";
    EXPECT_EQ(frame.Pixel(2, 0), clBlack);
    EXPECT_EQ(frame.Pixel(3, 0), clBlack);
    ImageToFrame(emptyMono, frame);
    EXPECT_EQ(frame.Pixel(8, 1), clBlack);
    ImageToFrame(shortMono, frame);
    EXPECT_EQ(frame.Pixel(7, 0), TColor{0x030201});
    EXPECT_EQ(frame.Pixel(8, 0), clBlack);
}

TEST(ImageFrame, DevicePixelRatioAndRowPaddingChangeNothing) {
    QImage scaled = Pattern(6, 4).convertToFormat(QImage::Format_RGB32);
    scaled.setDevicePixelRatio(2.5);
    TBitmap frame;
    ImageToFrame(scaled, frame);
    ExpectFrameReadsLike(frame, scaled);

    // Rows 5 bytes longer than their pixels, the padding filled with noise.
    const int width = 5, height = 3, stride = width * 3 + 5;
    std::vector<uchar> bytes(static_cast<std::size_t>(stride) * height, 0xAB);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            bytes[static_cast<std::size_t>(y * stride + x)] = static_cast<uchar>(y * 40 + x);
        }
    }
    const QImage padded(bytes.data(), width, height, stride, QImage::Format_BGR888);
    ImageToFrame(padded, frame);
    ExpectFrameReadsLike(frame, padded);
    EXPECT_EQ(frame.Pixel(4, 2), TColor{0x5C5D5E});
}

TEST(ImageFrame, AFrameOfUnchangedSizeKeepsItsStorage) {
    TBitmap frame;
    ImageToFrame(Pattern(8, 6).convertToFormat(QImage::Format_BGR888), frame);
    const std::uint8_t* storage = frame.ScanLine(0);
    for (QImage::Format format : {QImage::Format_BGR888, QImage::Format_RGB32,
                                  QImage::Format_Indexed8, QImage::Format_RGBA64}) {
        ImageToFrame(Pattern(8, 6).convertToFormat(format), frame);
        EXPECT_EQ(frame.ScanLine(0), storage) << format;
    }

    ImageToFrame(QImage(), frame);
    EXPECT_TRUE(frame.Empty());
    TBitmap gray;
    gray.Allocate(2, 2, pf8bit);
    ImageToFrame(Pattern(3, 3), gray);
    ExpectFrameReadsLike(gray, Pattern(3, 3));
}

} // namespace
