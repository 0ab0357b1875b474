// The frame step's clipboard road with images that other programs may leave there.

#include "capture/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <gtest/gtest.h>

namespace {

void Offer(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image);
}

TBitmap Take() {
    TBitmap frame;
    TakeClipboardBitmap(frame);
    return frame;
}

TEST(Clipboard, OwnFramesArriveByteForByteAtOddWidths) {
    QImage image(5, 3, QImage::Format_BGR888);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            image.setPixelColor(x, y, QColor(10 * x, 20 * y, 7 + x + y));
        }
    }
    Offer(image);
    ASSERT_TRUE(ClipboardOffersBitmap());
    const TBitmap frame = Take();
    ASSERT_EQ(frame.Width(), 5);
    ASSERT_EQ(frame.Height(), 3);
    EXPECT_EQ(frame.PixelFormat(), pf24bit);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const TColor expected = (10 * x) | (20 * y) << 8 | (7 + x + y) << 16;
            EXPECT_EQ(frame.Pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST(Clipboard, OtherFormatsBecomeBlueGreenRed) {
    QImage gray(4, 2, QImage::Format_Grayscale8);
    gray.fill(77);
    QImage indexed(3, 3, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(10, 20, 30)});
    indexed.fill(1);
    QImage rgb(6, 1, QImage::Format_RGB888);
    rgb.fill(QColor(200, 100, 50));
    QImage opaque(2, 2, QImage::Format_ARGB32);
    opaque.fill(QColor(1, 2, 3));

    const struct {
        QImage Image;
        TColor Expected;
    } cases[] = {{gray, 0x4D4D4D}, {indexed, 0x1E140A}, {rgb, 0x3264C8}, {opaque, 0x030201}};
    for (const auto& c : cases) {
        Offer(c.Image);
        const TBitmap frame = Take();
        ASSERT_EQ(frame.Width(), c.Image.width()) << c.Image.format();
        ASSERT_EQ(frame.Height(), c.Image.height());
        EXPECT_EQ(frame.PixelFormat(), pf24bit);
        EXPECT_EQ(frame.Pixel(frame.Width() - 1, frame.Height() - 1), c.Expected)
            << c.Image.format();
    }
}

TEST(Clipboard, TranslucentTinyAndHugeImagesAreTakenWhole) {
    QImage translucent(3, 2, QImage::Format_ARGB32);
    translucent.fill(QColor(255, 0, 0, 0));
    Offer(translucent);
    TBitmap frame = Take();
    EXPECT_EQ(frame.Width(), 3);
    EXPECT_EQ(frame.Height(), 2);

    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(QColor(9, 8, 7));
    Offer(dot);
    frame = Take();
    ASSERT_EQ(frame.Width(), 1);
    EXPECT_EQ(frame.Pixel(0, 0), TColor{0x070809});

    QImage huge(4000, 3000, QImage::Format_ARGB32_Premultiplied);
    huge.fill(QColor(0, 255, 0));
    Offer(huge);
    frame = Take();
    ASSERT_EQ(frame.Width(), 4000);
    ASSERT_EQ(frame.Height(), 3000);
    EXPECT_EQ(frame.Pixel(3999, 2999), TColor{0x00FF00});
}

TEST(Clipboard, TextOrNothingLeavesTheFrameEmpty) {
    TBitmap frame;
    frame.SetPixelFormat(pf8bit);
    frame.SetSize(10, 10);
    QGuiApplication::clipboard()->setText("not a picture");
    EXPECT_FALSE(ClipboardOffersBitmap());
    TakeClipboardBitmap(frame);
    EXPECT_TRUE(frame.Empty());

    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(ClipboardOffersBitmap());
    TakeClipboardBitmap(frame);
    EXPECT_TRUE(frame.Empty());
}

TEST(Clipboard, AGrayTargetIsTurnedIntoAColourFrame) {
    TBitmap frame;
    frame.SetPixelFormat(pf8bit);
    frame.SetSize(2, 2);
    QImage image(3, 3, QImage::Format_RGB32);
    image.fill(QColor(40, 50, 60));
    Offer(image);
    TakeClipboardBitmap(frame);
    EXPECT_EQ(frame.PixelFormat(), pf24bit);
    EXPECT_EQ(frame.Width(), 3);
    EXPECT_EQ(frame.Pixel(2, 2), TColor{0x3C3228});
}

} // namespace
