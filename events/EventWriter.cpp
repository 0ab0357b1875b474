#include "events/EventWriter.h"

#include "events/EventCodec.h"
#include "events/EventRepair.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <utility>

#include <sys/stat.h>

namespace {

// The file at `path` now: device and inode, or nothing when there is none.
std::pair<dev_t, ino_t> IdentityOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return {0, 0};
    }
    return {info.st_dev, info.st_ino};
}

} // namespace

TEventWriter::TEventWriter(const TEventCodec& codec, GstCaps* encodedCaps, const std::string& path,
                           GstClockTime origin)
    : FPath(path), FOrigin(origin) {
    // Unbuffered: what the muxer has written is in the file even when the
    // program is killed a moment later.
    // The source's own limits stay off: Push() bounds the frames waiting.
    const std::string description = "appsrc name=src format=time block=false max-bytes=0 "
                                    "max-buffers=0 max-time=0 ! " +
                                    codec.Muxer +
                                    " ! filesink name=sink sync=false buffer-mode=unbuffered";
    GError* error = nullptr;
    FPipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
        const std::string text = error->message;
        g_error_free(error);
        if (FPipeline) {
            gst_object_unref(FPipeline);
        }
        throw std::runtime_error("Cannot build the event writer: " + text);
    }
    FSource = gst_bin_get_by_name(GST_BIN(FPipeline), "src");
    g_object_set(FSource, "caps", encodedCaps, nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(FPipeline), "sink");
    g_object_set(sink, "location", path.c_str(), nullptr);
    gst_object_unref(sink);
    FMarker = std::make_unique<TUnfinishedMarker>(path);
    // The bus is read whatever set_state says: a file sink that cannot open
    // its file fails the state change and leaves the reason there.
    const bool started =
        gst_element_set_state(FPipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (CheckFailed() || !started) {
        const std::string text = FError.empty() ? "cannot start the writer" : FError;
        Stop();
        std::remove(path.c_str());
        FMarker->Remove();
        gst_object_unref(FSource);
        gst_object_unref(FPipeline);
        throw std::runtime_error("Cannot create file \"" + path + "\". " + text);
    }
    FIdentity = IdentityOf(path);
}

TEventWriter::~TEventWriter() {
    if (!FStopped) {
        Finish(std::chrono::seconds(5));
    }
    gst_object_unref(FSource);
    gst_object_unref(FPipeline);
}

void TEventWriter::Push(GstBuffer* encoded) {
    const GstClockTime pts = GST_BUFFER_PTS(encoded);
    if (FEnded || !GST_CLOCK_TIME_IS_VALID(pts) || pts < FOrigin) {
        return;
    }
    const bool key = !GST_BUFFER_FLAG_IS_SET(encoded, GST_BUFFER_FLAG_DELTA_UNIT);
    const bool full = gst_app_src_get_current_level_buffers(GST_APP_SRC(FSource)) >= FWaitingLimit;
    if (full || (FSkipping && !key)) {
        FSkipping = true;
        FSkipped.fetch_add(1);
        return;
    }
    FSkipping = false;
    GstBuffer* frame = gst_buffer_copy(encoded);
    GST_BUFFER_PTS(frame) = pts - FOrigin;
    GST_BUFFER_DTS(frame) = pts - FOrigin;
    FBytes.fetch_add(gst_buffer_get_size(frame));
    const GstClockTime duration = GST_BUFFER_DURATION(encoded);
    FEnd.store(pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0));
    gst_app_src_push_buffer(GST_APP_SRC(FSource), frame);
}

void TEventWriter::EndOfStream() {
    if (!FEnded) {
        FEnded = true;
        gst_app_src_end_of_stream(GST_APP_SRC(FSource));
    }
}

// Takes every waiting message off the bus, keeping what matters: the first
// error and whether the end of stream got through.
bool TEventWriter::CheckFailed() {
    GstBus* bus = gst_element_get_bus(FPipeline);
    while (GstMessage* message = gst_bus_pop(bus)) {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && FError.empty()) {
            FError = PipelineErrorText(message);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
            FComplete = true;
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return !FError.empty();
}

bool TEventWriter::Finish(std::chrono::milliseconds timeout) {
    if (FStopped) {
        return FError.empty();
    }
    EndOfStream();
    bool complete = false;
    if (!CheckFailed() && FComplete) {
        complete = true;
    } else if (FError.empty()) {
        // A wait on the bus can end early (an interrupted poll): wait again
        // until the time is up.
        GstBus* bus = gst_element_get_bus(FPipeline);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        GstMessage* message = nullptr;
        while (!message && std::chrono::steady_clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                deadline - std::chrono::steady_clock::now());
            message = gst_bus_timed_pop_filtered(
                bus, static_cast<GstClockTime>(std::max<std::int64_t>(0, left.count())),
                static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
            if (!message) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        gst_object_unref(bus);
        if (!message) {
            FError = "the file was not finished in time";
        } else {
            if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
                FError = PipelineErrorText(message);
            } else {
                complete = true;
            }
            gst_message_unref(message);
        }
    }
    Stop();
    if (complete && FBytes.load() == 0) {
        FError = "no frame reached the file";
        complete = false;
    }
    // The file (or its folder) may have been removed while it was written:
    // the writer then wrote to a file that no longer has a name.
    FLost = IdentityOf(FPath) != FIdentity || FIdentity.second == 0;
    if (FLost) {
        FError = "the file was removed from the disk while it was being written";
        complete = false;
    } else if (!complete) {
        std::remove(FPath.c_str());
    }
    FMarker->Remove();
    return complete;
}

void TEventWriter::Stop() {
    FStopped = true;
    gst_element_set_state(FPipeline, GST_STATE_NULL);
}
