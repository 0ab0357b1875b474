#include "capture/Recorder.h"

#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <QString>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// A frame that has not reached the file after this long means the file is stuck.
constexpr std::chrono::steady_clock::duration StuckAfter = 5s;

// "Could not open file "video.avi" for writing. (Permission denied)": GStreamer's
// message with the system's reason, when it gives one.
std::string RecordingErrorText(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    const TErrorPtr error(rawError);
    const TGStringPtr debug(rawDebug);
    std::string text = error ? error->message : "unknown error";
    if (debug) {
        // The debug text ends with the system's own words after the last colon.
        const std::string detail = debug.get();
        const std::size_t colon = detail.rfind(": ");
        const std::string reason = colon == std::string::npos ? detail : detail.substr(colon + 2);
        if (!reason.empty() && reason.find('/') == std::string::npos &&
            text.find(reason) == std::string::npos) {
            text += " (" + reason + ")";
        }
    }
    return text;
}

} // namespace

std::unique_ptr<TRecorder> TRecorder::Start(const std::string& fileName, int framesPerSecond,
                                            std::string& error) {
    // The frame size is fixed by the first frame: a format change while
    // recording is scaled to it, since an AVI stream keeps one size.
    const int rate = std::max(framesPerSecond, 1);
    const QString description =
        QStringLiteral("appsrc name=in format=time ! videoconvert ! videoscale ! "
                       "capsfilter name=size ! jpegenc name=enc ! avimux ! filesink name=out");
    TGstPtr<GstElement> pipeline;
    try {
        pipeline = LaunchPipeline(description.toStdString());
    } catch (const std::exception& parseError) {
        error = parseError.what();
        return nullptr;
    }
    std::unique_ptr<TRecorder> recorder(new TRecorder);
    recorder->FFileName = fileName;
    recorder->FRate = rate;
    recorder->FInterval = gst_util_uint64_scale_int(GST_SECOND, 1, rate);
    TGstPtr<GstElement> out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    TGstPtr<GstElement> encoder(gst_bin_get_by_name(GST_BIN(pipeline.get()), "enc"));
    g_object_set(out.get(), "location", fileName.c_str(), nullptr);
    // The muxer writes each frame on the thread that hands it over, so a frame
    // leaving the encoder goes straight into the file.
    TGstPtr<GstPad> encoded(gst_element_get_static_pad(encoder.get(), "src"));
    gst_pad_add_probe(encoded.get(), GST_PAD_PROBE_TYPE_BUFFER, &TRecorder::CountWritten,
                      recorder.get(), nullptr);
    recorder->FSizeFilter.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "size"));
    recorder->FInput.reset(gst_bin_get_by_name(GST_BIN(pipeline.get()), "in"));
    recorder->FPipeline = std::move(pipeline);
    if (SetState(recorder->FPipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        recorder->ReadBus();
        error = recorder->FError.empty() ? "the recorder does not start" : recorder->FError;
        SetState(recorder->FPipeline.get(), GST_STATE_NULL);
        recorder->FPipeline.reset();
        return nullptr;
    }
    return recorder;
}

void TRecorder::Finish() {
    if (!FPipeline) {
        return;
    }
    ReadBus();
    if (FError.empty() && FInputCaps) {
        // The frame in flight and the index are written before the pipeline stops.
        gst_app_src_end_of_stream(GST_APP_SRC(FInput.get()));
        TGstPtr<GstBus> bus(gst_element_get_bus(FPipeline.get()));
        const TMessagePtr done(gst_bus_timed_pop_filtered(
            bus.get(), 2 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    }
    SetState(FPipeline.get(), GST_STATE_NULL);
    std::lock_guard lock(FNewestMutex);
    FNewestBuffer.reset();
    FNewestCaps.reset();
    FInput.reset();
    FSizeFilter.reset();
    FPipeline.reset();
}

GstPadProbeReturn TRecorder::CountWritten(GstPad*, GstPadProbeInfo*, gpointer self) {
    ++static_cast<TRecorder*>(self)->FWritten;
    return GST_PAD_PROBE_OK;
}

void TRecorder::Offer(GstBuffer* frame, GstCaps* caps) {
    TBufferPtr buffer(gst_buffer_ref(frame));
    TCapsPtr newCaps(gst_caps_ref(caps));
    std::lock_guard lock(FNewestMutex);
    std::swap(FNewestBuffer, buffer);
    std::swap(FNewestCaps, newCaps);
    // The frames replaced are released here; unref is all it costs.
}

void TRecorder::AdmitNewest() {
    if (!FPipeline || !Error().empty()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (FWritten.load() < FAdmitted) {
        ++FDropped; // the file is still busy with the frame before
        if (now - FAdmittedAt > StuckAfter) {
            FError = "frames are no longer being written";
        }
        return;
    }
    TBufferPtr buffer;
    TCapsPtr caps;
    {
        std::lock_guard lock(FNewestMutex);
        buffer = std::move(FNewestBuffer);
        caps = std::move(FNewestCaps);
    }
    if (!buffer || !caps) {
        return; // no new frame since the last one
    }
    if (!FInputCaps) {
        GstVideoInfo info;
        if (!gst_video_info_from_caps(&info, caps.get())) {
            return;
        }
        TCapsPtr size(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, info.width, "height",
                                          G_TYPE_INT, info.height, "pixel-aspect-ratio",
                                          GST_TYPE_FRACTION, 1, 1, "framerate", GST_TYPE_FRACTION,
                                          FRate, 1, nullptr));
        g_object_set(FSizeFilter.get(), "caps", size.get(), nullptr);
    }
    if (!FSourceCaps || !gst_caps_is_equal(FSourceCaps.get(), caps.get())) {
        // The frames are restamped at the capture rate, and their caps say so.
        TCapsPtr input(gst_caps_copy(caps.get()));
        gst_caps_set_simple(input.get(), "framerate", GST_TYPE_FRACTION, FRate, 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(FInput.get()), input.get());
        FSourceCaps = std::move(caps);
        FInputCaps = std::move(input);
    }
    // Frames are stamped at the capture rate: the file plays them at that rate.
    GstBuffer* stamped = gst_buffer_copy(buffer.get()); // shares the pixels
    GST_BUFFER_PTS(stamped) = FAdmitted * FInterval;
    GST_BUFFER_DTS(stamped) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(stamped) = FInterval;
    ++FAdmitted;
    FAdmittedAt = now;
    gst_app_src_push_buffer(GST_APP_SRC(FInput.get()), stamped); // takes the buffer over
}

void TRecorder::ReadBus() {
    if (!FPipeline || !FError.empty()) {
        return;
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(FPipeline.get()));
    if (const TMessagePtr message{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)}) {
        FError = RecordingErrorText(message.get());
    }
}

std::string TRecorder::Error() {
    ReadBus();
    return FError;
}
