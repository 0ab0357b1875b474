#pragma once
// Encodes raw frames on a pipeline of its own: appsrc, videoconvert to I420,
// the event codec's encoder, appsink. Push() only queues the frame (at most a
// few frames wait; when the encoder falls behind the oldest waiting frame is
// dropped), so the thread that pushes is never held up by encoding. Encoded
// frames come out on the encoder's own streaming thread. A key frame is asked
// for every half second of the frames' times, however many frames that is.

#include "events/EventCodec.h"
#include "gstkit/BoundedAppSrc.h"
#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <atomic>
#include <functional>
#include <string>

class TFrameEncoder {
public:
    // `encoded` borrows the encoded buffer and its caps for the call.
    using TOutput = std::function<void(GstBuffer* encoded, GstCaps* caps)>;

    // Builds and starts the pipeline for raw frames of `rawCaps`; throws
    // std::runtime_error when it cannot.
    TFrameEncoder(const TEventCodec& codec, GstCaps* rawCaps, TOutput encoded);
    ~TFrameEncoder();
    TFrameEncoder(const TFrameEncoder&) = delete;
    TFrameEncoder& operator=(const TFrameEncoder&) = delete;

    // Queues one raw frame with its presentation time; the buffer is borrowed.
    void Push(GstBuffer* raw, GstClockTime pts);

    // The encoder reported an error (its text), or the empty text.
    std::string TakeError();
    std::uint64_t Dropped() const { return FDropped.load(); }

private:
    static GstFlowReturn NewSample(GstElement* sink, gpointer self);

    void ForceKeyUnitByTime(GstClockTime pts);

    TGstPtr<GstElement> FPipeline;
    TBoundedAppSrc FSource;
    TGstPtr<GstElement> FSourceElement;
    GstClockTime FLastKeyUnit = GST_CLOCK_TIME_NONE;
    TOutput FEncoded;
    std::atomic<std::uint64_t> FDropped{0};
    GstClockTime FFrameDuration = GST_CLOCK_TIME_NONE;
};
