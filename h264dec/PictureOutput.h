#pragma once
// The decoded pictures of the H.264 decoder as GStreamer frames: the output
// format set (and negotiated again) whenever the picture's size, aspect or
// colours change, and each picture lent downstream as libav made it where
// downstream reads video meta, else copied into a buffer of the decoder's
// pool.

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "h264dec/PictureLender.h"

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include <memory>

struct TCodecStateUnref {
    void operator()(GstVideoCodecState* state) const { gst_video_codec_state_unref(state); }
};
using TCodecStatePtr = std::unique_ptr<GstVideoCodecState, TCodecStateUnref>;

class TPictureOutput {
public:
    // The pictures lent at most at a time; past them pictures are copied. The
    // watch run holds up to four (the sink's queue, the newest frame, the
    // step's and the display's reads, the event encoder's queue); the rest is
    // margin for a consumer that falls behind for a moment.
    static constexpr std::size_t LentPictures = 16;

    // The input format the output takes its rate and other stream details from.
    void SetInput(GstVideoCodecState* input);

    // Whether downstream takes frames whose planes a video meta places (as
    // the allocation query said): only those are lent without a copy.
    void SetLending(bool lend) { FLend = lend; }

    // The pictures lent and not yet released downstream.
    std::size_t Lent() const { return FLender.Lent(); }

    // Finishes `frame` (owned) with the picture. A picture in another format
    // than 8-bit 4:2:0 is the element's error.
    GstFlowReturn Finish(GstVideoDecoder* decoder, const AVFrame& picture,
                         GstVideoCodecFrame* frame);

private:
    // Sets and negotiates the output format when the picture's differs.
    bool Negotiate(GstVideoDecoder* decoder, const AVFrame& picture);

    // Copies the picture into a buffer of the decoder's pool.
    GstFlowReturn FinishCopy(GstVideoDecoder* decoder, const AVFrame& picture,
                             GstVideoCodecFrame* frame);

    TCodecStatePtr FInput;
    bool FLend = false;
    TPictureLender FLender{LentPictures};
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
