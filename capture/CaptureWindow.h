#pragma once
// The capture window: a child window of a panel that shows the live picture of
// the connected video source and answers the capture messages sent to it.
// Every request is synchronous and runs on the GUI thread.

#include "capture/PlatformTypes.h"
#include "capture/VideoDriver.h"

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;
class TFrameTap;

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
    // Every frame of every source connected from now on goes to `tap` as well.
    void SetFrameTap(TFrameTap* tap);
    // Calls `action` once the connected source has delivered a frame: at once when it
    // has or when there is no driver, later from the event loop otherwise. Forgotten when
    // the driver is disconnected or `context` is destroyed first.
    void CallWhenFrameReady(QObject* context, std::function<void()> action);

    // Read access for tests and tools.
    bool DriverConnected() const { return FDriver != nullptr; }
    bool Previewing() const { return FPreview; }
    bool Overlaying() const { return FOverlay; }
    // True while the window is inside one of its own requests.
    bool Busy() const { return FBusy > 0; }
    bool Scaling() const { return FScale; }
    int PreviewRate() const { return FPreviewRate; }
    bool DisplayFrozen() const { return FFrozen; }
    std::uint64_t DisplayedFrames() const { return FDisplayedFrames; }
    TVideoDriver* Driver() const { return FDriver.get(); }
    // The name of the connected source (a camera found after the connection has its own).
    const QString& SourceName() const { return FDriverName; }
    // The frame of the last successful grab (null when the last grab failed).
    const QImage& GrabbedFrame() const;
    // Why no picture is shown (a null text while the source is live).
    QString NoSignalReason() const;
    const std::string& CaptureFileName() const { return FCaptureFile; }

    // The longest time a grab waits for a new frame.
    static constexpr std::chrono::milliseconds GrabTimeout{250};

protected:
    void paintEvent(QPaintEvent* event) override;
    // Watches the abort key and mouse buttons while a streaming capture runs.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ConnectDriver(int index);
    void DisconnectDriver();
    bool GrabFrame();
    bool EditCopy();
    bool FormatDialog();
    bool SourceDialog();
    bool DisplayDialog();
    void SetDisplay(bool preview, bool overlay);
    void ShowNewestFrame();
    void FrameArrived();
    void PollStatus();
    void Report(int id, const QString& text);
    void RunFrameWaiters();
    void LetAbsentDriverGo();
    bool StartSequence();
    void StopSequence(bool aborted);
    void SequenceStep();

    std::unique_ptr<TVideoDriver> FDriver;
    int FDriverIndex = -1;
    CAPSTATUSCALLBACK FStatusCallback = nullptr;
    TFrameTap* FTap = nullptr;
    CAPTUREPARMS FSetup{};
    std::string FCaptureFile;
    bool FPreview = false;
    std::atomic<bool> FOverlay{false};
    bool FScale = false;
    bool FKeepAspect = true;
    int FPreviewRate = 40;
    bool FFrozen = false;
    bool FHasDisplayFrame = false;
    std::uint64_t FLastGrabbed = 0;
    std::uint64_t FLastShown = 0;
    std::uint64_t FDisplayedFrames = 0;
    QImage FGrabs[2];
    QImage FShownFrame; // the scaled picture of the last paint
    int FGrabIndex = 0;
    bool FHasGrab = false;
    QString FNoSignal; // why the last connection failed to start
    QString FDriverName;
    TSourceState FShownState = TSourceState::Connecting;
    struct TFrameWaiter {
        QPointer<QObject> Context;
        std::function<void()> Action;
    };
    std::vector<TFrameWaiter> FFrameWaiters;
    QTimer* FPreviewTimer;
    QTimer* FStatusTimer;
    QTimer* FSequenceTimer;
    std::shared_ptr<bool> FAlive;
    std::atomic<bool> FOverlayPending{false};
    int FBusy = 0;
    std::chrono::steady_clock::time_point FSequenceStart;
};
