// Speed of `stirwatch scan` on two recordings it makes itself (60 s of
// 1080p/30 H.264 and 60 s of 640x480/30 MJPEG), measured in the same run
// against the decode floor (GStreamer decoding the file to nothing), an
// OpenCV frame-differencing pipeline (VideoCapture, cvtColor, absdiff,
// threshold, countNonZero) and OpenCV's MOG2 background subtractor with a
// 3x3 opening. Wall-clock frames per second of the video; one run each.
// Arguments: the folder of the clips (made there once), and optionally a
// part of a clip's name to measure only that clip ("mjpeg", "h264").
//
// Built without OpenCV (STIRWATCH_BENCH_OPENCV off) the OpenCV rows are
// missing and the program ends in an error.

#include "scan/FileScan.h"

#include <gst/gst.h>

#ifdef STIRWATCH_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/background_segm.hpp>
#include <opencv2/videoio.hpp>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int Seconds = 60;
constexpr int Fps = 30;
constexpr int Tolerance = 20;

struct TClip {
    std::string Name;
    std::string Path;
    std::string Encode;
    int Width;
    int Height;
};

// Runs a launch description to its end; false on an error.
bool RunPipeline(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
        std::fprintf(stderr, "%s: %s\n", description.c_str(), error->message);
        g_clear_error(&error);
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        return false;
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ended = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    return ended;
}

// A scene of moving bars with a ball bouncing over it: every frame changes,
// as in a busy recording, so that no pipeline gets an easy ride.
void MakeClip(const TClip& clip) {
    if (std::filesystem::exists(clip.Path)) {
        return;
    }
    std::printf("making %s ...\n", clip.Path.c_str());
    std::fflush(stdout);
    const std::string caps = "video/x-raw,format=I420,width=" + std::to_string(clip.Width) +
                             ",height=" + std::to_string(clip.Height) +
                             ",framerate=" + std::to_string(Fps) + "/1";
    const std::string partial = clip.Path + ".partial";
    if (!RunPipeline("videotestsrc num-buffers=" + std::to_string(Seconds * Fps) +
                     " pattern=smpte horizontal-speed=2 ! " + caps + " ! " + clip.Encode +
                     " ! filesink location=\"" + partial + "\"")) {
        std::exit(1);
    }
    std::filesystem::rename(partial, clip.Path);
}

double Measure(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct TRow {
    std::string Name;
    double Fps = 0;
};

double DecodeFloor(const TClip& clip) {
    const double seconds = Measure([&] {
        RunPipeline("filesrc location=\"" + clip.Path + "\" ! decodebin ! fakesink sync=false");
    });
    return Seconds * Fps / seconds;
}

double Scan(const TClip& clip, std::int64_t stepNs) {
    TScanProgress progress;
    TFileScan scan;
    const double seconds = Measure([&] {
        scan = ScanFile(clip.Path, {Tolerance, 400, stepNs}, progress);
    });
    if (!scan.Failure.empty()) {
        std::fprintf(stderr, "scan of %s failed: %s\n", clip.Path.c_str(), scan.Failure.c_str());
        std::exit(1);
    }
    // Frames of the video per second, like the other rows: a step that skips
    // frames without decoding them is faster than the decoder, not slower.
    return Seconds * Fps / seconds;
}

#ifdef STIRWATCH_BENCH_OPENCV
// Reads every frame with OpenCV and hands it, in colour, to `analyse`.
double OpenCvFps(const TClip& clip, const std::function<void(const cv::Mat&)>& analyse) {
    int frames = 0;
    const double seconds = Measure([&] {
        cv::VideoCapture capture(clip.Path);
        cv::Mat frame;
        while (capture.read(frame)) {
            analyse(frame);
            ++frames;
        }
    });
    return frames / seconds;
}

double OpenCvDifferencing(const TClip& clip) {
    cv::Mat gray;
    cv::Mat previous;
    cv::Mat difference;
    std::int64_t changed = 0;
    const double fps = OpenCvFps(clip, [&](const cv::Mat& frame) {
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        if (!previous.empty()) {
            cv::absdiff(gray, previous, difference);
            cv::threshold(difference, difference, Tolerance, 255, cv::THRESH_BINARY);
            changed += cv::countNonZero(difference);
        }
        std::swap(gray, previous);
    });
    return changed >= 0 ? fps : 0;
}

double OpenCvMog2(const TClip& clip) {
    cv::Ptr<cv::BackgroundSubtractorMOG2> subtractor = cv::createBackgroundSubtractorMOG2();
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, {3, 3});
    cv::Mat gray;
    cv::Mat mask;
    std::int64_t changed = 0;
    const double fps = OpenCvFps(clip, [&](const cv::Mat& frame) {
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        subtractor->apply(gray, mask);
        cv::morphologyEx(mask, mask, cv::MORPH_OPEN, kernel);
        changed += cv::countNonZero(mask);
    });
    return changed >= 0 ? fps : 0;
}

void Verdict(const char* what, double ratio, double target) {
    std::printf("  %-44s %5.2fx (target %.1fx) %s\n", what, ratio, target,
                ratio >= target ? "met" : "MISSED");
}
#endif

} // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    const std::string folder = argc > 1 ? argv[1] : "scan-bench-clips";
    // A second argument measures only the clips whose name contains it.
    const std::string only = argc > 2 ? argv[2] : "";
    std::filesystem::create_directories(folder);
    const std::vector<TClip> clips = {
        {"H.264 1080p/30", folder + "/h264-1080p30-60s.mp4",
         "x264enc speed-preset=veryfast key-int-max=60 ! h264parse ! mp4mux", 1920, 1080},
        {"MJPEG 640x480/30", folder + "/mjpeg-640x480-60s.avi", "jpegenc ! avimux", 640, 480}};
    bool complete = true;
    for (const TClip& clip : clips) {
        if (clip.Path.find(only) == std::string::npos) {
            continue;
        }
        MakeClip(clip);
        std::printf("\n%s, %d s (%s); frames per second of video, wall clock:\n", clip.Name.c_str(),
                    Seconds, clip.Path.c_str());
        std::fflush(stdout);
        std::vector<TRow> rows;
        const auto row = [&](const std::string& name, double fps) {
            rows.push_back({name, fps});
            std::printf("  %-44s %8.1f\n", name.c_str(), fps);
            std::fflush(stdout);
            return fps;
        };
        const double floor = row("decode floor (GStreamer to fakesink)", DecodeFloor(clip));
        const double scan = row("stirwatch scan, step 250 ms", Scan(clip, 250000000));
        const double every = row("stirwatch scan, every frame", Scan(clip, 0));
#ifdef STIRWATCH_BENCH_OPENCV
        const double differencing =
            row("OpenCV differencing, every frame", OpenCvDifferencing(clip));
        const double mog2 = row("OpenCV MOG2 + 3x3 opening, every frame", OpenCvMog2(clip));
        Verdict("scan (250 ms) / decode floor", scan / floor, 0.8);
        Verdict("scan (every frame) / decode floor", every / floor, 0.8);
        Verdict("scan (every frame) / OpenCV differencing", every / differencing, 1.0);
        Verdict("scan (every frame) / OpenCV MOG2", every / mog2, 3.0);
#else
        (void)scan;
        (void)every;
        (void)floor;
        complete = false;
#endif
    }
    if (!complete) {
        std::fprintf(stderr, "\nBuilt without OpenCV: the comparison rows are missing "
                             "(make bench builds with them).\n");
        return 1;
    }
    return 0;
}
