#pragma once
// The hand-off between a source's streaming threads and the GUI thread. Each
// frame goes to the recorder, becomes the newest frame (capture/NewestFrame.h)
// and goes to the frame tap; where the source stands and the status events
// for the capture window are kept apart (capture/SourceStatus.h). The window's
// notifiers and the tap are called with no lock held. Shared by the driver and
// the pipeline's callbacks, so that a pipeline still shutting down in the
// background never reaches a driver that is gone.

#include "capture/CallGate.h"
#include "capture/GstSupport.h"
#include "capture/NewestFrame.h"
#include "capture/Recorder.h"
#include "capture/SourceStatus.h"
#include "capture/VideoDriver.h"
#include "engine/FrameView.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TFrameTap;

class TFrameExchange {
public:
    using TClock = std::chrono::steady_clock;

    explicit TFrameExchange(QString sourceName);

    // Any thread: the source's name in the texts from now on (a camera found late).
    void Rename(const QString& name);

    // Streaming thread: a decoded frame (I420, NV12, BGR or gray, as the decoder gave it)
    // for the window and the recorder.
    void Offer(GstSample* sample);
    // Streaming thread: a frame at the source's own size and rate, for the tap.
    void OfferToTap(GstPad* pad, GstBuffer* buffer);

    // Any thread: the source's new standing; `statusId` and the reason go to the window too.
    // A failed source stays failed.
    void SetState(TSourceState state, const QString& reason, int statusId);
    TSourceSignal Signal() const;
    // Frames delivered since the source last started connecting.
    std::uint64_t FramesSinceConnecting() const;
    std::vector<TDriverStatus> TakeStatus();

    std::uint64_t NewestNumber() const;
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit);
    // Hands a view of the newest frame, as it was decoded, to `use` during the call;
    // returns the frame's number, 0 when none.
    std::uint64_t WithNewestView(const std::function<void(const TFrameView&)>& use);
    // The same as a BGR888 image: the frame itself when it is BGR, else a converted copy.
    std::uint64_t WithNewest(const std::function<void(const QImage&)>& use);
    // Converts the newest frame into `target` (BGR888), which is reallocated only when
    // its size or format differs or it is shared; returns the frame's number, 0 when none.
    std::uint64_t CopyNewest(QImage& target);
    // The size and rate of the newest frame (0 when none arrived).
    void NewestFormat(int& width, int& height, int& framesPerSecond) const;

    // Frames of another size than `width` x `height` are no longer handed out; the
    // first of that size is reported with `text`. 0 x 0 accepts any size again.
    void ExpectSize(int width, int height, const QString& text);
    // At most `framesPerSecond` frames a second are handed out (0: all of them).
    void SetRateLimit(int framesPerSecond);
    // GUI thread, every 100 ms: a source without frames for long is stalled.
    // Returns how long the source has been without a frame (or connecting).
    std::chrono::milliseconds CheckStall(TClock::time_point now);

    // The notifiers and the tap: once a call returns, the one replaced is not called
    // any more. Never call them from inside a notifier or the tap.
    void SetFrameNotifier(std::function<void()> notify);
    void SetStatusNotifier(std::function<void()> notify);
    void SetTap(TFrameTap* tap);
    void SetRecorder(std::unique_ptr<TRecorder> recorder);
    std::unique_ptr<TRecorder> TakeRecorder();
    // Runs `use` on the recorder, if there is one, while the streaming thread keeps off it.
    void WithRecorder(const std::function<void(TRecorder&)>& use);
    bool Recording() const;
    std::uint64_t RecordedFrames() const;
    // No notifier, tap or recorder is called after this.
    void Detach();

private:
    void Tell(TSourceStatus::TChange change);

    TNewestFrame FFrame;
    TSourceStatus FStatus;
    TCallGate<std::function<void()>> FFrameNotify;
    TCallGate<std::function<void()>> FStatusNotify;
    TCallGate<TFrameTap*> FTap;

    mutable std::mutex FRecorderMutex;
    std::unique_ptr<TRecorder> FRecorder;
};
