#include "h264dec/H264Decoder.h"

#include "h264dec/LibavH264.h"
#include "h264dec/PictureOutput.h"

#include "gstkit/GstOwners.h"

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

GST_DEBUG_CATEGORY_STATIC(h264dec_debug);
#define GST_CAT_DEFAULT h264dec_debug

namespace {

// Units decoded since a frame was sent after which libav will never give its
// picture back: H.264 holds at most 16 pictures for reordering; the rest is
// margin. Frames that old were dropped by libav as damaged.
constexpr guint32 StaleDistance = 48;

struct TDecoderState {
    std::unique_ptr<TLibavH264> Libav;
    TPictureOutput Output;
};

TDecoderState& State(GstVideoDecoder* decoder);

// A libav failure as the element's error, which ends the stream.
GstFlowReturn Fail(GstVideoDecoder* decoder, const ELibavError& error) {
    GST_ELEMENT_ERROR(decoder, STREAM, DECODE, ("H.264 decoding failed: %s", error.what()),
                      (nullptr));
    return GST_FLOW_ERROR;
}

// Frames sent long before the one just finished that libav dropped; they
// would otherwise stay pending for as long as the stream runs.
void ReleaseStaleFrames(GstVideoDecoder* decoder, guint32 finished) {
    while (GstVideoCodecFrame* oldest = gst_video_decoder_get_oldest_frame(decoder)) {
        if (oldest->system_frame_number + StaleDistance >= finished) {
            gst_video_codec_frame_unref(oldest);
            return;
        }
        GST_DEBUG_OBJECT(decoder, "frame %u was never decoded", oldest->system_frame_number);
        gst_video_decoder_release_frame(decoder, oldest);
    }
}

// Hands on every picture libav has ready.
GstFlowReturn PushPictures(GstVideoDecoder* decoder) {
    TDecoderState& state = State(decoder);
    while (const AVFrame* picture = state.Libav->Receive()) {
        GstVideoCodecFrame* frame = gst_video_decoder_get_frame(decoder, int(picture->pts));
        if (frame == nullptr) {
            GST_DEBUG_OBJECT(decoder, "picture of unknown frame %" G_GINT64_FORMAT, picture->pts);
            continue;
        }
        const guint32 number = frame->system_frame_number;
        const GstFlowReturn result = state.Output.Finish(decoder, *picture, frame);
        GST_LOG_OBJECT(decoder, "frame %u finished, %zu pictures lent", number,
                       state.Output.Lent());
        if (result != GST_FLOW_OK) {
            return result;
        }
        ReleaseStaleFrames(decoder, number);
    }
    return GST_FLOW_OK;
}

// Decodes what libav still holds back and readies it for new data.
GstFlowReturn DrainPictures(GstVideoDecoder* decoder) {
    TDecoderState& state = State(decoder);
    if (!state.Libav) {
        return GST_FLOW_OK;
    }
    try {
        state.Libav->Drain();
        const GstFlowReturn result = PushPictures(decoder);
        state.Libav->Flush();
        return result;
    } catch (const ELibavError& error) {
        return Fail(decoder, error);
    }
}

} // namespace

struct StirwatchH264Dec {
    GstVideoDecoder Parent;
    TDecoderState Decoder;
};

struct StirwatchH264DecClass {
    GstVideoDecoderClass Parent;
};

G_DEFINE_TYPE(StirwatchH264Dec, stirwatch_h264_dec, GST_TYPE_VIDEO_DECODER)

namespace {

TDecoderState& State(GstVideoDecoder* decoder) {
    return reinterpret_cast<StirwatchH264Dec*>(decoder)->Decoder;
}

// Pictures up to this many pixels (640 x 480) decode on one thread: such a
// picture takes about a millisecond, so a second slice thread gains little,
// while each thread keeps decoding state of its own (about 200 KB).
constexpr std::int64_t SingleThreadPixels = 640 * 480;

// The slice threads for a stream whose caps give its picture size; pictures
// of an unknown size may be large.
int ThreadCount(const GstVideoInfo& info) {
    const std::int64_t pixels =
        std::int64_t{GST_VIDEO_INFO_WIDTH(&info)} * GST_VIDEO_INFO_HEIGHT(&info);
    if (pixels > 0 && pixels <= SingleThreadPixels) {
        return 1;
    }
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// The avcC record of a length-prefixed stream (empty for a byte stream);
// false when a length-prefixed stream comes without one.
bool CodecData(GstCaps* caps, std::vector<std::uint8_t>& record) {
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    if (g_strcmp0(gst_structure_get_string(structure, "stream-format"), "avc") != 0) {
        return true;
    }
    const GValue* value = gst_structure_get_value(structure, "codec_data");
    GstBuffer* buffer = value != nullptr ? gst_value_get_buffer(value) : nullptr;
    GstMapInfo map;
    if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return false;
    }
    record.assign(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    return true;
}

gboolean SetFormat(GstVideoDecoder* decoder, GstVideoCodecState* input) {
    std::vector<std::uint8_t> record;
    if (!CodecData(input->caps, record)) {
        GST_ELEMENT_ERROR(decoder, STREAM, FORMAT,
                          ("H.264 stream without its decoder configuration (codec_data)"),
                          (nullptr));
        return FALSE;
    }
    // Pictures of the stream so far come out before the decoder is replaced.
    if (DrainPictures(decoder) != GST_FLOW_OK) {
        return FALSE;
    }
    TDecoderState& state = State(decoder);
    state.Libav.reset();
    try {
        state.Libav = std::make_unique<TLibavH264>(record, ThreadCount(input->info));
    } catch (const ELibavError& error) {
        Fail(decoder, error);
        return FALSE;
    }
    state.Output.SetInput(input);
    return TRUE;
}

GstFlowReturn HandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame) {
    TDecoderState& state = State(decoder);
    const guint32 number = frame->system_frame_number;
    GstMapInfo map;
    if (!state.Libav || !gst_buffer_map(frame->input_buffer, &map, GST_MAP_READ)) {
        const GstFlowReturn result = state.Libav ? GST_FLOW_ERROR : GST_FLOW_NOT_NEGOTIATED;
        gst_video_decoder_drop_frame(decoder, frame);
        return result;
    }
    bool taken = false;
    try {
        taken = state.Libav->Send({map.data, map.size}, number);
    } catch (const ELibavError& error) {
        gst_buffer_unmap(frame->input_buffer, &map);
        gst_video_decoder_drop_frame(decoder, frame);
        return Fail(decoder, error);
    }
    gst_buffer_unmap(frame->input_buffer, &map);
    // The base class keeps the frame; its picture finds it again by number.
    gst_video_codec_frame_unref(frame);
    GstFlowReturn result = GST_FLOW_OK;
    if (!taken) {
        // Damaged data: its picture is lost and the stream goes on (the base
        // class counts such errors against its limit, none by default).
        GST_VIDEO_DECODER_ERROR(decoder, 1, STREAM, DECODE, ("H.264 data could not be decoded"),
                                ("frame %u refused", number), result);
    }
    if (result != GST_FLOW_OK) {
        return result;
    }
    try {
        return PushPictures(decoder);
    } catch (const ELibavError& error) {
        return Fail(decoder, error);
    }
}

// Pictures go downstream without a copy where every consumer reads planes
// where a video meta places them; elsewhere they are copied into the pool's
// buffers, laid out as the caps alone say.
gboolean DecideAllocation(GstVideoDecoder* decoder, GstQuery* query) {
    const bool lend =
        gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr) != FALSE;
    GST_DEBUG_OBJECT(decoder, "pictures are %s", lend ? "lent" : "copied");
    State(decoder).Output.SetLending(lend);
    return GST_VIDEO_DECODER_CLASS(stirwatch_h264_dec_parent_class)
        ->decide_allocation(decoder, query);
}

gboolean Flush(GstVideoDecoder* decoder) {
    TDecoderState& state = State(decoder);
    if (state.Libav) {
        state.Libav->Flush();
    }
    return TRUE;
}

gboolean Stop(GstVideoDecoder* decoder) {
    TDecoderState& state = State(decoder);
    state.Libav.reset();
    state.Output = TPictureOutput();
    return TRUE;
}

// Caps that do not name the profile, chroma format or depth (no parser in
// front) are accepted too, as long as nothing they name is refused: libav
// finds out the rest from the stream. (The base class wants every field.)
gboolean SinkQuery(GstVideoDecoder* decoder, GstQuery* query) {
    if (GST_QUERY_TYPE(query) != GST_QUERY_ACCEPT_CAPS) {
        return GST_VIDEO_DECODER_CLASS(stirwatch_h264_dec_parent_class)->sink_query(decoder, query);
    }
    GstCaps* caps = nullptr;
    gst_query_parse_accept_caps(query, &caps);
    const TCapsPtr accepted(gst_pad_get_pad_template_caps(GST_VIDEO_DECODER_SINK_PAD(decoder)));
    gst_query_set_accept_caps_result(query, gst_caps_can_intersect(caps, accepted.get()));
    return TRUE;
}

void Finalize(GObject* object) {
    reinterpret_cast<StirwatchH264Dec*>(object)->Decoder.~TDecoderState();
    G_OBJECT_CLASS(stirwatch_h264_dec_parent_class)->finalize(object);
}

// The 8-bit 4:2:0 profiles; h264parse, which decodebin puts in front, fills
// in the profile, chroma format and depth from the stream.
const char* const SinkCaps = "video/x-h264, stream-format=(string){ byte-stream, avc }, "
                             "alignment=(string)au, profile=(string){ constrained-baseline, "
                             "baseline, main, extended, high, progressive-high, "
                             "constrained-high }, chroma-format=(string)4:2:0, "
                             "bit-depth-luma=(uint)8, bit-depth-chroma=(uint)8";

} // namespace

static void stirwatch_h264_dec_class_init(StirwatchH264DecClass* type) {
    GstElementClass* element = GST_ELEMENT_CLASS(type);
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                                      TCapsPtr(gst_caps_from_string(SinkCaps)).get()));
    gst_element_class_add_pad_template(
        element, gst_pad_template_new(
                     "src", GST_PAD_SRC, GST_PAD_ALWAYS,
                     TCapsPtr(gst_caps_from_string("video/x-raw, format=(string)I420")).get()));
    gst_element_class_set_static_metadata(
        element, "H.264 decoder (libavcodec)", "Codec/Decoder/Video",
        "Decodes 8-bit 4:2:0 H.264 with libavcodec", "Stirwatch developers");
    G_OBJECT_CLASS(type)->finalize = Finalize;
    GstVideoDecoderClass* base = GST_VIDEO_DECODER_CLASS(type);
    base->stop = Stop;
    base->sink_query = SinkQuery;
    base->set_format = SetFormat;
    base->handle_frame = HandleFrame;
    base->flush = Flush;
    base->decide_allocation = DecideAllocation;
    base->finish = DrainPictures;
    base->drain = DrainPictures;
}

static void stirwatch_h264_dec_init(StirwatchH264Dec* self) {
    new (&self->Decoder) TDecoderState();
    gst_video_decoder_set_packetized(GST_VIDEO_DECODER(self), TRUE);
    gst_video_decoder_set_needs_format(GST_VIDEO_DECODER(self), TRUE);
}

GType H264DecoderType() {
    return stirwatch_h264_dec_get_type();
}

bool RegisterH264Decoder() {
    static const bool registered = [] {
        if (g_strcmp0(std::getenv("STIRWATCH_H264_DECODER"), "libav") == 0) {
            return false;
        }
        GST_DEBUG_CATEGORY_INIT(h264dec_debug, H264DecoderName, 0,
                                "H.264 decoding with libavcodec");
        return gst_element_register(nullptr, H264DecoderName, GST_RANK_PRIMARY + 1,
                                    H264DecoderType()) != FALSE;
    }();
    return registered;
}
