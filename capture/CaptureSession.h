#pragma once
// A typed capture session: one connected video source and what can be done
// with it (connect, grab, format, display, record), with its status as
// signals. It knows nothing of windows, messages or callbacks; the capture
// window's controller translates messages onto it and the window paints what
// it says. Lives on the GUI thread; the driver's streaming threads reach it
// only through queued calls.

#include "capture/FrameConversion.h"
#include "capture/VideoDriver.h"
#include "engine/FrameView.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTimer;
class TFrameTap;

class TCaptureSession : public QObject {
    Q_OBJECT
public:
    explicit TCaptureSession(QObject* parent = nullptr);
    ~TCaptureSession() override;

    // Marks the session busy for the length of a request, so that whoever is
    // called back from inside it defers destroying its owner.
    class TRequest {
    public:
        explicit TRequest(TCaptureSession& session) : FSession(&session) { ++session.FDepth; }
        ~TRequest() {
            if (FSession) {
                --FSession->FDepth;
            }
        }
        TRequest(const TRequest&) = delete;
        TRequest& operator=(const TRequest&) = delete;

    private:
        // A modal dialog's event loop may still destroy the session during the request.
        QPointer<TCaptureSession> FSession;
    };
    bool Busy() const { return FDepth > 0; }

    // Connect. Lets any source go, then opens source `index` of the catalogue and
    // starts it connecting in the background. False when there is no such source
    // or it cannot even be set up (the reason went out as Status and stays as
    // NoSignalReason).
    bool Connect(int index);
    // Lets the source go; false when none was connected.
    bool Disconnect();
    bool Connected() const { return FDriver != nullptr; }
    TVideoDriver* Driver() const { return FDriver.get(); }
    // The name of the connected source (a camera found after the connection has its own).
    const QString& SourceName() const { return FSourceName; }
    // Why no picture is to be had (a null text while the source is live).
    QString NoSignalReason() const;
    // Every frame of every source connected from now on goes to `tap` as well.
    void SetFrameTap(TFrameTap* tap);
    // Calls `action` once the connected source has delivered a frame: at once when it
    // has or when there is no source, later from the event loop otherwise. Forgotten when
    // the source is let go or `context` is destroyed first.
    void CallWhenFrameReady(QObject* context, std::function<void()> action);
    // Looks after the source and hands on its status; every 100 ms while connected.
    void Poll();

    // Grab. Takes the newest frame (a new one when it comes within GrabTimeout) and
    // freezes the display on it; false when the source has none to give.
    bool Grab();
    bool HasGrab() const { return FHasGrab; }
    // The frame of the last successful grab as a 24-bit picture, made when
    // first asked for (null when the last grab failed).
    const QImage& GrabbedFrame() const;
    // The frame of the last successful grab as it was decoded (null when the
    // last grab failed); whoever holds it keeps it from being written again.
    std::shared_ptr<const TFrameCopy> GrabbedCopy() const;

    // A grab in three parts, for a grab that waits and converts on another
    // thread: BeginGrab (GUI thread) picks the free grab image, RunGrab (any
    // thread, once) waits for the frame and converts it into that image, and
    // FinishGrab (GUI thread) makes it the grabbed frame as Grab does. The
    // source is not let go while a RunGrab is under way.
    struct TGrabJob {
        TVideoDriver* Driver = nullptr; // null: nothing to grab from
        int Slot = 0;
        std::uint64_t After = 0;
        std::uint64_t Connection = 0;
        std::uint64_t Number = 0; // the frame's number, 0 when none was taken
        // The grabbed frame as decoded, also once the source is gone.
        std::shared_ptr<TFrameCopy> Frame;
    };
    // False when there is no source.
    bool BeginGrab(TGrabJob& job);
    void RunGrab(TGrabJob& job);
    // False when no frame was taken, or the source changed since BeginGrab
    // (the grab is then left out).
    bool FinishGrab(const TGrabJob& job);

    // Format.
    std::vector<TVideoFormat> Formats() const;
    TVideoFormat CurrentFormat() const;
    // Asks the source for `format`; the display starts over with its next frame.
    void SetFormat(const TVideoFormat& format);

    // Display. Preview shows the newest frame every PreviewRate milliseconds, overlay
    // every frame as it arrives; a grab freezes either until the next SetDisplay.
    void SetDisplay(bool preview, bool overlay);
    bool Previewing() const { return FPreview; }
    bool Overlaying() const { return FOverlay; }
    void SetPreviewRate(int milliseconds);
    int PreviewRate() const { return FPreviewRate; }
    void SetScaling(bool scale, bool keepAspect);
    bool Scaling() const { return FScale; }
    bool KeepingAspect() const { return FKeepAspect; }
    bool DisplayFrozen() const { return FFrozen; }
    std::uint64_t DisplayedFrames() const { return FDisplayedFrames; }
    // Whether the display shows the newest frame as decoded (a frame was shown,
    // no grab holds it, the source is live).
    bool ShowingLiveFrames() const;
    // Hands the picture to show to `draw` (valid during the call): the grabbed frame
    // while the display is frozen, else the newest frame as decoded once one was
    // shown. False, without a call, when there is none.
    bool WithPicture(const std::function<void(const TFrameView&)>& draw) const;

    // Record: a streaming capture of the source's frames to a file.
    bool StartRecording(const std::string& fileName, int framesPerSecond);
    void StopRecording();
    bool Recording() const;
    // Whether the source can record at all.
    bool CanRecord() const { return FDriver && FDriver->SupportsSequenceSetup(); }
    // Once per capture interval: the newest frame goes into the file if the one
    // before is written, else it counts as dropped.
    void RecordNewestFrame();
    std::uint64_t RecordedFrames() const { return FDriver ? FDriver->RecordedFrames() : 0; }
    std::uint64_t DroppedFrames() const { return FDriver ? FDriver->DroppedFrames() : 0; }
    // Why the recording failed to start or stopped working; empty while it is fine.
    std::string RecordingError() const {
        return FDriver ? FDriver->RecordingError() : std::string();
    }

    // The longest time a grab waits for a new frame.
    static constexpr std::chrono::milliseconds GrabTimeout{250};

signals:
    // A status event of the source (connection, stream errors, format, loss).
    void Status(int id, const QString& text);
    // What the display shows changed (a frame, a grab, the source's state).
    void PictureChanged();
    // The source was let go (also before a new one connects).
    void SourceReleased();

private:
    std::unique_ptr<TVideoDriver> OpenDriver(int index);
    void Announce();
    void ShowNewestFrame();
    void FrameArrived();
    void RunFrameWaiters();
    void LetAbsentSourceGo();

    struct TFrameWaiter {
        QPointer<QObject> Context;
        std::function<void()> Action;
    };
    static bool RunWaiters(std::vector<TFrameWaiter> waiters, const QPointer<QObject>& alive);

    // Waits until no RunGrab uses the driver.
    void WaitForGrab();

    std::unique_ptr<TVideoDriver> FDriver;
    std::uint64_t FConnection = 0; // counts the sources let go
    std::mutex FGrabMutex;
    std::condition_variable FGrabDone;
    bool FGrabRunning = false;
    TFrameTap* FTap = nullptr;
    QString FSourceName;
    QString FNoSignal; // why the last connection failed to start
    TSourceState FShownState = TSourceState::Connecting;
    std::vector<TFrameWaiter> FFrameWaiters;
    QTimer* FStatusTimer;

    std::shared_ptr<TFrameCopy> FGrabs[2];
    int FGrabIndex = 0;
    bool FHasGrab = false;
    std::uint64_t FLastGrabbed = 0;

    QTimer* FPreviewTimer;
    bool FPreview = false;
    std::atomic<bool> FOverlay{false};
    std::atomic<bool> FOverlayPending{false};
    int FPreviewRate = 40;
    bool FScale = false;
    bool FKeepAspect = true;
    bool FFrozen = false;
    bool FHasDisplayFrame = false;
    std::uint64_t FLastShown = 0;
    std::uint64_t FDisplayedFrames = 0;

    int FDepth = 0;
};
