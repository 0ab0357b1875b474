#include "events/EncodedRing.h"

TEncodedRing::TEncodedRing(GstClockTime span, std::size_t maxBytes)
    : FSpan(span), FMaxBytes(maxBytes), FFrames(64) {}

TEncodedRing::~TEncodedRing() {
    Clear();
}

void TEncodedRing::SetLimits(GstClockTime span, std::size_t maxBytes) {
    FSpan = span;
    FMaxBytes = maxBytes;
    Trim();
}

void TEncodedRing::Push(GstBuffer* buffer) {
    const bool key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(pts) || (FCount == 0 && !key) ||
        (FCount > 0 && pts <= NewestPts())) {
        return;
    }
    if (FCount == FFrames.size()) {
        Grow();
    }
    TFrame& frame = FFrames[(FHead + FCount) % FFrames.size()];
    frame = {gst_buffer_ref(buffer), pts, gst_buffer_get_size(buffer), key};
    ++FCount;
    FBytes += frame.Size;
    Trim();
}

void TEncodedRing::Clear() {
    DropOldest(FCount);
    FHead = 0;
}

void TEncodedRing::Grow() {
    std::vector<TFrame> larger(FFrames.size() * 2);
    for (std::size_t i = 0; i < FCount; ++i) {
        larger[i] = At(i);
    }
    FFrames.swap(larger);
    FHead = 0;
}

void TEncodedRing::DropOldest(std::size_t frames) {
    for (std::size_t i = 0; i < frames && FCount > 0; ++i) {
        TFrame& frame = FFrames[FHead];
        gst_buffer_unref(frame.Buffer);
        FBytes -= frame.Size;
        frame = {};
        FHead = (FHead + 1) % FFrames.size();
        --FCount;
    }
}

std::size_t TEncodedRing::StartIndex(GstClockTime pts) const {
    std::size_t start = 0;
    for (std::size_t i = 0; i < FCount && At(i).Pts <= pts; ++i) {
        if (At(i).Key) {
            start = i;
        }
    }
    return start;
}

// Everything before the keyframe group that holds "newest - span" goes; then,
// while the bytes are too many and a later keyframe exists, the oldest group.
void TEncodedRing::Trim() {
    if (FCount == 0) {
        return;
    }
    const GstClockTime newest = NewestPts();
    if (newest >= FSpan) {
        DropOldest(StartIndex(newest - FSpan));
    }
    while (FBytes > FMaxBytes) {
        std::size_t nextKey = 1;
        while (nextKey < FCount && !At(nextKey).Key) {
            ++nextKey;
        }
        if (nextKey >= FCount) {
            break; // one keyframe group alone: it is the only decodable start
        }
        DropOldest(nextKey);
    }
}

GstClockTime TEncodedRing::ForEachFrom(GstClockTime from,
                                       const std::function<void(GstBuffer*)>& use) const {
    if (FCount == 0) {
        return GST_CLOCK_TIME_NONE;
    }
    const std::size_t start = StartIndex(from);
    for (std::size_t i = start; i < FCount; ++i) {
        use(At(i).Buffer);
    }
    return At(start).Pts;
}

GstClockTime TEncodedRing::StartPts(GstClockTime from) const {
    return FCount ? At(StartIndex(from)).Pts : GST_CLOCK_TIME_NONE;
}

GstClockTime TEncodedRing::OldestPts() const {
    return FCount ? At(0).Pts : GST_CLOCK_TIME_NONE;
}

GstClockTime TEncodedRing::NewestPts() const {
    return FCount ? At(FCount - 1).Pts : GST_CLOCK_TIME_NONE;
}
