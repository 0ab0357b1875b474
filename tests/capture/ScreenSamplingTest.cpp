// The live display's picture, sampled straight from a frame in its decoded
// format, against the exact conversion of the whole frame: every format, odd
// sizes, rows padded past the width, parts away from the origin and up to the
// frame's right and bottom edges, pictures at 1:1, at whole fractions (2:1,
// 3:1, ...) and at any other size, smaller and larger than the part. Each
// plane ends at its last row's last byte, so that a read past it shows under
// AddressSanitizer.

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
            View.Stride[index] = rowBytes + 5; // padded rows, but not the last
            Planes[index].resize(std::size_t(View.Stride[index]) * (rows - 1) + rowBytes);
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

// The pictures to check for a frame: each part shown at its own size and at
// whole fractions of it, and at sizes that are none (enlarged, 2/3, 1/3).
std::vector<std::pair<QRect, QSize>> PartsAndSizes(QSize frameSize) {
    const QRect whole(QPoint(0, 0), frameSize);
    std::vector<std::pair<QRect, QSize>> cases;
    for (const QRect part : {whole, whole.adjusted(1, 2, -2, 0), whole.adjusted(1, 1, 0, 0),
                             whole.adjusted(2, 0, 0, -1), whole.adjusted(3, 1, 0, 0)}) {
        if (part.isEmpty()) {
            continue;
        }
        for (const int step : {1, 2, 3, 6}) {
            if (part.width() % step == 0) {
                cases.emplace_back(part, QSize(part.width() / step, part.height() / step));
            }
        }
        cases.emplace_back(part, QSize(2 * part.width() + 1, part.height() + 3));
        cases.emplace_back(part, QSize(2 * part.width() / 3, part.height() / 3));
    }
    return cases;
}

TEST(ScreenSampling, EveryFormatShowsTheExactColoursOfTheSampledPixels) {
    for (const TFrameFormat format :
         {TFrameFormat::Bgr24, TFrameFormat::Gray8, TFrameFormat::I420, TFrameFormat::Nv12}) {
        for (const QSize frameSize : {QSize(37, 19), QSize(640, 480), QSize(1, 1), QSize(66, 13)}) {
            const TRandomFrame frame(format, frameSize.width(), frameSize.height(), 5);
            QImage exact;
            FrameToBgrImage(frame.View, exact);
            QImage shown;
            TScreenSampling work;
            for (const auto& [part, size] : PartsAndSizes(frameSize)) {
                if (size.isEmpty()) {
                    continue;
                }
                SampleFrameForScreen(frame.View, part, size, shown, work);
                ASSERT_EQ(shown.size(), size);
                ASSERT_EQ(shown.format(), QImage::Format_RGB32);
                EXPECT_EQ(WrongPixels(exact, shown, part), 0)
                    << "format " << int(format) << ", " << frameSize.width() << " x "
                    << frameSize.height() << ", part at " << part.left() << "," << part.top()
                    << " of " << part.width() << " x " << part.height() << " shown at "
                    << size.width() << " x " << size.height();
            }
        }
    }
}

// The display samples every frame into the same storage while the size stays.
TEST(ScreenSampling, AnUnchangedSizeKeepsThePicturesStorage) {
    const TRandomFrame frame(TFrameFormat::I420, 64, 48, 9);
    QImage shown;
    TScreenSampling work;
    // Not a whole fraction of the frame: the table of columns is kept too.
    SampleFrameForScreen(frame.View, QRect(0, 0, 64, 48), QSize(30, 20), shown, work);
    const uchar* pixels = shown.constBits();
    const int* columns = work.Columns.data();
    ASSERT_NE(columns, nullptr);
    SampleFrameForScreen(frame.View, QRect(0, 0, 64, 48), QSize(30, 20), shown, work);
    EXPECT_EQ(shown.constBits(), pixels);
    EXPECT_EQ(work.Columns.data(), columns);
}

} // namespace
