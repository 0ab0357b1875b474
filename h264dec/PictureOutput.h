#pragma once
// The decoded pictures of the H.264 decoder as GStreamer frames: the output
// format set (and negotiated again) whenever the picture's size, aspect or
// colours change, and each picture copied into a buffer of the decoder's
// pool.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include <memory>

struct TCodecStateUnref {
    void operator()(GstVideoCodecState* state) const { gst_video_codec_state_unref(state); }
};
using TCodecStatePtr = std::unique_ptr<GstVideoCodecState, TCodecStateUnref>;

class TPictureOutput {
public:
    // The input format the output takes its rate and other stream details from.
    void SetInput(GstVideoCodecState* input);

    // Finishes `frame` (owned) with the picture. A picture in another format
    // than 8-bit 4:2:0 is the element's error.
    GstFlowReturn Finish(GstVideoDecoder* decoder, const AVFrame& picture,
                         GstVideoCodecFrame* frame);

private:
    // Sets and negotiates the output format when the picture's differs.
    bool Negotiate(GstVideoDecoder* decoder, const AVFrame& picture);

    TCodecStatePtr FInput;
    GstVideoInfo FInfo{};
    bool FNegotiated = false;
    // What the output format was made from.
    int FWidth = 0;
    int FHeight = 0;
    AVRational FAspect{0, 1};
    int FRange = -1;
    int FMatrix = -1;
    int FTransfer = -1;
    int FPrimaries = -1;
};
