#include "gstkit/BoundedAppSrc.h"

#include "gstkit/GstKit.h"

#include <gst/app/gstappsrc.h>

#define GST_CAT_DEFAULT stirwatch_debug

std::string TBoundedAppSrc::Description(const std::string& name) {
    return "appsrc name=" + name;
}

TBoundedAppSrc::TBoundedAppSrc(GstElement* pipeline, const std::string& name, GstCaps* caps,
                               const TOptions& options)
    : FSource(gst_bin_get_by_name(GST_BIN(pipeline), name.c_str())), FOptions(options) {
    if (!FSource || !GST_IS_APP_SRC(FSource.get())) {
        throw EGstError("the pipeline has no appsrc \"" + name + "\"");
    }
    GstAppSrc* source = GST_APP_SRC(FSource.get());
    g_object_set(source, "format", GST_FORMAT_TIME, "is-live", gboolean{options.Live}, "block",
                 FALSE, nullptr);
    gst_app_src_set_caps(source, caps);
    gst_app_src_set_max_bytes(source, 0);
    gst_app_src_set_max_time(source, 0);
    // Dropping the oldest is the source's own leaking, bounded by its own
    // limit; a refusing source keeps no limit of its own (it would only
    // signal "enough data") and Push() enforces the bound.
    const bool leaks = options.WhenFull == TWhenFull::DropOldest;
    gst_app_src_set_leaky_type(source,
                               leaks ? GST_APP_LEAKY_TYPE_DOWNSTREAM : GST_APP_LEAKY_TYPE_NONE);
    SetLimit(options.Frames);
    GST_DEBUG_OBJECT(source, "at most %zu frames wait, then %s", options.Frames,
                     leaks ? "the oldest is dropped" : "frames are refused");
}

std::size_t TBoundedAppSrc::Waiting() const {
    return gst_app_src_get_current_level_buffers(GST_APP_SRC(FSource.get()));
}

void TBoundedAppSrc::SetLimit(std::size_t frames) {
    FOptions.Frames = frames;
    if (FOptions.WhenFull == TWhenFull::DropOldest) {
        gst_app_src_set_max_buffers(GST_APP_SRC(FSource.get()), frames);
    }
}

bool TBoundedAppSrc::Push(GstBuffer* frame) {
    const bool full = Full();
    if (full && FOptions.WhenFull == TWhenFull::Refuse) {
        gst_buffer_unref(frame);
        return false;
    }
    gst_app_src_push_buffer(GST_APP_SRC(FSource.get()), frame);
    return !full;
}

void TBoundedAppSrc::EndOfStream() {
    gst_app_src_end_of_stream(GST_APP_SRC(FSource.get()));
}
