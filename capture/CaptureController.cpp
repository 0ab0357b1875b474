#include "capture/CaptureController.h"

#include "capture/CaptureDialogs.h"
#include "capture/CaptureSession.h"
#include "capture/SequenceRecorder.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <utility>

namespace {

// The clipboard's content after a grab: the grabbed frame as an image. It
// holds the frame as it was decoded and makes its 24-bit picture only when a
// reader asks for the image, so that steps nobody pastes from convert nothing.
class TGrabbedFrameData : public QMimeData {
public:
    explicit TGrabbedFrameData(std::shared_ptr<const TFrameCopy> frame)
        : FFrame(std::move(frame)) {}

    QStringList formats() const override { return {ImageType()}; }
    bool hasFormat(const QString& type) const override { return type == ImageType(); }

protected:
    QVariant retrieveData(const QString& type, QMetaType /*preferred*/) const override {
        if (type != ImageType()) {
            return {};
        }
        return QVariant(FFrame->Picture());
    }

private:
    // The type under which Qt keeps an image on the clipboard.
    static QString ImageType() { return QStringLiteral("application/x-qt-image"); }

    std::shared_ptr<const TFrameCopy> FFrame;
};

} // namespace

TCaptureController::TCaptureController(QWidget* window, TCaptureSession& session,
                                       TSequenceRecorder& recorder)
    : QObject(window), FWindow(window), FSession(session), FRecorder(recorder) {
    connect(&session, &TCaptureSession::Status, this, &TCaptureController::Report);
    connect(&recorder, &TSequenceRecorder::Status, this, &TCaptureController::Report);
}

void TCaptureController::Report(int id, const QString& text) {
    if (FStatusCallback) {
        const QByteArray local = text.toLocal8Bit();
        FStatusCallback(FWindow, id, local.constData());
    }
}

LRESULT TCaptureController::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const TCaptureSession::TRequest request(FSession);
    const bool on = (wParam & 0xFFFF) != 0;
    const auto word = static_cast<int>(wParam & 0xFFFF);
    switch (message) {
    case WM_CAP_SET_CALLBACK_STATUSA:
        FStatusCallback = reinterpret_cast<CAPSTATUSCALLBACK>(lParam);
        return 1;
    case WM_CAP_DRIVER_CONNECT:
        return Connect(word);
    case WM_CAP_DRIVER_DISCONNECT:
        // Without a source there is nothing to let go, and nothing is touched.
        return FSession.Connected() && FSession.Disconnect();
    case WM_CAP_FILE_SET_CAPTURE_FILEA:
        return FRecorder.SetFile(reinterpret_cast<const char*>(lParam));
    case WM_CAP_EDIT_COPY:
        return EditCopy();
    case WM_CAP_DLG_VIDEOFORMAT:
        return FormatDialog();
    case WM_CAP_DLG_VIDEOSOURCE:
        return SourceDialog();
    case WM_CAP_DLG_VIDEODISPLAY:
        return DisplayDialog();
    case WM_CAP_SET_PREVIEW:
        return SetPreview(on);
    case WM_CAP_SET_OVERLAY:
        return SetOverlay(on);
    case WM_CAP_SET_PREVIEWRATE:
        return SetPreviewRate(word);
    case WM_CAP_SET_SCALE:
        return SetScale(on);
    case WM_CAP_GRAB_FRAME:
        return FSession.Grab();
    case WM_CAP_SEQUENCE:
        return FRecorder.Start();
    case WM_CAP_STOP:
    case WM_CAP_ABORT:
        // The program sends an abort when the capture reaches its frame limit:
        // the capture ended as planned, so it is not called aborted. Only the
        // user's abort key or click is (see the recorder).
        FRecorder.Stop(false);
        return FSession.Connected();
    case WM_CAP_GET_SEQUENCE_SETUP:
        return FRecorder.GetSetup(reinterpret_cast<CAPTUREPARMS*>(lParam), wParam & 0xFFFF);
    case WM_CAP_SET_SEQUENCE_SETUP:
        return FRecorder.SetSetup(reinterpret_cast<const CAPTUREPARMS*>(lParam), wParam & 0xFFFF);
    default:
        return 0;
    }
}

LRESULT TCaptureController::Connect(int index) {
    // The setup record can be read only with a source connected, so a new one
    // starts from the defaults whatever the connection brings.
    FRecorder.ResetSetup();
    return FSession.Connect(index);
}

LRESULT TCaptureController::SetPreview(bool on) {
    if (!FSession.Connected()) {
        return 0;
    }
    FSession.SetDisplay(on, on ? false : FSession.Overlaying());
    return 1;
}

LRESULT TCaptureController::SetOverlay(bool on) {
    if (!FSession.Connected()) {
        return 0;
    }
    FSession.SetDisplay(on ? false : FSession.Previewing(), on);
    return 1;
}

LRESULT TCaptureController::SetPreviewRate(int milliseconds) {
    FSession.SetPreviewRate(milliseconds);
    return FSession.Connected();
}

LRESULT TCaptureController::SetScale(bool on) {
    FSession.SetScaling(on, FSession.KeepingAspect());
    return FSession.Connected();
}

// The clipboard holds the grabbed frame; the session does not write that one again
// while it does.
LRESULT TCaptureController::EditCopy() {
    if (!FSession.HasGrab()) {
        if (FSession.Connected()) {
            // A failed grab must not leave an older frame for the reader.
            QGuiApplication::clipboard()->clear();
        }
        return 0;
    }
    QGuiApplication::clipboard()->setMimeData(new TGrabbedFrameData(FSession.GrabbedCopy()));
    return 1;
}

// The dialogs run modally: whatever the user or a status callback does meanwhile
// may destroy the window, which is checked before anything else is touched.
LRESULT TCaptureController::FormatDialog() {
    if (!FSession.Connected()) {
        return 0;
    }
    const std::vector<TVideoFormat> formats = FSession.Formats();
    const TVideoFormat current = FSession.CurrentFormat();
    const QPointer<TCaptureSession> alive(&FSession);
    const int chosen = RunFormatDialog(FWindow, formats, current);
    if (!alive || !FSession.Connected()) {
        return 0;
    }
    if (chosen >= 0 && chosen < static_cast<int>(formats.size()) &&
        formats[chosen].Caps != current.Caps) {
        FSession.SetFormat(formats[chosen]);
    }
    return 1;
}

LRESULT TCaptureController::SourceDialog() {
    if (!FSession.Connected()) {
        return 0;
    }
    const QPointer<TCaptureSession> alive(&FSession);
    RunSourceDialog(FWindow, *FSession.Driver());
    return alive ? 1 : 0;
}

LRESULT TCaptureController::DisplayDialog() {
    if (!FSession.Connected()) {
        return 0;
    }
    TDisplayOptions options{FSession.Scaling(), FSession.KeepingAspect()};
    const QPointer<TCaptureSession> alive(&FSession);
    const bool accepted = RunDisplayDialog(FWindow, options);
    if (!alive) {
        return 0;
    }
    if (accepted) {
        FSession.SetScaling(options.Scale, options.KeepAspect);
    }
    return 1;
}
