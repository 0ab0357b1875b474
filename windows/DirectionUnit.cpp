#include "windows/DirectionUnit.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr QRgb PenWhite = qRgb(255, 255, 255);
constexpr QRgb PenRed = qRgb(255, 0, 0);

// floor(numerator / denominator) for a positive denominator.
__int128 FloorDiv(__int128 numerator, __int128 denominator) {
    __int128 quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) {
        --quotient;
    }
    return quotient;
}

// The steps i (0 <= i < count) along the major axis at which start + sign * i
// lies in 0 .. extent - 1.
void StepsInside(std::int64_t start, int sign, std::int64_t count, int extent, std::int64_t& first,
                 std::int64_t& last) {
    const std::int64_t low = sign > 0 ? -start : start - (extent - 1);
    const std::int64_t high = sign > 0 ? extent - 1 - start : start;
    first = std::max<std::int64_t>(0, low);
    last = std::min<std::int64_t>(count - 1, high);
}

} // namespace

void DrawLineExcludingEnd(QImage& image, QPoint from, QPoint to, QRgb color) {
    const std::int64_t dx = std::int64_t{to.x()} - from.x();
    const std::int64_t dy = std::int64_t{to.y()} - from.y();
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const std::int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    if (major == 0) {
        return;
    }
    const int majorSign = (xMajor ? dx : dy) > 0 ? 1 : -1;
    const int minorSign = (xMajor ? dy : dx) >= 0 ? 1 : -1;
    const std::int64_t majorStart = xMajor ? from.x() : from.y();
    const std::int64_t minorStart = xMajor ? from.y() : from.x();
    const int majorExtent = xMajor ? image.width() : image.height();
    const int minorExtent = xMajor ? image.height() : image.width();

    // Only the steps whose major coordinate is inside the image are visited,
    // so a far-away end point costs no more than a short line.
    std::int64_t first = 0;
    std::int64_t last = -1;
    StepsInside(majorStart, majorSign, major, majorExtent, first, last);
    for (std::int64_t i = first; i <= last; ++i) {
        const __int128 offset = FloorDiv(__int128{2} * i * minor + major, __int128{2} * major);
        const __int128 minorAt = minorStart + minorSign * offset;
        if (minorAt < 0 || minorAt >= minorExtent) {
            continue;
        }
        const int majorAt = static_cast<int>(majorStart + majorSign * i);
        const int x = xMajor ? majorAt : static_cast<int>(minorAt);
        const int y = xMajor ? static_cast<int>(minorAt) : majorAt;
        image.setPixel(x, y, color);
    }
}

TDirectionForm::TDirectionForm(QWidget* owner) : BaseForm(owner), Image(new TImage(this)) {
    setObjectName("DirectionForm");
    setWindowTitle("DirectionForm");
    SetBackgroundColor(Qt::white);
    QImage bitmap(BitmapSize, BitmapSize, QImage::Format_RGB32);
    bitmap.fill(PenWhite);
    Image->setObjectName("Image");
    Image->SetPicture(bitmap);
    setCentralWidget(Image);
    resize(116, 109);
    move(526, 4);
}

TDirectionForm::~TDirectionForm() {}

void TDirectionForm::FormCreate() {
    BaseForm::FormCreate();
    LastPoint = TPoint{50, 50};
}

void TDirectionForm::ShowDirection(int x, int y) {
    // Differences wrap at 32 bits instead of overflowing.
    const TPoint lineEnd{static_cast<int>(std::int64_t{LastPoint.X} - x),
                         static_cast<int>(std::int64_t{LastPoint.Y} - y)};
    LastPoint = TPoint{x, y};
    // The line drawn again would cover exactly the pixels it covers now: the
    // picture stays as it is and needs no paint.
    if (FLineDrawn && lineEnd.X == LastLineEnd.X && lineEnd.Y == LastLineEnd.Y) {
        return;
    }
    const QPoint centre(50, 50);
    DrawLineExcludingEnd(Image->Picture(), centre, QPoint(LastLineEnd.X, LastLineEnd.Y), PenWhite);
    DrawLineExcludingEnd(Image->Picture(), centre, QPoint(lineEnd.X, lineEnd.Y), PenRed);
    LastLineEnd = lineEnd;
    FLineDrawn = true;
    Image->Repaint();
}
