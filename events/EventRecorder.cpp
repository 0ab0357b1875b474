#include "events/EventRecorder.h"

#include "events/EventRepair.h"
#include "events/EventStart.h"
#include "events/EventWriter.h"
#include "events/EventsFolder.h"
#include "events/FrameEncoder.h"
#include "gstkit/GstKit.h"

#include <gst/video/video.h>
#include <malloc.h>

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <utility>

namespace {

// A source whose times go back (a reconnection, a file that loops), or
// whose frames come this much later than their times say, is
// resynchronised with the arrival clock. Frames that only come late keep
// their times: on a loaded machine that leaves the clip without a gap.
constexpr std::int64_t ResyncThreshold = 2 * GST_SECOND;
// The worker looks at the running event this often.
constexpr auto CheckInterval = std::chrono::milliseconds(200);
// An event whose frames stopped coming (none encoded for this long) ends
// once its post-roll's end has passed on the arrival clock. Frames that only
// come late (a loaded machine, a source running behind) keep the event
// going until the post-roll is in the file.
constexpr GstClockTime StalledGrace = 5 * GST_SECOND;
constexpr auto FinishTimeout = std::chrono::seconds(10);
// After an event file could not be created, the next try waits this long,
// twice as long after each further failure, up to the longest wait.
constexpr GstClockTime FirstRetryDelay = GST_SECOND;
constexpr GstClockTime LongestRetryDelay = 60 * GST_SECOND;

GstClockTime Seconds(double seconds) {
    return static_cast<GstClockTime>(std::llround(std::max(0.0, seconds) * GST_SECOND));
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

TEventStatus MakeStatus(TEventStatus::TKind kind, std::string text, std::string path = {}) {
    TEventStatus status;
    status.Kind = kind;
    status.Text = std::move(text);
    status.Path = std::move(path);
    return status;
}

} // namespace

TEventRecorder::TEventRecorder(TEventSettings settings, TStatusSink status)
    : FStatus(std::move(status)), FSettings(std::move(settings)),
      FRing(Seconds(FSettings.PreRollSeconds) + GST_SECOND / 2, MaxPreRollBytes),
      FRepairFolder(FSettings.Folder) {
    EnsureGStreamer();
    FWorker = std::thread([this] { Work(); });
}

TEventRecorder::~TEventRecorder() {
    {
        std::lock_guard lock(FMutex);
        EndEvent({});
        FQuit = true;
    }
    FWake.notify_all();
    FWorker.join();
    std::lock_guard encoderLock(FEncoderMutex);
    FEncoder.reset();
}

void TEventRecorder::SetSettings(const TEventSettings& settings) {
    std::lock_guard lock(FMutex);
    if (settings.Folder != FSettings.Folder) {
        FRepairFolder = settings.Folder;
        FWake.notify_all();
    }
    FSettings = settings;
    FRing.SetLimits(Seconds(settings.PreRollSeconds) + FKeyframeInterval, MaxPreRollBytes);
    FRefused = false;
    FRetryAt = 0;
    FRetryDelay = FirstRetryDelay;
}

GstClockTime TEventRecorder::Now() const {
    return static_cast<GstClockTime>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now() - FEpoch)
                                         .count());
}

// The frame's time on the recorder's clock: the source's own times keep the
// frames evenly spaced; their offset to the arrival clock is the smallest
// seen (a frame can come late, never early), measured again whenever the
// source's times jump. So no frame is timed after it arrived: a late first
// frame does not put every later one ahead of the movements, which would
// cut the post-roll's pictures short.
GstClockTime TEventRecorder::FrameTime(GstBuffer* buffer, GstClockTime arrival) {
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts)) {
        return arrival;
    }
    const std::int64_t offset = static_cast<std::int64_t>(arrival) - static_cast<std::int64_t>(pts);
    const bool wentBack = FHaveOffset && pts < FLastPts;
    if (!FHaveOffset || wentBack || offset < FOffset || offset - FOffset > ResyncThreshold) {
        FOffset = offset;
        FHaveOffset = true;
    }
    FLastPts = pts;
    const std::int64_t time = static_cast<std::int64_t>(pts) + FOffset;
    return time > 0 ? static_cast<GstClockTime>(time) : 0;
}

void TEventRecorder::OnSourceFrame(GstSample* sample) {
    const GstClockTime arrival = Now(); // before any wait for the lock or a new encoder
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps) {
        return;
    }
    std::lock_guard encoderLock(FEncoderMutex);
    if (!FRawCaps || !gst_caps_is_equal(FRawCaps.get(), caps)) {
        Reconfigure(caps);
    }
    if (!FEncoder && !FEncoderWanted) {
        return;
    }
    const GstClockTime time = FrameTime(buffer, arrival);
    if (time <= FLastFrameTime && FLastFrameTime != 0) {
        return; // times must rise for the encoder
    }
    FLastFrameTime = time;
    if (!FEncoder) {
        FRate.Add(time);
        if (FRate.FramesPerSecond() <= 0) {
            return; // the frames that measure the rate are not recorded
        }
        StartEncoder();
        if (!FEncoder) {
            return;
        }
    }
    FEncoder->Push(buffer, time);
    if (++FFramesSinceCheck >= 64) {
        // Also keeps the encoder's bus from growing.
        FFramesSinceCheck = 0;
        const std::string error = FEncoder->TakeError();
        if (!error.empty()) {
            Report(MakeStatus(TEventStatus::Failed, "Event encoder failed: " + error));
        }
    }
}

// Under FEncoderMutex: a new frame format needs a new encoder; the running
// event and the pre-roll belong to the old format and end here. The encoder
// starts once the source's rate is known.
void TEventRecorder::Reconfigure(GstCaps* rawCaps) {
    FEncoder.reset();
    FEncoderWanted = false;
    FRawCaps = RefCaps(rawCaps);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, rawCaps)) {
        return;
    }
    {
        std::lock_guard lock(FMutex);
        EndEvent({});
        FRing.Clear();
        FEncodedCaps.reset();
        FNewestEncoded = GST_CLOCK_TIME_NONE;
    }
    FRate.Reset(info);
    FEncoderWanted = true;
}

// Under FEncoderMutex, with the source's rate known: the encoder for FRawCaps.
// A measured rate is written into the encoder's caps, so that its frames get
// their durations and the file its rate.
void TEventRecorder::StartEncoder() {
    FEncoderWanted = false;
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, FRawCaps.get())) {
        return;
    }
    const double fps = FRate.FramesPerSecond();
    TCapsPtr caps = RefCaps(FRawCaps.get());
    if (FRate.Measured()) {
        int numerator = 0;
        int denominator = 1;
        gst_util_double_to_fraction(fps, &numerator, &denominator);
        caps.reset(gst_caps_make_writable(caps.release()));
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, numerator, denominator,
                            nullptr);
    }
    const int keyframeFrames = std::max(1, static_cast<int>(std::lround(fps / 2)));
    bool preferH264 = true;
    {
        std::lock_guard lock(FMutex);
        preferH264 = FSettings.PreferH264;
    }
    try {
        const TEventCodec codec =
            // The frame encoder asks for a key frame every half second of the
            // frames' times; the encoder's own count, in frames, is only a
            // ceiling twice that far, so that the two never fall a frame apart.
            ChooseEventCodec(2 * keyframeFrames, EventBitrateKbps(info.width, info.height, fps),
                             preferH264, EventEncoderThreads(info.width, info.height, fps));
        {
            std::lock_guard lock(FMutex);
            FCodec = codec;
            FKeyframeInterval = Seconds(keyframeFrames / fps);
            FRing.SetLimits(Seconds(FSettings.PreRollSeconds) + FKeyframeInterval, MaxPreRollBytes);
        }
        FEncoder = std::make_unique<TFrameEncoder>(
            codec, caps.get(),
            [this](GstBuffer* buffer, GstCaps* encoded) { OnEncoded(buffer, encoded); });
    } catch (const std::exception& error) {
        Report(MakeStatus(TEventStatus::Failed, error.what()));
    }
}

// The encoder's thread: the frame joins the pre-roll and, while an event
// runs, its file, until the post-roll has passed.
void TEventRecorder::OnEncoded(GstBuffer* buffer, GstCaps* caps) {
    std::lock_guard lock(FMutex);
    if (!FEncodedCaps || !gst_caps_is_equal(FEncodedCaps.get(), caps)) {
        FEncodedCaps = RefCaps(caps);
    }
    FRing.Push(buffer);
    FNewestEncoded = GST_BUFFER_PTS(buffer);
    FLastEncodedAt = Now();
    if (!FWriter && !FStarting) {
        return;
    }
    if (FStarting) {
        if (!FStarting->Ended) {
            FStarting->Frames.Push(buffer);
        }
    } else {
        FWriter->Push(buffer);
    }
    // The frame that reaches the event's end is its last one: the post-roll
    // is never shorter than asked, however far apart the frames come.
    if (GST_BUFFER_PTS(buffer) >= FEventEnd) {
        EndEvent({});
        FWake.notify_all();
    }
}

// Only memory work here: the caller may be the GUI thread, whose frames
// wait while it works, and the encoder's thread waits on FMutex.
void TEventRecorder::Movement() {
    const GstClockTime now = Now();
    std::lock_guard lock(FMutex);
    const GstClockTime end = now + Seconds(FSettings.PostRollSeconds);
    if (FWriter || FStarting) {
        FEventEnd = std::max(FEventEnd, end);
        FLastMovement = std::max(FLastMovement, now);
        return;
    }
    if (!FEncodedCaps || FRing.Count() == 0) {
        return; // no frame encoded yet
    }
    if (now < FRetryAt) {
        return; // the last file could not be created: not tried again at every step
    }
    FStarting = std::make_unique<TEventStart>(now, FSettings, FCodec, FEncodedCaps.get(), FRing);
    FEventEnd = end;
    FLastMovement = now;
    FWake.notify_all();
}

// The worker: the disk work runs without FMutex, so that neither Movement()
// nor the encoder's thread waits for the disk. Only this thread replaces
// FStarting, and what it reads of it here does not change.
void TEventRecorder::StartEvent(std::unique_lock<std::mutex>& lock) {
    const TEventStart& start = *FStarting;
    lock.unlock();
    TPreparedEvent prepared = PrepareEvent(start);
    lock.lock();
    BeginEvent(std::move(prepared));
}

void TEventRecorder::BeginEvent(TPreparedEvent prepared) {
    const std::unique_ptr<TEventStart> start = std::move(FStarting);
    if (!prepared.Writer) {
        if (!FRefused) {
            Report(prepared.Refusal);
        }
        FRefused = true;
        if (prepared.RetryLater) {
            FRetryAt = Now() + FRetryDelay;
            FRetryDelay = std::min(FRetryDelay * 2, LongestRetryDelay);
        }
        return;
    }
    FWriter = std::move(prepared.Writer);
    FFirstMovement = start->Movement;
    FRefused = false;
    FRetryDelay = FirstRetryDelay;
    // The frames that came while the file opened join it up to the first
    // that reaches the event's end, as they would have one by one.
    FWriter->SetWaitingLimit(start->Frames.Count() + TEventWriter::StallFrames);
    bool passedEnd = false;
    start->Frames.ForEachFrom(start->From, [&](GstBuffer* buffer) {
        if (!passedEnd) {
            FWriter->Push(buffer);
            passedEnd = GST_BUFFER_PTS(buffer) >= FEventEnd;
        }
    });
    FStopNote.clear();
    TEventStatus status =
        MakeStatus(TEventStatus::Recording, "Recording event " + FileName(FWriter->Path()) + " ...",
                   FWriter->Path());
    status.PreRoll = start->Movement > start->Origin ? start->Movement - start->Origin : 0;
    Report(status);
    if (passedEnd || start->Ended) {
        EndEvent(start->Note);
    }
}

void TEventRecorder::EndEvent(const std::string& note) {
    if (FStarting) {
        // Its file opens with what it has and is finished right away.
        if (!FStarting->Ended) {
            FStarting->Ended = true;
            FStarting->Note = note;
        }
        return;
    }
    if (!FWriter) {
        return;
    }
    FWriter->EndOfStream();
    FFinishing.push_back(
        {std::move(FWriter), note.empty() ? FStopNote : note, FFirstMovement, FLastMovement});
    FWake.notify_all();
}

void TEventRecorder::OnSourceGone() {
    std::lock_guard lock(FMutex);
    EndEvent({});
    FRing.Clear();
}

void TEventRecorder::Report(const TEventStatus& status) {
    if (FStatus) {
        FStatus(status);
    }
}

void TEventRecorder::Work() {
    auto lastLimitCheck = std::chrono::steady_clock::now();
    std::unique_lock lock(FMutex);
    while (true) {
        FWake.wait_for(lock, CheckInterval, [this] {
            return FQuit || FStarting || !FFinishing.empty() || !FRepairFolder.empty();
        });
        if (FStarting) {
            StartEvent(lock);
        }
        while (!FFinishing.empty()) {
            TFinishJob job = std::move(FFinishing.front());
            FFinishing.pop_front();
            lock.unlock();
            FinishFile(std::move(job));
            // The writer's pipeline and its threads are gone: the memory they
            // freed goes back to the system instead of staying in the
            // allocator's per-thread pools, where it added up event after event.
            malloc_trim(0);
            lock.lock();
        }
        if (FQuit) {
            return;
        }
        if (!FRepairFolder.empty()) {
            const std::string folder = std::exchange(FRepairFolder, {});
            lock.unlock();
            RepairFolder(folder);
            lock.lock();
        }
        if (FWriter &&
            std::chrono::steady_clock::now() - lastLimitCheck >= std::chrono::seconds(1)) {
            lastLimitCheck = std::chrono::steady_clock::now();
            lock.unlock();
            CheckRunningEvent();
            lock.lock();
        }
        if (FWriter && FWriter->CheckFailed()) {
            EndEvent({});
        } else if (FWriter && Now() > FEventEnd + StalledGrace &&
                   Now() > FLastEncodedAt + StalledGrace) {
            EndEvent("stopped early: the source's frames stopped coming");
        }
    }
}

// Outside FMutex: the disk checks of a running event. The oldest other
// event files make room; when the event alone passes the limit, or the disk
// falls below its floor, the event ends early with what it has.
void TEventRecorder::CheckRunningEvent() {
    std::string path;
    std::string folder;
    std::uint64_t limit = 0;
    {
        std::lock_guard lock(FMutex);
        if (!FWriter) {
            return;
        }
        path = FWriter->Path();
        folder = FSettings.Folder;
        limit = FSettings.LimitBytes;
    }
    std::string note;
    const TDiskSpace space = DiskSpaceOf(folder);
    if (space.Known && space.Free < FreeSpaceFloor(space.Total)) {
        note = "stopped early: the disk of the events folder is almost full";
    } else {
        EnforceFolderLimit(folder, limit, 0, path);
        std::uint64_t total = 0;
        for (const TEventFile& file : ListEventFiles(folder)) {
            total += file.Size;
        }
        if (total > limit) {
            note = "stopped early: the events folder reached its size limit";
        }
    }
    if (!note.empty()) {
        std::lock_guard lock(FMutex);
        if (FWriter && FWriter->Path() == path) {
            EndEvent(note);
        }
    }
}

// Outside FMutex: clips that a killed program left unfinished in `folder`
// are repaired or moved aside, each said once on the status line.
void TEventRecorder::RepairFolder(const std::string& folder) {
    for (const TRepairResult& result : RepairUnfinishedEvents(folder)) {
        TEventStatus status = MakeStatus(
            result.Kind == TRepairResult::MovedAside ? TEventStatus::Failed : TEventStatus::Saved,
            result.Text, result.Path);
        status.Duration = result.Duration;
        Report(status);
    }
}

void TEventRecorder::FinishFile(TFinishJob job) {
    TEventWriter& writer = *job.Writer;
    const GstClockTime end = writer.End();
    if (writer.Finish(FinishTimeout)) {
        TEventStatus status = MakeStatus(TEventStatus::Saved,
                                         "Event saved: " + FileName(writer.Path()), writer.Path());
        if (!job.Note.empty()) {
            status.Text += " (" + job.Note + ")";
        }
        if (writer.Skipped() > 0) {
            status.Text += " (" + std::to_string(writer.Skipped()) +
                           " frames left out while the disk was behind)";
        }
        status.PreRoll = job.FirstMovement - writer.Origin();
        status.Duration = end - writer.Origin();
        status.PostRoll = end > job.LastMovement ? end - job.LastMovement : 0;
        Report(status);
    } else if (writer.Lost()) {
        Report(MakeStatus(TEventStatus::Failed,
                          "Event lost: " + FileName(writer.Path()) +
                              " was removed from the disk while it was being written",
                          writer.Path()));
    } else {
        Report(MakeStatus(TEventStatus::Failed,
                          "Event recording failed: " + writer.Error() + "; the file was removed",
                          writer.Path()));
    }
}

bool TEventRecorder::Recording() const {
    std::lock_guard lock(FMutex);
    return FWriter != nullptr || (FStarting && !FStarting->Ended);
}

std::size_t TEventRecorder::PreRollBytes() const {
    std::lock_guard lock(FMutex);
    return FRing.Bytes();
}

GstClockTime TEventRecorder::PreRollSpan() const {
    std::lock_guard lock(FMutex);
    return FRing.Count() > 0 ? FRing.NewestPts() - FRing.OldestPts() : 0;
}

std::string TEventRecorder::CodecName() const {
    std::lock_guard lock(FMutex);
    return FCodec.Name;
}

std::uint64_t TEventRecorder::DroppedFrames() const {
    std::lock_guard encoderLock(const_cast<std::mutex&>(FEncoderMutex));
    return FEncoder ? FEncoder->Dropped() : 0;
}
