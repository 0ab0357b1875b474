#include "capture/Recorder.h"

#include <gst/app/gstappsrc.h>

#include <QString>

#include <algorithm>

std::unique_ptr<TRecorder> TRecorder::Start(const std::string& fileName, int framesPerSecond) {
    const QString description =
        QStringLiteral("appsrc name=in is-live=true do-timestamp=true format=time ! "
                       "videoconvert ! videorate ! video/x-raw,framerate=%1/1 ! "
                       "jpegenc name=enc ! avimux ! filesink name=out")
            .arg(std::max(framesPerSecond, 1));
    GError* rawError = nullptr;
    TGstPtr<GstElement> pipeline(gst_parse_launch(description.toUtf8().constData(), &rawError));
    const TErrorPtr error(rawError);
    if (error || !pipeline) {
        return nullptr;
    }
    std::unique_ptr<TRecorder> recorder(new TRecorder);
    TGstPtr<GstElement> out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    TGstPtr<GstElement> encoder(gst_bin_get_by_name(GST_BIN(pipeline.get()), "enc"));
    g_object_set(out.get(), "location", fileName.c_str(), nullptr);
    TGstPtr<GstPad> encoded(gst_element_get_static_pad(encoder.get(), "src"));
    gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, &TRecorder::CountFrame,
                      recorder.get(), nullptr);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return nullptr;
    }
    recorder->FInput.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    recorder->FPipeline = std::move(pipeline);
    return recorder;
}

void TRecorder::Finish() {
    if (!FPipeline) {
        return;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(FInput.get()));
    TGstPtr<GstBus> bus(gst_element_get_bus(FPipeline.get()));
    const TMessagePtr done(gst_bus_timed_pop_filtered(
        bus.get(), 3 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(FPipeline.get(), GST_STATE_NULL);
    FInput.reset();
    FPipeline.reset();
}

GstPadProbeReturn TRecorder::CountFrame(GstPad*, GstPadProbeInfo*, gpointer self) {
    ++static_cast<TRecorder*>(self)->FFrames;
    return GST_PAD_PROBE_OK;
}

void TRecorder::Push(GstBuffer* frame, GstCaps* caps) {
    GstAppSrc* input = GST_APP_SRC(FInput.get());
    const TCapsPtr current(gst_app_src_get_caps(input));
    if (!current || !gst_caps_is_equal(current.get(), caps)) {
        gst_app_src_set_caps(input, caps);
    }
    GstBuffer* buffer = gst_buffer_copy(frame);
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    // The source takes the buffer over.
    gst_app_src_push_buffer(input, buffer);
}
