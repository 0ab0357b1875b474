#pragma once
// Decoded pictures handed downstream without a copy: a GstBuffer whose
// memories are libav's own planes, read-only, with a video meta giving their
// strides. The buffer holds a reference to the picture, so libav's pool does
// not reuse its storage before the last memory of the buffer (or of a copy of
// it) is gone, whichever thread lets it go and whether or not the decoder
// still exists.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gst/video/video.h>

#include <atomic>
#include <cstddef>
#include <memory>

class TPictureLender {
public:
    // At most `limit` pictures lent at a time: each one lent keeps a picture
    // of libav's pool from being reused, so a stalled consumer would
    // otherwise make the pool grow without end.
    explicit TPictureLender(std::size_t limit);

    // A buffer over the picture's planes as `info` describes them (8-bit
    // 4:2:0), or null when it cannot be lent (the limit is reached, the
    // layout is not one a video meta describes); the caller copies then.
    GstBuffer* Lend(const AVFrame& picture, const GstVideoInfo& info);

    // The pictures lent and not yet released.
    std::size_t Lent() const { return FLent->load(); }

private:
    std::shared_ptr<std::atomic<std::size_t>> FLent;
    std::size_t FLimit;
};
