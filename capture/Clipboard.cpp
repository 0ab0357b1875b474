#include "capture/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>

#include <cstring>

namespace {

QImage ClipboardImage() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage()) {
        return {};
    }
    return qvariant_cast<QImage>(data->imageData());
}

// Writes any image format straight into the bitmap's rows, which a QImage
// view of the same memory describes exactly.
void PaintInto(const QImage& image, TBitmap& target) {
    QImage view(target.ScanLine(0), target.Width(), target.Height(),
                static_cast<qsizetype>(target.Stride()), QImage::Format_BGR888);
    QPainter painter(&view);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image);
}

} // namespace

bool ClipboardOffersBitmap() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

void TakeClipboardBitmap(TBitmap& target) {
    const QImage image = ClipboardImage();
    if (image.isNull()) {
        target.Clear();
        return;
    }
    if (target.PixelFormat() != pf24bit || target.Width() != image.width() ||
        target.Height() != image.height()) {
        // Every pixel is written below: nothing of the old content needs keeping.
        target.Clear();
        target.SetPixelFormat(pf24bit);
        target.SetSize(image.width(), image.height());
    }
    if (image.format() != QImage::Format_BGR888) {
        PaintInto(image, target);
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y) {
        std::memcpy(target.ScanLine(y), image.constScanLine(y), rowBytes);
    }
}
