#pragma once
// Building and running the program's pipelines. Everything here is traced
// in the "stirwatch" debug category: GST_DEBUG=stirwatch*:5 shows each
// pipeline built (with its description), each state change asked for and
// its result, and each error a pipeline reports.

#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <chrono>
#include <stdexcept>
#include <string>

GST_DEBUG_CATEGORY_EXTERN(stirwatch_debug);

// A pipeline or element that GStreamer cannot build; the text says why.
class EGstError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Initialises GStreamer and the debug category once, from any thread;
// false when GStreamer cannot be initialised.
bool EnsureGStreamer();

// Builds a pipeline from a launch description. Throws EGstError with
// GStreamer's reason when the description does not build.
TGstPtr<GstElement> LaunchPipeline(const std::string& description);

// A new element of the factory, floating until a bin takes it. Throws
// EGstError naming the element when it is not installed.
GstElement* MakeElement(const char* factory);

// The media type of the caps' first structure ("video/x-raw"); empty for
// null, empty or any caps.
const char* CapsName(GstCaps* caps);

// The caps a pad carries now, or else those it could carry; owned.
TCapsPtr PadCaps(GstPad* pad);

// Links a pad to the element's static "sink" pad; false when they do not link.
bool LinkToSinkPad(GstPad* pad, GstElement* element);

// An "autoplug-continue" handler for decodebin and parsebin: streams other
// than video (audio, subtitles, captions) are neither parsed further nor
// decoded.
gboolean ContinueOnlyWithVideo(GstElement* bin, GstPad* pad, GstCaps* caps, gpointer data);

// Notes a pipeline built some other way (by hand, from parts).
void TracePipeline(GstElement* pipeline, const std::string& description);

// Asks for a state and traces the request and its result.
GstStateChangeReturn SetState(GstElement* pipeline, GstState state);

// The element's bus, owned.
TGstPtr<GstBus> BusOf(GstElement* pipeline);

// Waits at most `timeout` for a message of `types` on the pipeline's bus; a
// wait that the system cuts short is taken up again until the time is up.
// Null when none came.
TMessagePtr WaitForMessage(GstElement* pipeline, GstMessageType types,
                           std::chrono::milliseconds timeout);

// The text of an error message ("unknown error" when it carries none), with
// the system's reason from the details when they give one; traced.
std::string ErrorText(GstMessage* message);

// "GStreamer 1.22.0": the library's version text (needs no initialisation).
std::string GStreamerVersionText();
