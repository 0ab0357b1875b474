#include "windows/ImageFormUnit.h"

#include "analysis/TBitmap.h"

#include <QPainter>
#include <QTransform>

TImageForm* ImageForm = nullptr;

namespace {

void CopyRow(const std::uint8_t* source, int bytesPerPixel, QRgb* target, int width) {
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* pixel = source + x * bytesPerPixel;
        target[x] = bytesPerPixel == 1 ? qRgb(pixel[0], pixel[0], pixel[0])
                                       : qRgb(pixel[2], pixel[1], pixel[0]);
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
        const uchar* source =
            FPicture.constScanLine(shown.top() - top + y) + 3 * (shown.left() - left);
        auto* target = reinterpret_cast<QRgb*>(FVisible.scanLine(y));
        for (int x = 0; x < shown.width(); ++x, source += 3) {
            target[x] = qRgb(source[2], source[1], source[0]);
        }
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
