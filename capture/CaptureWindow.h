#pragma once
// The capture window: a child window of a panel that shows the live picture of
// the connected video source and answers the capture messages sent to it. The
// window is the handle and the view; its controller translates the messages
// onto its capture session, and its sequence recorder runs streaming captures.
// Every request is synchronous and runs on the GUI thread.

#include "capture/CaptureSession.h"
#include "capture/FrameConversion.h"
#include "capture/PictureSampler.h"
#include "capture/PlatformTypes.h"

#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TCaptureController;
class TFrameTap;
class TSequenceRecorder;

class TCaptureWindow : public QWidget {
    Q_OBJECT
public:
    TCaptureWindow(const QString& name, QWidget* parent);
    ~TCaptureWindow() override;

    // The capture window behind a handle, null when it is none or was destroyed.
    static TCaptureWindow* FromHandle(HWND window);
    // The handle no longer leads to this window (it is being destroyed).
    void Unregister();

    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    TCaptureSession& Session() const { return *FSession; }
    // Every frame of every source connected from now on goes to `tap` as well.
    void SetFrameTap(TFrameTap* tap) { FSession->SetFrameTap(tap); }
    // See TCaptureSession::CallWhenFrameReady.
    void CallWhenFrameReady(QObject* context, std::function<void()> action) {
        FSession->CallWhenFrameReady(context, std::move(action));
    }

    // Read access for tests and tools.
    bool DriverConnected() const { return FSession->Connected(); }
    bool Previewing() const { return FSession->Previewing(); }
    bool Overlaying() const { return FSession->Overlaying(); }
    // True while the window is inside one of its own requests.
    bool Busy() const { return FSession->Busy(); }
    bool Scaling() const { return FSession->Scaling(); }
    int PreviewRate() const { return FSession->PreviewRate(); }
    bool DisplayFrozen() const { return FSession->DisplayFrozen(); }
    std::uint64_t DisplayedFrames() const { return FSession->DisplayedFrames(); }
    TVideoDriver* Driver() const { return FSession->Driver(); }
    // The name of the connected source (a camera found after the connection has its own).
    const QString& SourceName() const { return FSession->SourceName(); }
    // The frame of the last successful grab (null when the last grab failed).
    const QImage& GrabbedFrame() const { return FSession->GrabbedFrame(); }
    // The same as it was decoded.
    std::shared_ptr<const TFrameCopy> GrabbedCopy() const { return FSession->GrabbedCopy(); }
    // Why no picture is shown (a null text while the source is live).
    QString NoSignalReason() const { return FSession->NoSignalReason(); }
    const std::string& CaptureFileName() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The sampled live picture on the screen, or on its way there.
    struct TLivePicture {
        const TVideoDriver* Driver = nullptr;
        std::uint64_t Number = 0; // the newest frame when the picture was asked for
        TPictureLayout Layout;
        bool operator==(const TLivePicture&) const = default;
    };

    QRect Draw(QPainter& painter, const TFrameView& frame);
    TPictureLayout Layout() const;
    void ShowPicture();
    void ShowPictureNow();
    void ShowFrozenPicture();
    void RequestLivePicture();

    TCaptureSession* FSession;
    TSequenceRecorder* FRecorder;
    TCaptureController* FController;
    // A picture sampled here when the sampler has none for the window (the
    // first frame, a new window size, a grab).
    QImage FShownFrame;
    TScreenSampling FSampling;
    TPictureSampler FSampler;                 // the live frames' pictures
    std::optional<TLivePicture> FLivePicture; // none after a picture drawn another way
    bool FFrozenPaintPending = false;
};
