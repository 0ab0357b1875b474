#include "capture/Clipboard.h"

#include "capture/ImageFrame.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

QImage ClipboardImage() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasImage()) {
        return {};
    }
    return qvariant_cast<QImage>(data->imageData());
}

bool ClipboardOffersBitmap() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && data->hasImage();
}

// Any program can leave an image on the clipboard: ImageToFrame takes every
// format, size and colour table safely.
void TakeClipboardBitmap(TBitmap& target) {
    ImageToFrame(ClipboardImage(), target);
}
