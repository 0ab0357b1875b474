#pragma once
// How an event is encoded and stored: H.264 in MP4 where an H.264 encoder is
// installed, otherwise VP8 in WebM, which GStreamer's base and good plugin
// sets always provide. Both play in every common player.

#include <gst/gst.h>

#include <string>

struct TEventCodec {
    std::string Name;        // "H.264/MP4" or "VP8/WebM"
    std::string Extension;   // of the event files, with the dot
    std::string Encoder;     // raw I420 in, encoded frames out (a launch description)
    std::string EncodedCaps; // the caps fixed after the encoder
    std::string Muxer;       // encoded frames in, file bytes out (a launch description)
};

// The first encoder that is installed, H.264 first unless `preferH264` is false.
// `keyframeInterval` is in frames; `bitrateKbps` the encoder's target rate
// (VP8) or the ceiling of its constant quality (H.264); `threads` the
// encoder's threads, 0 for its own choice.
// Throws std::runtime_error when neither encoder is installed.
TEventCodec ChooseEventCodec(int keyframeInterval, int bitrateKbps, bool preferH264 = true,
                             int threads = 0);

// The encoder threads for frames of this size and rate: one up to the pixel
// rate of 1280x720 at 30 fps, which the fastest presets code several times
// over on one core (more threads then only add a wake-up of each per frame),
// and the encoder's own choice above.
int EventEncoderThreads(int width, int height, double framesPerSecond);

// A bit rate for frames of this size and rate: about 0.1 bit per pixel,
// so 640x480/30 gets ~920 kbit/s and 1080p/30 ~6200 kbit/s.
int EventBitrateKbps(int width, int height, double framesPerSecond);

// The file extensions of the event files any codec writes.
bool IsEventFileExtension(const std::string& extension);
