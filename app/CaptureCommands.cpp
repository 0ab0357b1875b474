#include "app/CaptureCommands.h"

#include "capture/Clipboard.h"
#include "capture/FrameConversion.h"
#include "capture/ImageFrame.h"
#include "capture/VFWInterUnit.h"
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

namespace {

// The view of a step's frame: a 24-bit grab as it is, anything else converted
// into `converted`.
TFrameView StepFrameView(const QImage& image, TBitmap& converted) {
    if (image.isNull() || image.format() == QImage::Format_BGR888) {
        return BgrImageView(image);
    }
    ImageToFrame(image, converted);
    return BitmapView(converted);
}

} // namespace

TFrameView TCaptureCommands::TakeFrame(QImage& grabbed) {
    GrabFrameToClipboard();
    if (TakeGrabbedFrame(grabbed)) {
        return StepFrameView(grabbed, FCapturedFrame);
    }
    if (ClipboardOffersBitmap()) {
        TakeClipboardBitmap(FCapturedFrame);
    } else {
        FCapturedFrame.Clear();
    }
    return BitmapView(FCapturedFrame);
}

void TCaptureCommands::ResumeDisplay() {
    ResumePreview();
}

void TCaptureCommands::PrepareFrame() {
    FGrabSession = ConnectedSession();
    FGrabSessionAlive = FGrabSession;
    FGrab = {};
    FClipboardImage = QImage();
    if (FGrabSession) {
        FGrabSession->BeginGrab(FGrab);
    } else {
        FClipboardImage = ClipboardImage();
    }
}

TFrameView TCaptureCommands::TakePreparedFrame() {
    if (FGrabSession) {
        FGrabSession->RunGrab(FGrab);
        // A failed grab gives no frame, as GrabbedFrame does.
        return FGrab.Number == 0 ? TFrameView{} : StepFrameView(FGrab.Frame, FCapturedFrame);
    }
    if (FClipboardImage.isNull()) {
        FCapturedFrame.Clear();
    } else {
        ImageToFrame(FClipboardImage, FCapturedFrame);
    }
    return BitmapView(FCapturedFrame);
}

void TCaptureCommands::FinishFrame() {
    FClipboardImage = QImage();
    if (FGrabSession && FGrabSessionAlive && FGrabSessionAlive->Connected()) {
        FGrabSessionAlive->FinishGrab(FGrab);
        capEditCopy(CaptureWindow);
    }
}
