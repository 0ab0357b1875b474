#include "events/EventRepair.h"

#include "events/EventCodec.h"
#include "events/EventsFolder.h"
#include "gstkit/GstKit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const std::string MarkerSuffix = ".unfinished";
constexpr auto RewriteTimeout = std::chrono::seconds(120);

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
    TGstPtr<GstElement> pipeline;
    try {
        pipeline = LaunchPipeline(description);
    } catch (const std::exception& error) {
        result.Error = error.what();
        return result;
    }
    GstBin* bin = GST_BIN(pipeline.get());
    g_object_set(TGstPtr<GstElement>(gst_bin_get_by_name(bin, "src")).get(), "location",
                 clip.c_str(), nullptr);
    g_object_set(TGstPtr<GstElement>(gst_bin_get_by_name(bin, "sink")).get(), "location",
                 target.c_str(), nullptr);
    g_signal_connect(TGstPtr<GstElement>(gst_bin_get_by_name(bin, "count")).get(), "handoff",
                     G_CALLBACK(+[](GstElement*, GstBuffer* buffer, gpointer data) {
                         auto* rewrite = static_cast<TRewrite*>(data);
                         ++rewrite->Frames;
                         const GstClockTime pts = GST_BUFFER_PTS(buffer);
                         const GstClockTime duration = GST_BUFFER_DURATION(buffer);
                         if (GST_CLOCK_TIME_IS_VALID(pts)) {
                             rewrite->End =
                                 std::max(rewrite->End,
                                          pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0));
                         }
                     }),
                     &result);
    SetState(pipeline.get(), GST_STATE_PLAYING);
    const TMessagePtr message = WaitForMessage(
        pipeline.get(), static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR),
        RewriteTimeout);
    if (!message) {
        result.Error = "rewriting it took too long";
    } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        result.Error = ErrorText(message.get());
    }
    SetState(pipeline.get(), GST_STATE_NULL);
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
