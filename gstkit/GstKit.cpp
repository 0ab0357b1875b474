#include "gstkit/GstKit.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>

GST_DEBUG_CATEGORY(stirwatch_debug);
#define GST_CAT_DEFAULT stirwatch_debug

bool EnsureGStreamer() {
    static const bool initialised = [] {
        GError* raw = nullptr;
        const bool ok = gst_init_check(nullptr, nullptr, &raw);
        const TErrorPtr error(raw);
        if (ok) {
            GST_DEBUG_CATEGORY_INIT(stirwatch_debug, "stirwatch", 0, "Stirwatch's own pipelines");
        }
        return ok;
    }();
    return initialised;
}

TGstPtr<GstElement> LaunchPipeline(const std::string& description) {
    EnsureGStreamer();
    GError* raw = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &raw);
    TGstPtr<GstElement> owned(pipeline ? GST_ELEMENT(gst_object_ref_sink(pipeline)) : nullptr);
    const TErrorPtr error(raw);
    if (error || !owned) {
        const std::string text = error ? error->message : "the description builds nothing";
        GST_WARNING("cannot build \"%s\": %s", description.c_str(), text.c_str());
        throw EGstError(text);
    }
    TracePipeline(owned.get(), description);
    return owned;
}

GstElement* MakeElement(const char* factory) {
    EnsureGStreamer();
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr) {
        GST_WARNING("no element \"%s\"", factory);
        throw EGstError(std::string("the GStreamer element \"") + factory + "\" is not installed");
    }
    return element;
}

const char* CapsName(GstCaps* caps) {
    if (caps == nullptr || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) {
        return "";
    }
    return gst_structure_get_name(gst_caps_get_structure(caps, 0));
}

TCapsPtr PadCaps(GstPad* pad) {
    TCapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) {
        caps.reset(gst_pad_query_caps(pad, nullptr));
    }
    return caps;
}

bool LinkToSinkPad(GstPad* pad, GstElement* element) {
    const TGstPtr<GstPad> sinkPad(gst_element_get_static_pad(element, "sink"));
    const bool linked = sinkPad && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, sinkPad.get()));
    if (!linked) {
        GST_WARNING_OBJECT(pad, "cannot link to %s", GST_ELEMENT_NAME(element));
    }
    return linked;
}

gboolean ContinueOnlyWithVideo(GstElement* /*bin*/, GstPad* /*pad*/, GstCaps* caps,
                               gpointer /*data*/) {
    const char* name = CapsName(caps);
    for (const char* other : {"audio/", "text/", "subpicture/", "subtitle/", "closedcaption/",
                              "application/x-subtitle"}) {
        if (g_str_has_prefix(name, other)) {
            return FALSE;
        }
    }
    return TRUE;
}

void TracePipeline(GstElement* pipeline, const std::string& description) {
    EnsureGStreamer();
    GST_INFO_OBJECT(pipeline, "built: %s", description.c_str());
}

GstStateChangeReturn SetState(GstElement* pipeline, GstState state) {
    EnsureGStreamer();
    GST_DEBUG_OBJECT(pipeline, "asking for %s", gst_element_state_get_name(state));
    const GstStateChangeReturn result = gst_element_set_state(pipeline, state);
    if (result == GST_STATE_CHANGE_FAILURE) {
        GST_WARNING_OBJECT(pipeline, "cannot go to %s", gst_element_state_get_name(state));
    } else {
        GST_INFO_OBJECT(pipeline, "to %s: %s", gst_element_state_get_name(state),
                        gst_element_state_change_return_get_name(result));
    }
    return result;
}

TGstPtr<GstBus> BusOf(GstElement* pipeline) {
    return TGstPtr<GstBus>(gst_element_get_bus(pipeline));
}

TMessagePtr WaitForMessage(GstElement* pipeline, GstMessageType types,
                           std::chrono::milliseconds timeout) {
    const TGstPtr<GstBus> bus = BusOf(pipeline);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    TMessagePtr message;
    while (!message && std::chrono::steady_clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
            deadline - std::chrono::steady_clock::now());
        message.reset(gst_bus_timed_pop_filtered(
            bus.get(), static_cast<GstClockTime>(std::max<std::int64_t>(0, left.count())), types));
        if (!message) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return message;
}

std::string ErrorText(GstMessage* message) {
    EnsureGStreamer();
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    const TErrorPtr error(rawError);
    const std::string details = TakeString(rawDebug);
    std::string text = error ? error->message : "unknown error";
    GST_WARNING_OBJECT(GST_MESSAGE_SRC(message), "error: %s (%s)", text.c_str(), details.c_str());
    // A file that cannot be opened or written says why only in the details:
    // "... system error: Read-only file system".
    const std::string marker = "system error: ";
    const auto reason = details.rfind(marker);
    if (reason != std::string::npos) {
        if (!text.empty() && text.back() == '.') {
            text.pop_back();
        }
        text += ": " + details.substr(reason + marker.size());
    }
    return text;
}

// Needs no GStreamer start: the version is the library's own.
std::string GStreamerVersionText() {
    const std::string version = TakeString(gst_version_string());
    return version.empty() ? std::string("GStreamer") : version;
}
