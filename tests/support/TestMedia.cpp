#include "tests/support/TestMedia.h"
#include "tests/support/GstTestUtil.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <stdexcept>

namespace {

bool HasElement(const char* name) {
    EnsureGStreamer();
    GstElementFactory* factory = gst_element_factory_find(name);
    if (factory == nullptr) {
        return false;
    }
    gst_object_unref(factory);
    return true;
}

// The caps every clip is made with: a pattern that scrolls and a ball that moves.
std::string PatternSource(int frames, int width, int height, int fps) {
    return "videotestsrc num-buffers=" + std::to_string(frames) +
           " pattern=smpte horizontal-speed=4 ! video/x-raw,format=I420,width=" +
           std::to_string(width) + ",height=" + std::to_string(height) +
           ",framerate=" + std::to_string(fps) + "/1";
}

} // namespace

void RunToEos(GstElement* pipeline, int timeoutSeconds) {
    SetState(pipeline, GST_STATE_PLAYING);
    const TMessagePtr message =
        WaitForMessage(pipeline, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR),
                       std::chrono::seconds(timeoutSeconds));
    SetState(pipeline, GST_STATE_NULL);
    if (!message) {
        throw std::runtime_error("pipeline did not finish within " +
                                 std::to_string(timeoutSeconds) + " s");
    }
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        throw std::runtime_error(ErrorText(message.get()));
    }
}

std::string H264Encoder() {
    if (HasElement("x264enc")) {
        return "x264enc speed-preset=ultrafast key-int-max=15 bframes=0";
    }
    if (HasElement("openh264enc")) {
        return "openh264enc gop-size=15";
    }
    return {};
}

std::vector<std::string> EncodeJpegFrames(int count, int width, int height) {
    TGstPtr<GstElement> pipeline = LaunchPipeline(PatternSource(count, width, height, 15) +
                                                  " ! jpegenc ! appsink name=sink sync=false");
    std::unique_ptr<GstElement, TGstObjectUnref> sink(
        gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    SetState(pipeline.get(), GST_STATE_PLAYING);
    std::vector<std::string> frames;
    while (GstSample* sample =
               gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            frames.emplace_back(reinterpret_cast<const char*>(map.data), map.size);
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    SetState(pipeline.get(), GST_STATE_NULL);
    if (int(frames.size()) != count) {
        throw std::runtime_error("JPEG encoding gave " + std::to_string(frames.size()) + " of " +
                                 std::to_string(count) + " frames");
    }
    return frames;
}

bool EncoderAvailable(TClipKind kind) {
    switch (kind) {
    case TClipKind::MjpegAvi:
        return HasElement("jpegenc") && HasElement("avimux");
    case TClipKind::H264Mp4:
        return !H264Encoder().empty() && HasElement("h264parse") && HasElement("mp4mux");
    case TClipKind::Mpeg4Avi:
        return HasElement("avenc_mpeg4") && HasElement("avimux");
    case TClipKind::RawBgrAvi:
        return HasElement("avimux");
    case TClipKind::MjpegStreamMkv:
        return HasElement("jpegenc") && HasElement("matroskamux");
    }
    return false;
}

std::string MakeTestClip(const std::string& folder, TClipKind kind, int frames, int width,
                         int height, int fps) {
    if (!EncoderAvailable(kind)) {
        throw std::runtime_error("no encoder installed for this kind of clip");
    }
    // A number per clip keeps clips of the same settings apart, also across threads.
    static std::atomic<int> serial{0};
    std::string name = folder + "/clip" + std::to_string(++serial) + "-" + std::to_string(width) +
                       "x" + std::to_string(height);
    std::string encode;
    switch (kind) {
    case TClipKind::MjpegAvi:
        encode = "jpegenc ! avimux";
        name += "-mjpeg.avi";
        break;
    case TClipKind::H264Mp4:
        encode = H264Encoder() + " ! h264parse ! mp4mux";
        name += "-h264.mp4";
        break;
    case TClipKind::Mpeg4Avi:
        encode = "avenc_mpeg4 ! avimux";
        name += "-mpeg4.avi";
        break;
    case TClipKind::RawBgrAvi:
        encode = "videoconvert ! video/x-raw,format=BGR ! avimux";
        name += "-bgr.avi";
        break;
    case TClipKind::MjpegStreamMkv:
        encode = "jpegenc ! matroskamux streamable=true";
        name += "-mjpeg.mkv";
        break;
    }
    gchar* quoted = g_strescape(name.c_str(), nullptr);
    std::string location = quoted;
    g_free(quoted);
    TGstPtr<GstElement> pipeline =
        LaunchPipeline(PatternSource(frames, width, height, fps) + " ! " + encode +
                       " ! filesink location=\"" + location + "\"");
    RunToEos(pipeline.get(), 120);
    return name;
}

int CountVideoFrames(const std::string& path) {
    gchar* quoted = g_strescape(path.c_str(), nullptr);
    std::string location = quoted;
    g_free(quoted);
    TGstPtr<GstElement> pipeline =
        LaunchPipeline("filesrc location=\"" + location +
                       "\" ! decodebin ! video/x-raw ! appsink name=sink "
                       "sync=false");
    std::unique_ptr<GstElement, TGstObjectUnref> sink(
        gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    std::unique_ptr<GstBus, TGstObjectUnref> bus(gst_element_get_bus(pipeline.get()));
    SetState(pipeline.get(), GST_STATE_PLAYING);
    int frames = 0;
    bool ended = false;
    std::string error;
    for (int idle = 0; !ended && error.empty() && idle < 600;) {
        if (GstSample* sample =
                gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 100 * GST_MSECOND)) {
            ++frames;
            idle = 0;
            gst_sample_unref(sample);
            continue;
        }
        ++idle;
        ended = gst_app_sink_is_eos(GST_APP_SINK(sink.get()));
        if (TMessagePtr message{gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)}) {
            error = ErrorText(message.get());
        }
    }
    SetState(pipeline.get(), GST_STATE_NULL);
    if (!error.empty() || !ended) {
        throw std::runtime_error("cannot decode " + path + ": " +
                                 (error.empty() ? "no end of stream" : error));
    }
    return frames;
}

std::vector<unsigned char> BallFrame(const TBallClip& clip, int index) {
    std::vector<unsigned char> pixels(std::size_t(clip.Width) * clip.Height * 3);
    const double time = double(index) / clip.Fps;
    const bool ball = time >= clip.BallFrom - 1e-9 && time < clip.BallTo - 1e-9;
    const int radius = clip.Height / 8;
    const double travel = (time - clip.BallFrom) / (clip.BallTo - clip.BallFrom);
    const int ballX = radius + int(travel * (clip.Width - 2 * radius));
    const int ballY = clip.Height / 2;
    for (int y = 0; y < clip.Height; ++y) {
        for (int x = 0; x < clip.Width; ++x) {
            unsigned char* pixel = &pixels[(std::size_t(y) * clip.Width + x) * 3];
            const bool block = ((x / 40) + (y / 40)) % 2 == 0;
            pixel[0] = static_cast<unsigned char>(90 + 60 * x / clip.Width);
            pixel[1] = static_cast<unsigned char>(block ? 170 : 120);
            pixel[2] = static_cast<unsigned char>(100 + 80 * y / clip.Height);
            const int dx = x - ballX;
            const int dy = y - ballY;
            if (ball && dx * dx + dy * dy <= radius * radius) {
                pixel[0] = pixel[1] = pixel[2] = 20;
            }
        }
    }
    return pixels;
}

std::string MakeBallClip(const std::string& folder, TClipKind kind, const TBallClip& clip) {
    if (!EncoderAvailable(kind)) {
        throw std::runtime_error("no encoder installed for this kind of clip");
    }
    static std::atomic<int> serial{0};
    std::string name = folder + "/ball" + std::to_string(++serial);
    std::string encode = "videoconvert ! video/x-raw,format=I420 ! ";
    switch (kind) {
    case TClipKind::MjpegAvi:
        encode += "jpegenc quality=95 ! avimux";
        name += "-mjpeg.avi";
        break;
    case TClipKind::H264Mp4:
        encode += H264Encoder() + " ! h264parse ! mp4mux";
        name += "-h264.mp4";
        break;
    case TClipKind::Mpeg4Avi:
        encode += "avenc_mpeg4 ! avimux";
        name += "-mpeg4.avi";
        break;
    case TClipKind::RawBgrAvi:
        encode = "videoconvert ! video/x-raw,format=BGR,pixel-aspect-ratio=1/1 ! avimux";
        name += "-bgr.avi";
        break;
    case TClipKind::MjpegStreamMkv:
        encode += "jpegenc quality=95 ! matroskamux streamable=true";
        name += "-mjpeg.mkv";
        break;
    }
    gchar* quoted = g_strescape(name.c_str(), nullptr);
    const std::string location = quoted;
    g_free(quoted);
    TGstPtr<GstElement> pipeline =
        LaunchPipeline("appsrc name=src format=time caps=video/x-raw,format=BGR,width=" +
                       std::to_string(clip.Width) + ",height=" + std::to_string(clip.Height) +
                       ",framerate=" + std::to_string(clip.Fps) + "/1 ! " + encode +
                       " ! filesink location=\"" + location + "\"");
    std::unique_ptr<GstElement, TGstObjectUnref> source(
        gst_bin_get_by_name(GST_BIN(pipeline.get()), "src"));
    g_object_set(source.get(), "block", TRUE, "max-bytes", guint64(4) << 20, nullptr);
    std::unique_ptr<GstBus, TGstObjectUnref> bus(gst_element_get_bus(pipeline.get()));
    SetState(pipeline.get(), GST_STATE_PLAYING);
    const int frames = int(std::lround(clip.Seconds * clip.Fps));
    for (int i = 0; i < frames; ++i) {
        const std::vector<unsigned char> pixels = BallFrame(clip, i);
        GstBuffer* buffer = gst_buffer_new_memdup(pixels.data(), pixels.size());
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(i, GST_SECOND, clip.Fps);
        GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, clip.Fps);
        if (gst_app_src_push_buffer(GST_APP_SRC(source.get()), buffer) != GST_FLOW_OK) {
            break;
        }
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source.get()));
    TMessagePtr message(gst_bus_timed_pop_filtered(
        bus.get(), 120 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    SetState(pipeline.get(), GST_STATE_NULL);
    if (!message || GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        throw std::runtime_error("cannot encode " + name + ": " +
                                 (message ? ErrorText(message.get()) : "timed out"));
    }
    return name;
}
