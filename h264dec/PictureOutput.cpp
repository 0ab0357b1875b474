#include "h264dec/PictureOutput.h"

#include "h264dec/LibavLibrary.h"

#include <algorithm>
#include <cstring>

namespace {

bool FullRange(const AVFrame& picture) {
    return picture.color_range == AVCOL_RANGE_JPEG || picture.format == AV_PIX_FMT_YUVJ420P;
}

// The stream's colours where it names them; the defaults for the size where
// it does not (as GStreamer's libav decoder does).
void SetColours(GstVideoInfo& info, const AVFrame& picture) {
    GstVideoColorimetry& colours = info.colorimetry;
    if (const auto matrix = gst_video_color_matrix_from_iso(picture.colorspace);
        matrix != GST_VIDEO_COLOR_MATRIX_UNKNOWN) {
        colours.matrix = matrix;
    }
    if (const auto transfer = gst_video_transfer_function_from_iso(picture.color_trc);
        transfer != GST_VIDEO_TRANSFER_UNKNOWN) {
        colours.transfer = transfer;
    }
    if (const auto primaries = gst_video_color_primaries_from_iso(picture.color_primaries);
        primaries != GST_VIDEO_COLOR_PRIMARIES_UNKNOWN) {
        colours.primaries = primaries;
    }
    if (FullRange(picture)) {
        colours.range = GST_VIDEO_COLOR_RANGE_0_255;
    } else if (picture.color_range == AVCOL_RANGE_MPEG) {
        colours.range = GST_VIDEO_COLOR_RANGE_16_235;
    }
}

// Copies the three planes, row by row: libav's rows and the pool's have
// strides of their own.
void CopyPlanes(const AVFrame& picture, GstVideoFrame& frame) {
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = GST_VIDEO_FRAME_COMP_HEIGHT(&frame, plane);
        const auto bytes = std::size_t(GST_VIDEO_FRAME_COMP_WIDTH(&frame, plane));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
        auto* target = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        const std::uint8_t* source = picture.data[plane];
        for (int row = 0; row < rows; ++row) {
            std::memcpy(target + std::ptrdiff_t(row) * stride,
                        source + std::ptrdiff_t(row) * picture.linesize[plane], bytes);
        }
    }
}

} // namespace

void TPictureOutput::SetInput(GstVideoCodecState* input) {
    FInput.reset(gst_video_codec_state_ref(input));
    FNegotiated = false;
}

bool TPictureOutput::Negotiate(GstVideoDecoder* decoder, const AVFrame& picture) {
    const bool same = FNegotiated && FWidth == picture.width && FHeight == picture.height &&
                      av_cmp_q(FAspect, picture.sample_aspect_ratio) == 0 &&
                      FRange == int(FullRange(picture)) && FMatrix == picture.colorspace &&
                      FTransfer == picture.color_trc && FPrimaries == picture.color_primaries;
    if (same) {
        return true;
    }
    const TCodecStatePtr output(gst_video_decoder_set_output_state(
        decoder, GST_VIDEO_FORMAT_I420, guint(picture.width), guint(picture.height), FInput.get()));
    if (picture.sample_aspect_ratio.num > 0 && picture.sample_aspect_ratio.den > 0) {
        output->info.par_n = picture.sample_aspect_ratio.num;
        output->info.par_d = picture.sample_aspect_ratio.den;
    }
    SetColours(output->info, picture);
    FInfo = output->info;
    FWidth = picture.width;
    FHeight = picture.height;
    FAspect = picture.sample_aspect_ratio;
    FRange = int(FullRange(picture));
    FMatrix = picture.colorspace;
    FTransfer = picture.color_trc;
    FPrimaries = picture.color_primaries;
    FNegotiated = gst_video_decoder_negotiate(decoder) != FALSE;
    return FNegotiated;
}

GstFlowReturn TPictureOutput::Finish(GstVideoDecoder* decoder, const AVFrame& picture,
                                     GstVideoCodecFrame* frame) {
    if (picture.format != AV_PIX_FMT_YUV420P && picture.format != AV_PIX_FMT_YUVJ420P) {
        const char* name = Libav().PixelFormatName(AVPixelFormat(picture.format));
        gst_video_decoder_drop_frame(decoder, frame);
        GST_ELEMENT_ERROR(decoder, STREAM, FORMAT,
                          ("H.264 pictures in the format %s cannot be decoded here; "
                           "STIRWATCH_H264_DECODER=libav uses GStreamer's decoder instead",
                           name != nullptr ? name : "unknown"),
                          (nullptr));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (!Negotiate(decoder, picture)) {
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    if (FLend) {
        if (GstBuffer* lent = FLender.Lend(picture, FInfo)) {
            frame->output_buffer = lent;
            return gst_video_decoder_finish_frame(decoder, frame);
        }
    }
    return FinishCopy(decoder, picture, frame);
}

GstFlowReturn TPictureOutput::FinishCopy(GstVideoDecoder* decoder, const AVFrame& picture,
                                         GstVideoCodecFrame* frame) {
    const GstFlowReturn allocated = gst_video_decoder_allocate_output_frame(decoder, frame);
    if (allocated != GST_FLOW_OK) {
        gst_video_decoder_release_frame(decoder, frame);
        return allocated;
    }
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &FInfo, frame->output_buffer, GST_MAP_WRITE)) {
        gst_video_decoder_drop_frame(decoder, frame);
        GST_ELEMENT_ERROR(decoder, RESOURCE, WRITE, ("cannot write a decoded H.264 picture"),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    CopyPlanes(picture, mapped);
    gst_video_frame_unmap(&mapped);
    return gst_video_decoder_finish_frame(decoder, frame);
}
