#pragma once
// The hand-off between a source's streaming threads and the GUI thread: the
// newest frame (numbered), where the source stands, the status events waiting
// for the capture window, the frame tap and the recorder. Shared by the driver
// and the pipeline's callbacks, so that a pipeline still shutting down in the
// background never reaches a driver that is gone.

#include "capture/GstSupport.h"
#include "capture/Recorder.h"
#include "capture/VideoDriver.h"
#include "engine/FrameView.h"

#include <gst/video/video.h>

#include <chrono>
#include <condition_variable>
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
    bool HasTap();

    // Any thread: the source's new standing; `statusId` and the reason go to the window too.
    // A failed source stays failed.
    void SetState(TSourceState state, const QString& reason, int statusId);
    TSourceSignal Signal() const;
    // Frames delivered since the source last started connecting.
    std::uint64_t FramesSinceConnecting() const;
    void PushStatus(int id, const QString& text);
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
    // Maps the newest frame for reading and describes it in `view`; returns its number,
    // 0 (and nothing mapped) when there is none or it is in a format the view cannot describe.
    std::uint64_t MapNewest(GstVideoFrame& frame, TFrameView& view);
    void NotifyStatus(std::unique_lock<std::mutex>& lock);
    std::chrono::nanoseconds IntervalLocked() const;

    mutable std::mutex FMutex;
    QString FName; // guarded by FMutex
    std::condition_variable FChanged;
    TBufferPtr FNewestBuffer;
    TCapsPtr FNewestCaps;
    std::uint64_t FNumber = 0;
    std::uint64_t FFramesSinceConnecting = 0;
    TSourceState FState = TSourceState::Connecting;
    QString FReason;
    bool FWasLive = false;
    TClock::time_point FStateSince = TClock::now();
    TClock::time_point FLastArrival{};
    std::chrono::nanoseconds FInterval{0};
    std::chrono::nanoseconds FMinInterval{0};
    TClock::time_point FLastAccepted{};
    int FExpectWidth = 0;
    int FExpectHeight = 0;
    QString FExpectText;
    TClock::time_point FExpectSince{};
    std::vector<TDriverStatus> FStatus;
    std::function<void()> FFrameNotify;
    std::function<void()> FStatusNotify;
    bool FStatusNotified = false;

    std::mutex FTapMutex;
    TFrameTap* FTap = nullptr;

    mutable std::mutex FRecorderMutex;
    std::unique_ptr<TRecorder> FRecorder;
};
