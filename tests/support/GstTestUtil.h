#pragma once
// What the test media and servers need beyond the program's GStreamer
// toolkit (owners, LaunchPipeline, SetState, ErrorText).

#include "gstkit/GstKit.h"
#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <string>
#include <vector>

// Plays the pipeline until end of stream and leaves it stopped. Throws
// std::runtime_error with GStreamer's error text, or when it takes longer than
// `timeoutSeconds`.
void RunToEos(GstElement* pipeline, int timeoutSeconds);

// Encodes `count` JPEG images of a moving pattern.
std::vector<std::string> EncodeJpegFrames(int count, int width, int height);

// The element that encodes H.264 here, with its settings, or "" when none is installed.
std::string H264Encoder();
