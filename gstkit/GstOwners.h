#pragma once
// Owners for GStreamer objects: every object, mini-object and string that
// GStreamer hands over is held by one of these and released with the right
// function when the owner goes.

#include <gst/gst.h>

#include <memory>
#include <string>

struct TGstObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
// An owned GstObject (elements, pads, buses, devices, monitors...).
template <class T> using TGstPtr = std::unique_ptr<T, TGstObjectUnref>;

struct TGstCapsUnref {
    void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};
using TCapsPtr = std::unique_ptr<GstCaps, TGstCapsUnref>;

struct TGstBufferUnref {
    void operator()(GstBuffer* buffer) const { gst_buffer_unref(buffer); }
};
using TBufferPtr = std::unique_ptr<GstBuffer, TGstBufferUnref>;

struct TGstSampleUnref {
    void operator()(GstSample* sample) const { gst_sample_unref(sample); }
};
using TSamplePtr = std::unique_ptr<GstSample, TGstSampleUnref>;

struct TGstMessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using TMessagePtr = std::unique_ptr<GstMessage, TGstMessageUnref>;

struct TGErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using TErrorPtr = std::unique_ptr<GError, TGErrorFree>;

struct TGFree {
    void operator()(gpointer memory) const { g_free(memory); }
};
using TGStringPtr = std::unique_ptr<gchar, TGFree>;

struct TGstStructureFree {
    void operator()(GstStructure* structure) const { gst_structure_free(structure); }
};
using TStructurePtr = std::unique_ptr<GstStructure, TGstStructureFree>;

// A new reference to caps (null stays null), owned.
inline TCapsPtr RefCaps(GstCaps* caps) {
    return TCapsPtr(caps ? gst_caps_ref(caps) : nullptr);
}

// Takes a string GStreamer handed over (may be null) and frees it.
inline std::string TakeString(gchar* text) {
    const TGStringPtr owned(text);
    return text ? std::string(text) : std::string();
}
