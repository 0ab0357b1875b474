#pragma once
// The frame view of a mapped GStreamer video frame, for the parts that take
// decoded frames from GStreamer (the capture, the scan of a recording). Only
// those parts include it: the engine itself needs no GStreamer.

#include "engine/FrameView.h"

#include <gst/video/video.h>

// The colours a YUV frame's caps announce; BT.601 at studio range when they
// name another matrix or none.
inline TYuvColors YuvColorsOf(const GstVideoColorimetry& colorimetry) {
    const bool full = colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255;
    if (colorimetry.matrix == GST_VIDEO_COLOR_MATRIX_BT709) {
        return full ? TYuvColors::Bt709Full : TYuvColors::Bt709Studio;
    }
    return full ? TYuvColors::Bt601Full : TYuvColors::Bt601Studio;
}

// Describes `frame` (mapped for reading) in `view`, without a copy; false,
// leaving `view` empty, for a format the engine does not read.
inline bool ViewOfVideoFrame(const GstVideoFrame& frame, TFrameView& view) {
    view = TFrameView{};
    switch (GST_VIDEO_FRAME_FORMAT(&frame)) {
    case GST_VIDEO_FORMAT_I420:
        view.Format = TFrameFormat::I420;
        break;
    case GST_VIDEO_FORMAT_NV12:
        view.Format = TFrameFormat::Nv12;
        break;
    case GST_VIDEO_FORMAT_BGR:
        view.Format = TFrameFormat::Bgr24;
        break;
    case GST_VIDEO_FORMAT_GRAY8:
        view.Format = TFrameFormat::Gray8;
        break;
    default:
        return false;
    }
    view.Colors = YuvColorsOf(GST_VIDEO_INFO_COLORIMETRY(&frame.info));
    view.Width = GST_VIDEO_FRAME_WIDTH(&frame);
    view.Height = GST_VIDEO_FRAME_HEIGHT(&frame);
    for (guint plane = 0; plane < 3 && plane < GST_VIDEO_FRAME_N_PLANES(&frame); ++plane) {
        view.Plane[plane] =
            static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        view.Stride[plane] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
    }
    return true;
}
