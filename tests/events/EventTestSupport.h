#pragma once
// Real pipelines for the recorder's tests: a live moving test source whose
// every frame goes to a callback (as the capture layer's frame tap does),
// and readers that open an event file as a player would.

#include "tests/support/GstTestUtil.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class TLiveTestSource {
public:
    using TFrameSink = std::function<void(GstSample*)>;
    TLiveTestSource(int width, int height, int fps, TFrameSink sink) : FSink(std::move(sink)) {
        const std::string description =
            "videotestsrc is-live=true pattern=ball ! video/x-raw,format=BGR,width=" +
            std::to_string(width) + ",height=" + std::to_string(height) +
            ",framerate=" + std::to_string(fps) + "/1 ! appsink name=sink sync=false";
        FPipeline = gst_parse_launch(description.c_str(), nullptr);
        if (!FPipeline) {
            throw std::runtime_error("no test source");
        }
        GstElement* appsink = gst_bin_get_by_name(GST_BIN(FPipeline), "sink");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* from, gpointer self) {
            GstSample* sample = gst_app_sink_pull_sample(from);
            if (sample) {
                static_cast<TLiveTestSource*>(self)->FSink(sample);
                gst_sample_unref(sample);
            }
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(appsink), &callbacks, this, nullptr);
        gst_object_unref(appsink);
        gst_element_set_state(FPipeline, GST_STATE_PLAYING);
    }
    ~TLiveTestSource() { Stop(); }
    void Stop() {
        if (FPipeline) {
            gst_element_set_state(FPipeline, GST_STATE_NULL);
            gst_object_unref(FPipeline);
            FPipeline = nullptr;
        }
    }

private:
    TFrameSink FSink;
    GstElement* FPipeline = nullptr;
};

// The file's duration as GStreamer's discoverer reports it; GST_CLOCK_TIME_NONE
// when it cannot open the file or finds no video in it.
inline GstClockTime DiscoveredDuration(const std::string& path) {
    GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, nullptr);
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, nullptr);
    g_free(uri);
    GstClockTime duration = GST_CLOCK_TIME_NONE;
    if (info && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        GList* video = gst_discoverer_info_get_video_streams(info);
        if (video) {
            duration = gst_discoverer_info_get_duration(info);
        }
        gst_discoverer_stream_info_list_free(video);
    }
    if (info) {
        gst_discoverer_info_unref(info);
    }
    g_object_unref(discoverer);
    return duration;
}

// Plays `pipeline` to its end (at most 30 s) and releases it; true when it
// reached the end of the stream without an error.
inline bool PlayToTheEnd(GstElement* pipeline) {
    const TGstPtr<GstElement> owner(pipeline);
    try {
        RunToEos(pipeline, 30);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// Decodes the whole file as a player does; returns the number of frames
// decoded, or -1 when decoding failed.
inline int DecodedFrames(const std::string& path) {
    const std::string description = "filesrc name=src ! decodebin ! videoconvert ! fakesink "
                                    "name=sink sync=false signal-handoffs=true";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_object_unref(src);
    int frames = 0;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_signal_connect(sink, "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer count) {
                         ++*static_cast<int*>(count);
                     }),
                     &frames);
    gst_object_unref(sink);
    const bool ok = PlayToTheEnd(pipeline);
    return ok ? frames : -1;
}

// The times of the key frames of an event file, as its demuxer hands them out.
inline std::vector<GstClockTime> KeyframeTimes(const std::string& path) {
    const std::string description = "filesrc name=src ! parsebin ! fakesink name=sink "
                                    "sync=false signal-handoffs=true";
    GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_object_unref(src);
    std::vector<GstClockTime> times;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_signal_connect(
        sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, GstPad*, gpointer found) {
            if (!GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) {
                static_cast<std::vector<GstClockTime>*>(found)->push_back(GST_BUFFER_PTS(buffer));
            }
        }),
        &times);
    gst_object_unref(sink);
    const bool ok = PlayToTheEnd(pipeline);
    return ok ? times : std::vector<GstClockTime>{};
}
