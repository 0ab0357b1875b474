#pragma once
// Records motion events. Fed every raw frame of the connected source (on a
// streaming thread), it keeps the last seconds encoded as the pre-roll; each
// Movement() starts an event or extends the running one; it never waits
// for the disk, which the recorder's worker does the start's work on. An
// event is one file: the pre-roll before the first movement, everything while movement
// goes on, and the post-roll after the last movement. Files are finished,
// checked and the folder kept within its bounds on a thread of the
// recorder's own; status reports come through the status sink, from any
// thread. Clips that a killed program left unfinished in the events folder
// are repaired on that thread too, when the recorder starts and whenever
// the folder changes.

#include "events/EncodedRing.h"
#include "events/EventCodec.h"
#include "events/SourceRate.h"
#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TEventWriter;
class TFrameEncoder;
struct TEventStart;
struct TPreparedEvent;

struct TEventSettings {
    double PreRollSeconds = 3;
    double PostRollSeconds = 5;
    std::string Folder;
    std::uint64_t LimitBytes = 2048ull << 20;
    bool PreferH264 = true;
};

struct TEventStatus {
    enum TKind { Recording, Saved, Refused, Failed };
    TKind Kind = Recording;
    std::string Text; // for the status line
    std::string Path; // the event file, when there is one
    // For a started or saved event: the time from the file's first frame to
    // the first movement; for a saved one also the time the file covers and
    // the time it covers after the last movement, all on the recorder's clock.
    GstClockTime PreRoll = GST_CLOCK_TIME_NONE;
    GstClockTime Duration = GST_CLOCK_TIME_NONE;
    GstClockTime PostRoll = GST_CLOCK_TIME_NONE;
};

class TEventRecorder {
public:
    using TStatusSink = std::function<void(const TEventStatus&)>;

    // The pre-roll never weighs more than this.
    static constexpr std::size_t MaxPreRollBytes = 64u << 20;

    TEventRecorder(TEventSettings settings, TStatusSink status);
    // Finishes a running event and waits for its file.
    ~TEventRecorder();
    TEventRecorder(const TEventRecorder&) = delete;
    TEventRecorder& operator=(const TEventRecorder&) = delete;

    // Applies to the next event (the running one keeps its post-roll).
    void SetSettings(const TEventSettings& settings);

    // Streaming thread: one raw frame (video/x-raw, any format) of the source;
    // the sample is borrowed. Only queues it for the encoder.
    void OnSourceFrame(GstSample* sample);
    // The source went away: the running event ends with what it has.
    void OnSourceGone();
    // A step found movement now. Never waits for the disk: a new event's
    // file is made on the worker.
    void Movement();

    // An event runs or is starting.
    bool Recording() const;
    std::size_t PreRollBytes() const;
    // The time from the oldest kept frame to the newest (0 while none is kept).
    GstClockTime PreRollSpan() const;
    std::string CodecName() const;
    std::uint64_t DroppedFrames() const;

private:
    struct TFinishJob {
        std::unique_ptr<TEventWriter> Writer;
        std::string Note;
        GstClockTime FirstMovement = GST_CLOCK_TIME_NONE;
        GstClockTime LastMovement = GST_CLOCK_TIME_NONE;
    };

    GstClockTime Now() const;
    GstClockTime FrameTime(GstBuffer* buffer, GstClockTime arrival);
    void Reconfigure(GstCaps* rawCaps);
    void StartEncoder();
    void OnEncoded(GstBuffer* buffer, GstCaps* caps);
    // The worker, outside FMutex: the disk work of the start asked for.
    void StartEvent(std::unique_lock<std::mutex>& lock);
    // Under FMutex: the prepared file becomes the running event's.
    void BeginEvent(TPreparedEvent prepared);
    // Under FMutex: the running (or starting) event ends; its file is
    // finished by the worker.
    void EndEvent(const std::string& note);
    void Report(const TEventStatus& status);
    void Work();
    void CheckRunningEvent();
    void FinishFile(TFinishJob job);
    void RepairFolder(const std::string& folder);

    const std::chrono::steady_clock::time_point FEpoch = std::chrono::steady_clock::now();
    TStatusSink FStatus;

    // The encoder, touched only by the streaming thread and the destructor.
    std::mutex FEncoderMutex;
    std::unique_ptr<TFrameEncoder> FEncoder;
    TCapsPtr FRawCaps;
    // An encoder is to start for FRawCaps once FRate knows the source's rate.
    bool FEncoderWanted = false;
    TSourceRate FRate;
    bool FHaveOffset = false;
    std::int64_t FOffset = 0;
    GstClockTime FLastPts = 0;
    GstClockTime FLastFrameTime = 0;
    int FFramesSinceCheck = 0;
    std::atomic<std::uint64_t> FDropped{0};

    // Everything else.
    mutable std::mutex FMutex;
    TEventSettings FSettings;
    TEventCodec FCodec;
    GstClockTime FKeyframeInterval = GST_SECOND / 2;
    TEncodedRing FRing;
    TCapsPtr FEncodedCaps;
    GstClockTime FNewestEncoded = GST_CLOCK_TIME_NONE;
    // When the encoder last gave a frame, on the arrival clock.
    GstClockTime FLastEncodedAt = 0;
    std::unique_ptr<TEventWriter> FWriter;
    // The event asked for whose file the worker is making (never with FWriter).
    std::unique_ptr<TEventStart> FStarting;
    GstClockTime FFirstMovement = GST_CLOCK_TIME_NONE;
    GstClockTime FLastMovement = GST_CLOCK_TIME_NONE;
    GstClockTime FEventEnd = GST_CLOCK_TIME_NONE;
    std::string FStopNote;
    // An event could not start: said once, until one starts again.
    bool FRefused = false;
    // No new event file is tried before this time (after a failed one).
    GstClockTime FRetryAt = 0;
    GstClockTime FRetryDelay = GST_SECOND;

    std::condition_variable FWake;
    std::deque<TFinishJob> FFinishing;
    bool FQuit = false;
    // A folder whose unfinished clips the worker repairs next.
    std::string FRepairFolder;
    std::thread FWorker;
};
