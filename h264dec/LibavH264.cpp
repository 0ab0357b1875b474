#include "h264dec/LibavH264.h"

#include <algorithm>

std::string LibavErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    Libav().ErrorText(code, text, sizeof(text));
    return text;
}

TLibavH264::TLibavH264(std::span<const std::uint8_t> extradata, int threads)
    : FPicture(Libav().FrameAlloc()), FPacket(Libav().PacketAlloc()) {
    const AVCodec* codec = Libav().FindDecoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        throw ELibavError("libavcodec has no H.264 decoder");
    }
    FContext.reset(Libav().AllocContext(codec));
    if (!FContext || !FPicture || !FPacket) {
        throw ELibavError("out of memory");
    }
    if (!extradata.empty()) {
        // libav reads the record with its padding and frees it with the context.
        auto* copy = static_cast<std::uint8_t*>(
            Libav().Mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (copy == nullptr) {
            throw ELibavError("out of memory");
        }
        std::copy(extradata.begin(), extradata.end(), copy);
        FContext->extradata = copy;
        FContext->extradata_size = int(extradata.size());
    }
    // Slice threading decodes each picture as it comes and holds no picture
    // per thread; frame threading would run a picture ahead per thread.
    FContext->thread_type = FF_THREAD_SLICE;
    FContext->thread_count = std::max(1, threads);
    // A picture with damaged parts still comes out (concealed), as the
    // GStreamer libav decoder does it by default: a damaged stream loses
    // as little as it can.
    FContext->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    if (const int result = Libav().Open(FContext.get(), codec, nullptr); result < 0) {
        throw ELibavError("cannot open the H.264 decoder: " + LibavErrorText(result));
    }
}

bool TLibavH264::Send(std::span<const std::uint8_t> unit, std::int64_t tag) {
    const std::size_t padded = unit.size() + AV_INPUT_BUFFER_PADDING_SIZE;
    if (FPadded.size() < padded) {
        FPadded.resize(padded);
    }
    std::copy(unit.begin(), unit.end(), FPadded.begin());
    std::fill_n(FPadded.begin() + std::ptrdiff_t(unit.size()), AV_INPUT_BUFFER_PADDING_SIZE, 0);
    FPacket->data = FPadded.data();
    FPacket->size = int(unit.size());
    FPacket->pts = tag;
    FPacket->dts = AV_NOPTS_VALUE;
    const int result = Libav().SendPacket(FContext.get(), FPacket.get());
    if (result == AVERROR(ENOMEM)) {
        throw ELibavError("out of memory");
    }
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
        throw ELibavError("the H.264 decoder took no more data (" + LibavErrorText(result) + ")");
    }
    return result >= 0;
}

void TLibavH264::Drain() {
    const int result = Libav().SendPacket(FContext.get(), nullptr);
    if (result < 0 && result != AVERROR_EOF) {
        throw ELibavError("cannot drain the H.264 decoder: " + LibavErrorText(result));
    }
}

const AVFrame* TLibavH264::Receive() {
    Libav().FrameUnref(FPicture.get());
    const int result = Libav().ReceiveFrame(FContext.get(), FPicture.get());
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
        return nullptr;
    }
    if (result == AVERROR(ENOMEM)) {
        throw ELibavError("out of memory");
    }
    // Any other error is a picture that could not be decoded: it is lost, the
    // stream goes on.
    return result < 0 ? nullptr : FPicture.get();
}

void TLibavH264::Flush() {
    Libav().FrameUnref(FPicture.get());
    Libav().FlushBuffers(FContext.get());
}
