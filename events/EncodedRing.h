#pragma once
// The pre-roll: the newest encoded frames, bounded in time and in bytes, and
// always starting at a keyframe so that any start point can be decoded. The
// frames are kept in a circular array that grows only when it is full, so an
// unchanged stream allocates nothing once the ring has filled.

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class TEncodedRing {
public:
    // `span`: how far back from the newest frame a start point may be asked
    // for; `maxBytes`: the most the kept frames may weigh.
    TEncodedRing(GstClockTime span, std::size_t maxBytes);
    ~TEncodedRing();
    TEncodedRing(const TEncodedRing&) = delete;
    TEncodedRing& operator=(const TEncodedRing&) = delete;

    void SetLimits(GstClockTime span, std::size_t maxBytes);

    // Keeps a reference to `buffer` (its PTS must be valid and rise). A
    // delta frame with no keyframe before it is dropped; older frames are
    // dropped whole keyframe groups at a time to keep within the limits.
    void Push(GstBuffer* buffer);
    void Clear();

    // Calls `use` for every frame from the last keyframe at or before `from`
    // (the oldest keyframe when none is that old) to the newest, in order.
    // Returns the PTS of the first frame given, or GST_CLOCK_TIME_NONE.
    GstClockTime ForEachFrom(GstClockTime from, const std::function<void(GstBuffer*)>& use) const;

    // The PTS ForEachFrom(from, ...) would start at, or GST_CLOCK_TIME_NONE.
    GstClockTime StartPts(GstClockTime from) const;

    std::size_t Count() const { return FCount; }
    std::size_t Bytes() const { return FBytes; }
    GstClockTime OldestPts() const;
    GstClockTime NewestPts() const;

private:
    struct TFrame {
        GstBuffer* Buffer = nullptr;
        GstClockTime Pts = GST_CLOCK_TIME_NONE;
        std::size_t Size = 0;
        bool Key = false;
    };
    const TFrame& At(std::size_t index) const { return FFrames[(FHead + index) % FFrames.size()]; }
    void Grow();
    void DropOldest(std::size_t frames);
    void Trim();
    // Index of the last keyframe at or before `pts`, or of the first keyframe.
    std::size_t StartIndex(GstClockTime pts) const;

    GstClockTime FSpan;
    std::size_t FMaxBytes;
    std::vector<TFrame> FFrames;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    std::size_t FBytes = 0;
};
