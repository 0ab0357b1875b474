#pragma once
// Writes one event file: encoded frames in, through the codec's muxer, to a
// file. Frames are retimed so the file starts at 0. The file is complete only
// after the end of stream has gone through the muxer (an MP4 writes its index
// last), so Finish() waits for it; a file whose writing failed is removed,
// never left half-written.

#include "events/EventCodec.h"
#include "gstkit/BoundedAppSrc.h"
#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <utility>

class TUnfinishedMarker;

class TEventWriter {
public:
    // Creates the file and starts the pipeline; `origin` is the PTS that
    // becomes time 0. Throws std::runtime_error (nothing is left behind)
    // when the file cannot be created.
    TEventWriter(const TEventCodec& codec, GstCaps* encodedCaps, const std::string& path,
                 GstClockTime origin);
    ~TEventWriter();
    TEventWriter(const TEventWriter&) = delete;
    TEventWriter& operator=(const TEventWriter&) = delete;

    // Frames that may wait for the disk while it is behind, besides those
    // handed over at once when the event starts: about eight seconds at 30
    // frames a second.
    static constexpr std::size_t StallFrames = 256;

    // Queues one encoded frame (borrowed); never waits for the disk. While
    // more than the waiting limit of frames wait, frames are left out up to
    // the next keyframe that finds room, so the file stays decodable and the
    // memory bounded.
    void Push(GstBuffer* encoded);
    // At most `frames` frames wait for the disk (StallFrames at first); the
    // recorder raises it by the frames it hands over at once.
    void SetWaitingLimit(std::size_t frames) { FSource.SetLimit(frames); }
    // Frames left out while too many waited.
    std::uint64_t Skipped() const { return FSkipped.load(); }
    // No more frames: the muxer finishes the file.
    void EndOfStream();
    // Waits at most `timeout` for the file to be complete (after
    // EndOfStream), then stops the pipeline. A failed or unfinished file is
    // removed. Returns true when the file is complete.
    bool Finish(std::chrono::milliseconds timeout);
    // Whether the pipeline reported an error so far (never waits).
    bool CheckFailed();

    const std::string& Path() const { return FPath; }
    const std::string& Error() const { return FError; }
    // After Finish: the file was gone from the disk (never removed by the
    // writer, as the name may now be another file's).
    bool Lost() const { return FLost; }
    std::uint64_t BytesPushed() const { return FBytes.load(); }
    // The end of the last frame pushed (its PTS plus its duration).
    GstClockTime End() const { return FEnd.load(); }
    GstClockTime Origin() const { return FOrigin; }

private:
    void Stop();

    std::string FPath;
    GstClockTime FOrigin;
    // Says "unfinished" to the next start while the file is written.
    std::unique_ptr<TUnfinishedMarker> FMarker;
    TGstPtr<GstElement> FPipeline;
    TBoundedAppSrc FSource;
    std::string FError;
    bool FEnded = false;
    bool FStopped = false;
    bool FComplete = false; // the end of stream reached the file
    bool FLost = false;
    std::pair<dev_t, ino_t> FIdentity{0, 0}; // the file as created
    bool FSkipping = false;                  // until a keyframe finds room
    std::atomic<std::uint64_t> FSkipped{0};
    std::atomic<std::uint64_t> FBytes{0};
    std::atomic<GstClockTime> FEnd{GST_CLOCK_TIME_NONE};
};
