#include "capture/VideoDriver.h"

#include "capture/FrameConversion.h"

#include <cstring>

QString TVideoFormat::Text() const {
    if (Width == 0 || Height == 0) {
        return QStringLiteral("Native size and rate");
    }
    QString text = QStringLiteral("%1 x %2").arg(Width).arg(Height);
    if (FramesPerSecond > 0) {
        text += QStringLiteral(", %1 fps").arg(FramesPerSecond);
    }
    return text;
}

std::uint64_t TVideoDriver::CopyNewestFrame(QImage& target) {
    return WithNewestFrame([&target](const QImage& view) {
        if (target.size() != view.size() || target.format() != QImage::Format_BGR888 ||
            !target.isDetached()) {
            target = QImage(view.size(), QImage::Format_BGR888);
        }
        const QImage source = view.format() == QImage::Format_BGR888
                                  ? view
                                  : view.convertToFormat(QImage::Format_BGR888);
        const std::size_t rowBytes = static_cast<std::size_t>(source.width()) * 3;
        for (int y = 0; y < source.height(); ++y) {
            std::memcpy(target.scanLine(y), source.constScanLine(y), rowBytes);
        }
    });
}

std::uint64_t TVideoDriver::WithNewestView(const std::function<void(const TFrameView&)>& use) {
    return WithNewestFrame([&use](const QImage& image) {
        if (image.format() == QImage::Format_BGR888) {
            use(BgrImageView(image));
        } else {
            use(BgrImageView(image.convertToFormat(QImage::Format_BGR888)));
        }
    });
}
