#include "events/FrameEncoder.h"

#include "events/EventCodec.h"
#include "gstkit/GstKit.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <stdexcept>

namespace {

// Encoders that shift their output times to keep decoding times positive
// (x264enc adds 1000 hours below that) leave times at or above it alone; the
// frames go in this far ahead and come out at their own times again.
constexpr GstClockTime TimeBase = 1000ull * 3600 * GST_SECOND;

// Frames allowed to wait for the encoder before the oldest is dropped.
constexpr std::size_t WaitingFrames = 3;

// The longest time between key frames: a clip starts at the key frame at or
// before its first second of pre-roll, at most this much earlier.
constexpr GstClockTime KeyUnitSpacing = GST_SECOND / 2;

} // namespace

TFrameEncoder::TFrameEncoder(const TEventCodec& codec, GstCaps* rawCaps, TOutput encoded)
    : FEncoded(std::move(encoded)) {
    const std::string description =
        TBoundedAppSrc::Description("src") + " ! videoconvert ! video/x-raw,format=I420 ! " +
        codec.Encoder + " ! " + codec.EncodedCaps +
        " ! appsink name=sink sync=false emit-signals=true max-buffers=2";
    try {
        FPipeline = LaunchPipeline(description);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("Cannot build the event encoder: ") + error.what());
    }
    // Live, counted in frames only: the oldest waiting frame is dropped past the third.
    FSource = TBoundedAppSrc(FPipeline.get(), "src", rawCaps,
                             {WaitingFrames, TBoundedAppSrc::TWhenFull::DropOldest, true});
    GstVideoInfo info;
    if (gst_video_info_from_caps(&info, rawCaps) && info.fps_n > 0 && info.fps_d > 0) {
        FFrameDuration = gst_util_uint64_scale(GST_SECOND, info.fps_d, info.fps_n);
    }
    FSourceElement.reset(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "src"));
    const TGstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "sink"));
    g_signal_connect(sink.get(), "new-sample", G_CALLBACK(&TFrameEncoder::NewSample), this);
    if (SetState(FPipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        SetState(FPipeline.get(), GST_STATE_NULL);
        throw std::runtime_error("Cannot start the event encoder");
    }
}

TFrameEncoder::~TFrameEncoder() {
    // Joins the streaming threads: no output callback runs after this.
    SetState(FPipeline.get(), GST_STATE_NULL);
}

void TFrameEncoder::Push(GstBuffer* raw, GstClockTime pts) {
    // A new buffer object that shares the frame's memory: the source's own
    // buffer keeps its times.
    ForceKeyUnitByTime(pts);
    GstBuffer* frame = gst_buffer_copy(raw);
    GST_BUFFER_PTS(frame) = pts + TimeBase;
    GST_BUFFER_DTS(frame) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame) = FFrameDuration;
    if (!FSource.Push(frame)) {
        FDropped.fetch_add(1);
    }
}

// The encoder's own key-frame interval counts frames, and frames left out
// under load would stretch it past the spacing: a key frame is asked for by
// time as well. The request travels with the frames and takes effect at the
// next frame the encoder codes.
void TFrameEncoder::ForceKeyUnitByTime(GstClockTime pts) {
    if (GST_CLOCK_TIME_IS_VALID(FLastKeyUnit) && pts >= FLastKeyUnit &&
        pts - FLastKeyUnit < KeyUnitSpacing) {
        return;
    }
    FLastKeyUnit = pts;
    gst_element_send_event(FSourceElement.get(), gst_video_event_new_downstream_force_key_unit(
                                                     GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE,
                                                     GST_CLOCK_TIME_NONE, FALSE, 0));
}

std::string TFrameEncoder::TakeError() {
    const TGstPtr<GstBus> bus = BusOf(FPipeline.get());
    std::string text;
    // Every waiting message goes, so that the bus never grows.
    while (const TMessagePtr message{gst_bus_pop(bus.get())}) {
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR && text.empty()) {
            text = ErrorText(message.get());
        }
    }
    return text;
}

GstFlowReturn TFrameEncoder::NewSample(GstElement* sink, gpointer self) {
    const TSamplePtr sample(gst_app_sink_pull_sample(GST_APP_SINK(sink)));
    if (!sample) {
        return GST_FLOW_OK;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    GstCaps* caps = gst_sample_get_caps(sample.get());
    if (buffer && caps && GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_PTS(buffer) >= TimeBase) {
        const TBufferPtr frame(gst_buffer_copy(buffer));
        GST_BUFFER_PTS(frame.get()) -= TimeBase;
        GST_BUFFER_DTS(frame.get()) = GST_BUFFER_PTS(frame.get());
        static_cast<TFrameEncoder*>(self)->FEncoded(frame.get(), caps);
    }
    return GST_FLOW_OK;
}
