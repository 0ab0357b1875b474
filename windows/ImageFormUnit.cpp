#include "windows/ImageFormUnit.h"

#include "analysis/TBitmap.h"

#include <QPainter>
#include <QTransform>

#include <cstdint>
#include <cstring>

TImageForm* ImageForm = nullptr;

namespace {

void CopyRow(const std::uint8_t* source, int bytesPerPixel, QRgb* target, int width) {
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* pixel = source + x * bytesPerPixel;
        target[x] = bytesPerPixel == 1 ? qRgb(pixel[0], pixel[0], pixel[0])
                                       : qRgb(pixel[2], pixel[1], pixel[0]);
    }
}

// Blue-green-red bytes to 32-bit pixels, four pixels from three 32-bit
// words at a time (the bytes in memory of a word are its low byte first).
void BgrRowToRgb32(const std::uint8_t* source, QRgb* target, int width) {
    constexpr QRgb opaque = 0xff000000u;
    int x = 0;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        for (; x + 4 <= width; x += 4, source += 12) {
            std::uint32_t words[3];
            std::memcpy(words, source, sizeof words);
            target[x] = opaque | (words[0] & 0xffffffu);
            target[x + 1] = opaque | (words[0] >> 24) | ((words[1] & 0xffffu) << 8);
            target[x + 2] = opaque | (words[1] >> 16) | ((words[2] & 0xffu) << 16);
            target[x + 3] = opaque | (words[2] >> 8);
        }
    }
    for (; x < width; ++x, source += 3) {
        target[x] = qRgb(source[2], source[1], source[0]);
    }
}

} // namespace

TImage::TImage(QWidget* owner) : QWidget(owner) {}

void TImage::SetPicture(const TBitmap& bitmap) {
    if (bitmap.Empty()) {
        FPicture = QImage();
        return;
    }
    if (FPicture.size() != QSize(bitmap.Width(), bitmap.Height()) ||
        FPicture.format() != QImage::Format_RGB32) {
        FPicture = QImage(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    }
    const int bytesPerPixel = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    for (int y = 0; y < bitmap.Height(); ++y) {
        CopyRow(bitmap.ScanLine(y), bytesPerPixel, reinterpret_cast<QRgb*>(FPicture.scanLine(y)),
                bitmap.Width());
    }
}

void TImage::SetPicture(const QImage& picture) {
    FPicture = picture;
}

void TImage::TakePicture(TBitmap& bitmap) {
    if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) {
        SetPicture(bitmap);
        return;
    }
    std::swap(FShown, bitmap);
    // The rows of a TBitmap are blue, green, red bytes, top row first: what
    // QImage calls BGR888. The view lives no longer than FShown's storage.
    FPicture = QImage(FShown.ScanLine(0), FShown.Width(), FShown.Height(),
                      static_cast<qsizetype>(FShown.Stride()), QImage::Format_BGR888);
}

void TImage::Repaint() {
    if (isVisible()) {
        repaint();
    }
}

// Integer division rounds towards zero, so an odd difference leaves the extra
// pixel on the right or bottom for both smaller and larger pictures.
void TImage::paintEvent(QPaintEvent*) {
    if (FPicture.isNull()) {
        return;
    }
    QPainter painter(this);
    const int left = (width() - FPicture.width()) / 2;
    const int top = (height() - FPicture.height()) / 2;
    const QRect shown = QRect(left, top, FPicture.width(), FPicture.height()) & rect();
    if (shown.isEmpty()) {
        return;
    }
    if (FPicture.format() != QImage::Format_BGR888) {
        painter.drawImage(shown.topLeft(), FPicture, shown.translated(-left, -top));
    } else {
        PaintBgrPart(painter, shown, left, top);
    }
    PaintHatching(painter, QRect(left, top, FPicture.width(), FPicture.height()));
}

void TImage::SetHatching(const QPainterPath& relative) {
    FHatching = relative;
}

// The hatched areas, given relative to the picture, over the picture.
void TImage::PaintHatching(QPainter& painter, const QRect& picture) {
    if (FHatching.isEmpty()) {
        return;
    }
    QTransform toPicture;
    toPicture.translate(picture.left(), picture.top());
    toPicture.scale(picture.width(), picture.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(QColor(90, 90, 90), Qt::BDiagPattern));
    painter.drawPath(toPicture.map(FHatching));
}

void TImage::PaintBgrPart(QPainter& painter, const QRect& shown, int left, int top) {
    // The painter would convert the whole 24-bit picture to draw a part of
    // it: only the part shown is converted, into storage kept for the next paint.
    if (FVisible.size() != shown.size()) {
        FVisible = QImage(shown.size(), QImage::Format_RGB32);
    }
    for (int y = 0; y < shown.height(); ++y) {
        BgrRowToRgb32(FPicture.constScanLine(shown.top() - top + y) + 3 * (shown.left() - left),
                      reinterpret_cast<QRgb*>(FVisible.scanLine(y)), shown.width());
    }
    painter.drawImage(shown.topLeft(), FVisible);
}

TImageForm::TImageForm(QWidget* owner) : BaseForm(owner), Image(new TImage(this)) {
    setObjectName("ImageForm");
    setWindowTitle("Differential image");
    SetBackgroundColor(Qt::black);
    Image->setObjectName("Image");
    setCentralWidget(Image);
    resize(320, 240);
    SetFixedDialogFrame();
    move(334, 201);
}

TImageForm::~TImageForm() {
    if (ImageForm == this) {
        ImageForm = nullptr;
    }
}
