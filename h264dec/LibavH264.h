#pragma once
// H.264 decoding with libavcodec alone, without GStreamer: access units go
// in tagged with a number, pictures come out with the tag of the unit they
// were decoded from (in display order, so the tags come back reordered).

#include "h264dec/LibavLibrary.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct TAvCodecContextFree {
    void operator()(AVCodecContext* context) const { Libav().FreeContext(&context); }
};
struct TAvFrameFree {
    void operator()(AVFrame* frame) const { Libav().FrameFree(&frame); }
};
struct TAvPacketFree {
    void operator()(AVPacket* packet) const { Libav().PacketFree(&packet); }
};

// libav's text for an error code.
std::string LibavErrorText(int code);

class TLibavH264 {
public:
    // Opens a decoder with slice threading on `threads` threads. `extradata` is
    // the stream's avcC record when its units are length-prefixed, empty for a
    // byte stream. Throws ELibavError when libavcodec cannot open one.
    TLibavH264(std::span<const std::uint8_t> extradata, int threads);

    // Decodes one access unit. False when libav refused it as damaged (its
    // picture is lost, decoding goes on); throws ELibavError on a failure that
    // ends decoding. Receive() must have taken every picture before the next
    // Send().
    bool Send(std::span<const std::uint8_t> unit, std::int64_t tag);

    // No more units: Receive() then gives the pictures still held back.
    void Drain();

    // The next decoded picture (its tag in `pts`), or null when none is ready.
    // The picture stays valid until the next call.
    const AVFrame* Receive();

    // Forgets every unit and picture held (a seek, a new stream); decoding
    // starts again at the next key frame. Also ends a drain.
    void Flush();

private:
    std::unique_ptr<AVCodecContext, TAvCodecContextFree> FContext;
    std::unique_ptr<AVFrame, TAvFrameFree> FPicture;
    std::unique_ptr<AVPacket, TAvPacketFree> FPacket;
    // The unit with libav's zeroed padding behind it; grows to the largest unit
    // and is reused.
    std::vector<std::uint8_t> FPadded;
};
