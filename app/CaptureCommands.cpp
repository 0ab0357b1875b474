#include "app/CaptureCommands.h"

#include "capture/Clipboard.h"
#include "capture/FrameConversion.h"
#include "capture/ImageFrame.h"
#include "capture/VideoCap.h"

#include <QLabel>

bool TCaptureCommands::ConnectVideo(QWidget* panel, QLabel* statusLabel, int frameLimit) {
    SetVideoPanel(panel);
    SetStatusLabel(statusLabel);
    SetStopCallback(nullptr);
    if (!ConnectCamera()) {
        return false;
    }
    SetFrameLimit(static_cast<std::uint32_t>(frameLimit));
    StartOverlay();
    return true;
}

void TCaptureCommands::DisconnectVideo(QLabel* statusLabel) {
    DisconnectCamera();
    statusLabel->setText(QStringLiteral("Idle"));
}

TFrameView TCaptureCommands::TakeFrame(QImage& grabbed) {
    GrabFrameToClipboard();
    if (TakeGrabbedFrame(grabbed)) {
        if (grabbed.isNull() || grabbed.format() == QImage::Format_BGR888) {
            return BgrImageView(grabbed);
        }
        ImageToFrame(grabbed, FCapturedFrame);
    } else if (ClipboardOffersBitmap()) {
        TakeClipboardBitmap(FCapturedFrame);
    } else {
        FCapturedFrame.Clear();
    }
    return BitmapView(FCapturedFrame);
}

void TCaptureCommands::ResumeDisplay() {
    ResumePreview();
}
