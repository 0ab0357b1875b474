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

TFrameView TCaptureCommands::TakeFrame(std::shared_ptr<const TFrameCopy>& grabbed) {
    GrabFrameToClipboard();
    if (TakeGrabbedCopy(grabbed)) {
        return grabbed ? grabbed->View() : TFrameView{};
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
        return FGrab.Number == 0 ? TFrameView{} : FGrab.Frame->View();
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
