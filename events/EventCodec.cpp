#include "events/EventCodec.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

bool Installed(const char* factory) {
    GstElementFactory* found = gst_element_factory_find(factory);
    if (!found) {
        return false;
    }
    gst_object_unref(found);
    return true;
}

bool HasProperty(const char* factory, const char* property) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (!element) {
        return false;
    }
    const bool has = g_object_class_find_property(G_OBJECT_GET_CLASS(element), property) != nullptr;
    gst_object_unref(element);
    return has;
}

// An MP4 whose index is written only at its end is unplayable when the
// program is killed while writing it. Written in fragments of about a
// second (each with its own index), everything but the last fragment plays;
// a clean end still rewrites it as an ordinary MP4.
std::string Mp4Muxer() {
    if (HasProperty("mp4mux", "fragment-mode")) {
        return "h264parse ! mp4mux fragment-duration=1000 fragment-mode=first-moov-then-finalise";
    }
    return "h264parse ! mp4mux";
}

// The constant quality of H.264 events (x264's rate factor: lower is better).
constexpr int H264Quality = 23;

} // namespace

TEventCodec ChooseEventCodec(int keyframeInterval, int bitrateKbps, bool preferH264, int threads) {
    const std::string interval = std::to_string(std::max(1, keyframeInterval));
    const std::string bitrate = std::to_string(std::max(64, bitrateKbps));
    if (preferH264 && Installed("x264enc") && Installed("h264parse") && Installed("mp4mux")) {
        // No B-frames (zerolatency), so frames leave the encoder in display
        // order and each carries its own time. The fastest preset at every
        // size, and constant quality (x264's own default, 23) rather than a
        // constant rate: a fixed rate spends bits, and the time to code them,
        // on pictures that look the same at a third of them. The target rate
        // stays as a ceiling for pictures that need more (noise at night).
        return {"H.264/MP4", ".mp4",
                "x264enc tune=zerolatency speed-preset=ultrafast pass=qual quantizer=" +
                    std::to_string(H264Quality) + " key-int-max=" + interval +
                    " bitrate=" + bitrate + " threads=" + std::to_string(std::max(0, threads)),
                "video/x-h264,stream-format=avc,alignment=au,profile=constrained-baseline",
                Mp4Muxer()};
    }
    if (Installed("vp8enc") && Installed("webmmux")) {
        return {
            "VP8/WebM", ".webm",
            "vp8enc deadline=1 cpu-used=8 threads=" + std::to_string(threads > 0 ? threads : 2) +
                " end-usage=cbr keyframe-max-dist=" + interval + " target-bitrate=" + bitrate +
                "000",
            "video/x-vp8", "webmmux"};
    }
    throw std::runtime_error("No video encoder for events is installed (x264enc or vp8enc)");
}

int EventBitrateKbps(int width, int height, double framesPerSecond) {
    const double fps = framesPerSecond > 0 ? framesPerSecond : 30.0;
    const double kbps = 0.1 * width * height * fps / 1000.0;
    return static_cast<int>(std::clamp(std::lround(kbps), 300L, 12000L));
}

bool IsEventFileExtension(const std::string& extension) {
    return extension == ".mp4" || extension == ".webm";
}

int EventEncoderThreads(int width, int height, double framesPerSecond) {
    const double pixelsPerSecond = double(width) * height * framesPerSecond;
    return pixelsPerSecond <= 1280.0 * 720 * 30 ? 1 : 0;
}
