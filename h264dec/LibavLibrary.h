#pragma once
// libavcodec and libavutil, opened when the first H.264 decoder is made
// rather than when the program starts: a program that never decodes H.264
// (a JPEG camera, the test scene) does not carry their libraries and the
// libraries they load, about 13 MB of resident memory.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include <stdexcept>

// A failure that ends decoding (no library, no decoder, no memory); the text
// says why.
class ELibavError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct TLibavFunctions {
    decltype(&avcodec_find_decoder) FindDecoder;
    decltype(&avcodec_alloc_context3) AllocContext;
    decltype(&avcodec_free_context) FreeContext;
    decltype(&avcodec_open2) Open;
    decltype(&avcodec_send_packet) SendPacket;
    decltype(&avcodec_receive_frame) ReceiveFrame;
    decltype(&avcodec_flush_buffers) FlushBuffers;
    decltype(&av_packet_alloc) PacketAlloc;
    decltype(&av_packet_free) PacketFree;
    decltype(&av_frame_alloc) FrameAlloc;
    decltype(&av_frame_free) FrameFree;
    decltype(&av_frame_unref) FrameUnref;
    decltype(&av_frame_clone) FrameClone;
    decltype(&av_frame_get_plane_buffer) FramePlaneBuffer;
    decltype(&av_mallocz) Mallocz;
    decltype(&av_strerror) ErrorText;
    decltype(&av_get_pix_fmt_name) PixelFormatName;
};

// The libraries' functions, opened at the first call and kept for the
// process's life. Throws ELibavError naming what is missing.
const TLibavFunctions& Libav();
