#include "gstkit/VideoMetaReader.h"

#include "gstkit/GstOwners.h"

#include <gst/video/video.h>

namespace {

GstPadProbeReturn AddVideoMeta(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (query != nullptr && GST_QUERY_TYPE(query) == GST_QUERY_ALLOCATION &&
        !gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr)) {
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

void ReadsVideoMeta(GstElement* sink) {
    const TGstPtr<GstPad> pad(gst_element_get_static_pad(sink, "sink"));
    if (pad) {
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, AddVideoMeta, nullptr,
                          nullptr);
    }
}
