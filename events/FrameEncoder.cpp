#include "events/FrameEncoder.h"

#include "events/EventCodec.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <stdexcept>

namespace {

// Encoders that shift their output times to keep decoding times positive
// (x264enc adds 1000 hours below that) leave times at or above it alone; the
// frames go in this far ahead and come out at their own times again.
constexpr GstClockTime TimeBase = 1000ull * 3600 * GST_SECOND;

// Frames allowed to wait for the encoder before the oldest is dropped.
constexpr guint64 WaitingFrames = 3;

} // namespace

TFrameEncoder::TFrameEncoder(const TEventCodec& codec, GstCaps* rawCaps, TOutput encoded)
    : FEncoded(std::move(encoded)) {
    const std::string description =
        "appsrc name=src format=time is-live=true block=false leaky-type=downstream ! "
        "videoconvert ! video/x-raw,format=I420 ! " +
        codec.Encoder + " ! " + codec.EncodedCaps +
        " ! appsink name=sink sync=false emit-signals=true max-buffers=2";
    GError* error = nullptr;
    FPipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
        const std::string text = error->message;
        g_error_free(error);
        if (FPipeline) {
            gst_object_unref(FPipeline);
        }
        throw std::runtime_error("Cannot build the event encoder: " + text);
    }
    FSource = gst_bin_get_by_name(GST_BIN(FPipeline), "src");
    GstVideoInfo info;
    if (gst_video_info_from_caps(&info, rawCaps) && info.fps_n > 0 && info.fps_d > 0) {
        FFrameDuration = gst_util_uint64_scale(GST_SECOND, info.fps_d, info.fps_n);
    }
    // Counted in frames only: the source leaks its oldest frame past the third.
    g_object_set(FSource, "caps", rawCaps, "max-buffers", WaitingFrames, "max-bytes", guint64{0},
                 "max-time", guint64{0}, nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(FPipeline), "sink");
    g_signal_connect(sink, "new-sample", G_CALLBACK(&TFrameEncoder::NewSample), this);
    gst_object_unref(sink);
    if (gst_element_set_state(FPipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(FPipeline, GST_STATE_NULL);
        gst_object_unref(FSource);
        gst_object_unref(FPipeline);
        throw std::runtime_error("Cannot start the event encoder");
    }
}

TFrameEncoder::~TFrameEncoder() {
    // Joins the streaming threads: no output callback runs after this.
    gst_element_set_state(FPipeline, GST_STATE_NULL);
    gst_object_unref(FSource);
    gst_object_unref(FPipeline);
}

void TFrameEncoder::Push(GstBuffer* raw, GstClockTime pts) {
    if (gst_app_src_get_current_level_buffers(GST_APP_SRC(FSource)) >= WaitingFrames) {
        FDropped.fetch_add(1);
    }
    // A new buffer object that shares the frame's memory: the source's own
    // buffer keeps its times.
    GstBuffer* frame = gst_buffer_copy(raw);
    GST_BUFFER_PTS(frame) = pts + TimeBase;
    GST_BUFFER_DTS(frame) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(frame) = FFrameDuration;
    gst_app_src_push_buffer(GST_APP_SRC(FSource), frame);
}

std::string TFrameEncoder::TakeError() {
    GstBus* bus = gst_element_get_bus(FPipeline);
    std::string text;
    // Every waiting message goes, so that the bus never grows.
    while (GstMessage* message = gst_bus_pop(bus)) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && text.empty()) {
            text = PipelineErrorText(message);
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return text;
}

GstFlowReturn TFrameEncoder::NewSample(GstElement* sink, gpointer self) {
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) {
        return GST_FLOW_OK;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (buffer && caps && GST_BUFFER_PTS_IS_VALID(buffer) && GST_BUFFER_PTS(buffer) >= TimeBase) {
        GstBuffer* frame = gst_buffer_copy(buffer);
        GST_BUFFER_PTS(frame) -= TimeBase;
        GST_BUFFER_DTS(frame) = GST_BUFFER_PTS(frame);
        static_cast<TFrameEncoder*>(self)->FEncoded(frame, caps);
        gst_buffer_unref(frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}
