#include "capture/VideoCap.h"

#include "capture/CaptureWindow.h"
#include "capture/Catalog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <charconv>
#include <string_view>

HWND CaptureWindow = nullptr;
std::string DriverName = "No Driver Found";
const std::string CaptureFileName = "video.avi";

namespace {

QPointer<QWidget> FVideoPanel;
// The label belongs to its window; a guarded pointer keeps a late status text
// from writing into a label that is already gone.
QPointer<QLabel> FStatusLabel;
std::uint32_t FFrameLimit = 0;
std::function<void(QObject*)> FStopCallback;

void ShowModalMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(),
                    QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok);
    box.exec();
}

std::function<void(const std::string&)> FMessageBox = ShowModalMessage;

// The frame count at the start of a status 510 text: the text before the first
// blank (the whole text when it has none). Absent when that is not a signed
// 32-bit decimal number; an explicit plus sign counts as a sign.
bool LeadingFrameCount(const std::string& text, std::int32_t& count) {
    std::string_view token = std::string_view(text).substr(0, text.find(' '));
    if (token.size() > 1 && token.front() == '+' && token[1] != '-') {
        token.remove_prefix(1);
    }
    if (token.empty()) {
        return false;
    }
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), count);
    return error == std::errc() && end == token.data() + token.size();
}

} // namespace

QWidget* VideoPanel() {
    return FVideoPanel;
}
QLabel* StatusLabel() {
    return FStatusLabel;
}
std::uint32_t FrameLimit() {
    return FFrameLimit;
}

void PrepareCapture() {
    PrepareCatalogue();
}

void SetVideoPanel(QWidget* panel) {
    FVideoPanel = panel;
}
void SetStatusLabel(QLabel* label) {
    FStatusLabel = label;
}
void SetStopCallback(std::function<void(QObject* sender)> callback) {
    FStopCallback = std::move(callback);
}
void SetFrameLimit(std::uint32_t count) {
    FFrameLimit = count;
}
void SetMessageBoxFunction(std::function<void(const std::string& text)> show) {
    FMessageBox = show ? std::move(show) : ShowModalMessage;
}

bool ConnectCamera() {
    if (!FVideoPanel) {
        return false;
    }
    // A second connect would otherwise leave the earlier window running beside the new one.
    DisconnectCamera();
    CaptureWindow =
        capCreateCaptureWindowA("Quellor", WS_CHILD | WS_VISIBLE, 0, 0, FVideoPanel->width(),
                                FVideoPanel->height(), FVideoPanel, 0);
    if (!CaptureWindow || !capSetCallbackOnStatus(CaptureWindow, nullptr) ||
        !capSetCallbackOnStatus(CaptureWindow, CaptureStatusCallback)) {
        DisconnectCamera();
        CaptureWindow = nullptr;
        return false;
    }
    int index = 0;
    while (index <= 9 && !ConnectDriver(index)) {
        ++index;
    }
    char name[80];
    char version[100];
    if (capGetDriverDescriptionA(index, name, sizeof name, version, sizeof version)) {
        DriverName = QString::fromLocal8Bit(name).toStdString();
    }
    if (!capFileSetCaptureFile(CaptureWindow, CaptureFileName.c_str())) {
        FMessageBox(DriverName + ": Error in capFileSetCaptureFile");
    }
    return true;
}

bool ConnectDriver(int index) {
    if (!CaptureWindow) {
        return false;
    }
    if (!capDriverConnect(CaptureWindow, index)) {
        return false;
    }
    CAPTUREPARMS parms;
    if (!capCaptureGetSetup(CaptureWindow, &parms, sizeof parms)) {
        return true;
    }
    parms.dwRequestMicroSecPerFrame = 66667;
    parms.fYield = 1;
    parms.fCaptureAudio = 0;
    parms.vKeyAbort = VK_ESCAPE;
    parms.fAbortLeftMouse = 0;
    parms.fAbortRightMouse = 0;
    parms.fLimitEnabled = 0;
    parms.fMCIControl = 0;
    return capCaptureSetSetup(CaptureWindow, &parms, sizeof parms) != 0;
}

void DisconnectCamera() {
    if (!CaptureWindow) {
        return;
    }
    capSetCallbackOnStatus(CaptureWindow, nullptr);
    capDriverDisconnect(CaptureWindow);
    DestroyWindow(CaptureWindow);
    CaptureWindow = nullptr;
}

void StartOverlay() {
    if (!CaptureWindow) {
        return;
    }
    capPreviewScale(CaptureWindow, true);
    capPreviewRate(CaptureWindow, 40);
    capOverlay(CaptureWindow, true);
}

void GrabFrameToClipboard() {
    if (!CaptureWindow) {
        return;
    }
    capGrabFrame(CaptureWindow);
    capEditCopy(CaptureWindow);
}

bool TakeGrabbedFrame(QImage& frame) {
    return CaptureWindow && capGrabbedFrame(CaptureWindow, frame);
}

bool TakeGrabbedCopy(std::shared_ptr<const TFrameCopy>& frame) {
    return CaptureWindow && capGrabbedCopy(CaptureWindow, frame);
}

TCaptureSession* ConnectedSession() {
    TCaptureWindow* capture = TCaptureWindow::FromHandle(CaptureWindow);
    return capture && capture->DriverConnected() ? &capture->Session() : nullptr;
}

void ResumePreview() {
    if (!CaptureWindow) {
        return;
    }
    capOverlay(CaptureWindow, false);
    capPreviewScale(CaptureWindow, true);
    capPreviewRate(CaptureWindow, 40);
    capPreview(CaptureWindow, true);
}

void WhenFrameReady(QObject* context, std::function<void()> action) {
    capCallWhenFrameReady(CaptureWindow, context, std::move(action));
}

void ShowFormatDialog() {
    if (CaptureWindow) {
        capDlgVideoFormat(CaptureWindow);
    }
}

void ShowSourceDialog() {
    if (CaptureWindow) {
        capDlgVideoSource(CaptureWindow);
    }
}

void ShowDisplayDialog() {
    if (CaptureWindow) {
        capDlgVideoDisplay(CaptureWindow);
    }
}

void SetOverlayMode() {
    capOverlay(CaptureWindow, true);
}
void SetPreviewMode() {
    capPreview(CaptureWindow, true);
}

void StartCapture() {
    if (CaptureWindow) {
        capCaptureSequence(CaptureWindow);
    }
}

void StopCapture() {
    if (CaptureWindow) {
        capCaptureStop(CaptureWindow);
    }
}

LRESULT CaptureStatusCallback(HWND, int status, const char* text) {
    const QString caption = QString::fromLocal8Bit(text ? text : "");
    if (FStatusLabel) {
        // The text is shown as it stands: a driver or stream message with
        // angle brackets must not be taken for markup.
        FStatusLabel->setTextFormat(Qt::PlainText);
        FStatusLabel->setText(caption);
        FStatusLabel->repaint();
    }
    if (status != IDS_CAP_STAT_VIDEOCURRENT) {
        return 1;
    }
    // A text without a leading count is ignored: nothing may fail inside the service's call.
    std::int32_t frames = 0;
    if (!LeadingFrameCount(caption.toStdString(), frames)) {
        return 1;
    }
    if (frames >= 0 && static_cast<std::uint32_t>(frames) >= FFrameLimit) {
        capCaptureAbort(CaptureWindow);
        if (FStopCallback) {
            FStopCallback(nullptr);
        }
    }
    return 1;
}
