#include "events/EventRepair.h"

#include "events/EventCodec.h"
#include "events/EventsFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const std::string MarkerSuffix = ".unfinished";
constexpr GstClockTime RewriteTimeout = 120 * GST_SECOND;

// Locks the marker if no writer holds it; -1 when one does (or it is gone).
int LockIfAbandoned(const std::string& marker) {
    const int file = open(marker.c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0) {
        return -1;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        close(file);
        return -1;
    }
    return file;
}

std::string OneDecimal(GstClockTime time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(time) / GST_SECOND);
    return text;
}

struct TRewrite {
    int Frames = 0;
    GstClockTime End = 0;
    std::string Error; // empty when the end of stream reached the new file
};

// Demuxes `clip` and muxes it again into `target`: the muxer writes the
// index the killed writer never wrote, and a torn last fragment is dropped.
TRewrite Rewrite(const std::string& clip, const std::string& target) {
    const bool mp4 = fs::path(clip).extension() == ".mp4";
    const std::string description = std::string("filesrc name=src ! ") +
                                    (mp4 ? "qtdemux ! identity name=count ! h264parse ! mp4mux"
                                         : "matroskademux ! identity name=count ! webmmux") +
                                    " ! filesink name=sink";
    TRewrite result;
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
        result.Error = error->message;
        g_error_free(error);
        if (pipeline) {
            gst_object_unref(pipeline);
        }
        return result;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    g_object_set(src, "location", clip.c_str(), nullptr);
    gst_object_unref(src);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(sink, "location", target.c_str(), nullptr);
    gst_object_unref(sink);
    GstElement* count = gst_bin_get_by_name(GST_BIN(pipeline), "count");
    g_signal_connect(
        count, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* buffer, gpointer data) {
            auto* rewrite = static_cast<TRewrite*>(data);
            ++rewrite->Frames;
            const GstClockTime pts = GST_BUFFER_PTS(buffer);
            const GstClockTime duration = GST_BUFFER_DURATION(buffer);
            if (GST_CLOCK_TIME_IS_VALID(pts)) {
                rewrite->End = std::max(rewrite->End,
                                        pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0));
            }
        }),
        &result);
    gst_object_unref(count);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, RewriteTimeout, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (!message) {
        result.Error = "rewriting it took too long";
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        result.Error = PipelineErrorText(message);
    }
    if (message) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return result;
}

TRepairResult Repair(const std::string& clip) {
    const std::string name = fs::path(clip).filename().string();
    const std::string temporary =
        (fs::path(clip).parent_path() / ("." + name + ".repair")).string();
    const TRewrite rewrite = Rewrite(clip, temporary);
    std::error_code ignored;
    TRepairResult result;
    result.Path = clip;
    bool replaced = false;
    if (rewrite.Frames > 0 && rewrite.Error.empty()) {
        fs::rename(temporary, clip, ignored);
        replaced = !ignored;
    }
    if (replaced) {
        result.Kind = TRepairResult::Repaired;
        result.Duration = rewrite.End;
        result.Text = "Unfinished event repaired: " + name + " (" + OneDecimal(rewrite.End) + " s)";
        return result;
    }
    fs::remove(temporary, ignored);
    if (rewrite.Frames > 0) {
        // It plays as far as its last whole fragment; better than nothing.
        result.Kind = TRepairResult::KeptAsItIs;
        result.Text = "Unfinished event " + name + " kept as it is (" +
                      (rewrite.Error.empty() ? ignored.message() : rewrite.Error) + ")";
        return result;
    }
    result.Kind = TRepairResult::MovedAside;
    result.Path = clip + ".broken";
    fs::rename(clip, result.Path, ignored);
    result.Text =
        "Unfinished event " + name + " held no playable video; moved aside as " + name + ".broken";
    return result;
}

} // namespace

TUnfinishedMarker::TUnfinishedMarker(const std::string& clip) : FPath(PathFor(clip)) {
    FFile = open(FPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (FFile >= 0 && flock(FFile, LOCK_EX | LOCK_NB) != 0) {
        close(FFile);
        FFile = -1;
    }
}

TUnfinishedMarker::~TUnfinishedMarker() {
    if (FFile >= 0) {
        close(FFile);
    }
}

void TUnfinishedMarker::Remove() {
    if (FFile >= 0) {
        unlink(FPath.c_str());
        close(FFile);
        FFile = -1;
    }
}

std::string TUnfinishedMarker::PathFor(const std::string& clip) {
    const fs::path path(clip);
    return (path.parent_path() / ("." + path.filename().string() + MarkerSuffix)).string();
}

std::vector<TRepairResult> RepairUnfinishedEvents(const std::string& folder) {
    std::vector<TRepairResult> results;
    std::error_code error;
    std::vector<std::string> clips;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 1 + MarkerSuffix.size() && name[0] == '.' &&
            name.ends_with(MarkerSuffix)) {
            const std::string clip = name.substr(1, name.size() - 1 - MarkerSuffix.size());
            if (IsEventFileName(clip)) {
                clips.push_back((fs::path(folder) / clip).string());
            }
        }
    }
    for (const std::string& clip : clips) {
        const std::string marker = TUnfinishedMarker::PathFor(clip);
        const int lock = LockIfAbandoned(marker);
        if (lock < 0) {
            continue; // still being written
        }
        std::error_code ignored;
        if (fs::exists(clip, ignored)) {
            results.push_back(Repair(clip));
        }
        unlink(marker.c_str());
        close(lock);
    }
    return results;
}
