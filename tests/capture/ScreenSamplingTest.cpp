// The live display's picture, sampled straight from a frame in its decoded
// format, against the exact conversion of the whole frame: every format, odd
// sizes, rows padded past the width, parts away from the origin, pictures
// smaller and larger than the part. Planes are allocated to their last byte,
// so that a read past them shows under AddressSanitizer.

#include "capture/FrameConversion.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A frame of random bytes (padding included) in one of the four formats.
struct TRandomFrame {
    std::vector<std::uint8_t> Planes[3];
    TFrameView View;

    TRandomFrame(TFrameFormat format, int width, int height, unsigned seed) {
        std::mt19937 random(seed);
        const int chromaWidth = (width + 1) / 2;
        const int chromaHeight = (height + 1) / 2;
        View.Format = format;
        View.Width = width;
        View.Height = height;
        View.Colors = TYuvColors::Bt709Studio;
        const auto plane = [&](int index, int rowBytes, int rows) {
            View.Stride[index] = rowBytes + 5; // padded rows
            Planes[index].resize(std::size_t(View.Stride[index]) * rows);
            for (auto& byte : Planes[index]) {
                byte = static_cast<std::uint8_t>(random());
            }
            View.Plane[index] = Planes[index].data();
        };
        switch (format) {
        case TFrameFormat::Bgr24:
            plane(0, 3 * width, height);
            break;
        case TFrameFormat::Gray8:
            plane(0, width, height);
            break;
        case TFrameFormat::I420:
            plane(0, width, height);
            plane(1, chromaWidth, chromaHeight);
            plane(2, chromaWidth, chromaHeight);
            break;
        case TFrameFormat::Nv12:
            plane(0, width, height);
            plane(1, 2 * chromaWidth, chromaHeight);
            break;
        }
    }
};

// The pixel shown at (x, y) is the exact conversion's pixel at the centre of its cell.
int WrongPixels(const QImage& exact, const QImage& shown, QRect part) {
    int wrong = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const int row = part.top() + (2 * y + 1) * part.height() / (2 * shown.height());
        for (int x = 0; x < shown.width(); ++x) {
            const int column = part.left() + (2 * x + 1) * part.width() / (2 * shown.width());
            const uchar* bgr = exact.constScanLine(row) + 3 * column;
            wrong += shown.pixel(x, y) != qRgb(bgr[2], bgr[1], bgr[0]);
        }
    }
    return wrong;
}

TEST(ScreenSampling, EveryFormatShowsTheExactColoursOfTheSampledPixels) {
    for (const TFrameFormat format :
         {TFrameFormat::Bgr24, TFrameFormat::Gray8, TFrameFormat::I420, TFrameFormat::Nv12}) {
        for (const QSize frameSize : {QSize(37, 19), QSize(640, 480), QSize(1, 1)}) {
            const TRandomFrame frame(format, frameSize.width(), frameSize.height(), 5);
            QImage exact;
            FrameToBgrImage(frame.View, exact);
            const QRect whole(QPoint(0, 0), frameSize);
            const QRect inner = frameSize.width() > 2 ? whole.adjusted(1, 2, -2, 0) : whole;
            QImage shown;
            TScreenSampling work;
            for (const auto& [part, size] :
                 {std::pair{whole, frameSize}, std::pair{whole, frameSize / 2},
                  std::pair{inner, QSize(2 * inner.width() + 1, inner.height() + 3)},
                  std::pair{inner, QSize(2 * inner.width() / 3, inner.height() / 3)}}) {
                if (size.isEmpty()) {
                    continue;
                }
                SampleFrameForScreen(frame.View, part, size, shown, work);
                ASSERT_EQ(shown.size(), size);
                ASSERT_EQ(shown.format(), QImage::Format_RGB32);
                EXPECT_EQ(WrongPixels(exact, shown, part), 0)
                    << "format " << int(format) << ", " << frameSize.width() << " x "
                    << frameSize.height() << " shown at " << size.width() << " x " << size.height();
            }
        }
    }
}

// The display samples every frame into the same storage while the size stays.
TEST(ScreenSampling, AnUnchangedSizeKeepsThePicturesStorage) {
    const TRandomFrame frame(TFrameFormat::I420, 64, 48, 9);
    QImage shown;
    TScreenSampling work;
    SampleFrameForScreen(frame.View, QRect(0, 0, 64, 48), QSize(32, 24), shown, work);
    const uchar* pixels = shown.constBits();
    const std::uint8_t* samples = work.Luma.data();
    const int* columns = work.Columns.data();
    SampleFrameForScreen(frame.View, QRect(0, 0, 64, 48), QSize(32, 24), shown, work);
    EXPECT_EQ(shown.constBits(), pixels);
    EXPECT_EQ(work.Luma.data(), samples);
    EXPECT_EQ(work.Columns.data(), columns);
}

} // namespace
