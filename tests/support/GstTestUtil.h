#pragma once
// Small owners and helpers over GStreamer shared by the test media and servers.

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

struct TGstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
using TGstElementPtr = std::unique_ptr<GstElement, TGstObjectUnref>;

struct TGstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using TGstMessagePtr = std::unique_ptr<GstMessage, TGstMessageUnref>;

// Initialises GStreamer once; safe to call from any thread, any number of times.
void EnsureGstInit();

// Builds a pipeline from a launch description. Throws std::runtime_error with
// GStreamer's parse error.
TGstElementPtr LaunchPipeline(const std::string& description);

// Plays the pipeline until end of stream and leaves it stopped. Throws
// std::runtime_error with GStreamer's error text, or when it takes longer than
// `timeoutSeconds`.
void RunToEos(GstElement* pipeline, int timeoutSeconds);

// Encodes `count` JPEG images of a moving pattern.
std::vector<std::string> EncodeJpegFrames(int count, int width, int height);

// The element that encodes H.264 here, with its settings, or "" when none is installed.
std::string H264Encoder();
