#pragma once
// A sink whose frames are read with gst_video_frame_map, which finds the
// planes where a video meta places them, says so in the allocation query:
// a decoder may then hand it its own pictures, with strides and plane
// offsets of their own, instead of copying each into the layout the caps
// alone describe. (appsink does not answer the query itself.)

#include <gst/gst.h>

// Adds the answer to `sink`'s "sink" pad.
void ReadsVideoMeta(GstElement* sink);
