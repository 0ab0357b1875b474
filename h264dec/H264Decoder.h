#pragma once
// "stirwatchh264dec": a GStreamer H.264 decoder that calls libavcodec
// directly. It takes the 8-bit 4:2:0 streams (the profiles up to High; other
// chroma formats and depths are left to the decoders installed), ranks above
// GStreamer's libav decoder so that decodebin picks it, and so spares the
// process that plug-in's libraries (libavformat, libavfilter and all they
// load) for the common camera and recording streams.

#include <gst/gst.h>

// The element's factory name.
inline constexpr const char* H264DecoderName = "stirwatchh264dec";

// Registers the element in this process, once, from any thread; the
// environment variable STIRWATCH_H264_DECODER=libav leaves it out (GStreamer's
// own decoders are then used). True when the element is registered.
bool RegisterH264Decoder();

// The element's type (registered or not).
GType H264DecoderType();
