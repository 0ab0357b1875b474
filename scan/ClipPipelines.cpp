#include "scan/ClipPipelines.h"

#include "gstkit/GstKit.h"
#include "scan/VideoDecoder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <atomic>
#include <chrono>

namespace {

// How long a reader may hand out nothing before the file is given up, and
// how long a writer may take to finish its file once the last frame is in.
constexpr std::chrono::seconds ReaderStallLimit{30};
constexpr GstClockTime WriterFinishLimit = 120 * GST_SECOND;
// Bytes a writer may hold before the reader waits for it: a few decoded
// frames of 1080p.
constexpr guint64 WriterQueueBytes = 16u << 20;

bool IsVideoCaps(GstCaps* caps) {
    const char* name = CapsName(caps);
    return g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
}

// Throws the first error waiting on the bus, if any.
void ThrowPendingError(GstBus* bus, GstClockTime wait = 0) {
    TMessagePtr message(gst_bus_timed_pop_filtered(bus, wait, GST_MESSAGE_ERROR));
    if (message) {
        throw EScanFileError(ErrorText(message.get()));
    }
}

std::int64_t StreamTime(const GstSegment* segment, GstClockTime time) {
    if (segment == nullptr || segment->format != GST_FORMAT_TIME) {
        return static_cast<std::int64_t>(time);
    }
    const guint64 stream = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, time);
    return stream == GST_CLOCK_TIME_NONE ? static_cast<std::int64_t>(time)
                                         : static_cast<std::int64_t>(stream);
}

} // namespace

struct TClipReader::TState {
    TGstPtr<GstElement> Pipeline;
    TGstPtr<GstElement> Sink;
    TGstPtr<GstBus> Bus;
    std::atomic<bool> Linked{false};
};

namespace {

// The first video stream goes to the reader; the others stay unlinked.
void LinkVideo(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<TClipReader::TState*>(data);
    if (!IsVideoCaps(PadCaps(pad).get()) || state->Linked.exchange(true)) {
        return;
    }
    LinkToSinkPad(pad, state->Sink.get());
}

// Builds the reader's pipeline: file, demuxer (and decoder), sink.
void BuildReader(TClipReader::TState& s, const std::string& path, TClipReader::TMode mode) {
    s.Pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* source = MakeElement("filesrc");
    GstElement* demux = MakeElement(mode == TClipReader::TMode::Packets ? "parsebin" : "decodebin");
    s.Sink.reset(GST_ELEMENT(gst_object_ref(MakeElement("appsink"))));
    gst_bin_add_many(GST_BIN(s.Pipeline.get()), source, demux, s.Sink.get(), nullptr);
    g_object_set(source, "location", path.c_str(), nullptr);
    g_object_set(s.Sink.get(), "sync", FALSE, "max-buffers", 16, "drop", FALSE, nullptr);
    g_signal_connect(demux, "autoplug-continue", G_CALLBACK(ContinueOnlyWithVideo), nullptr);
    g_signal_connect(demux, "pad-added", G_CALLBACK(LinkVideo), &s);
    if (!gst_element_link(source, demux)) {
        throw EScanFileError("the pipeline that reads the clips cannot be built");
    }
    TracePipeline(s.Pipeline.get(),
                  std::string("clip reader: filesrc ! ") +
                      (mode == TClipReader::TMode::Packets ? "parsebin" : "decodebin") +
                      " ! appsink");
}

} // namespace

TClipReader::TClipReader(const std::string& path, TMode mode) : State(std::make_unique<TState>()) {
    TState& s = *State;
    try {
        BuildReader(s, path, mode);
    } catch (const EGstError& error) {
        throw EScanFileError(error.what());
    }
    s.Bus = BusOf(s.Pipeline.get());
    if (SetState(s.Pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        ThrowPendingError(s.Bus.get());
        throw EScanFileError("the file cannot be opened");
    }
}

TClipReader::~TClipReader() {
    if (State->Pipeline) {
        SetState(State->Pipeline.get(), GST_STATE_NULL);
    }
}

TSamplePtr TClipReader::Next() {
    TState& s = *State;
    auto lastSample = std::chrono::steady_clock::now();
    for (;;) {
        TSamplePtr sample(
            gst_app_sink_try_pull_sample(GST_APP_SINK(s.Sink.get()), 100 * GST_MSECOND));
        ThrowPendingError(s.Bus.get());
        if (sample) {
            return sample;
        }
        if (gst_app_sink_is_eos(GST_APP_SINK(s.Sink.get()))) {
            return nullptr;
        }
        if (std::chrono::steady_clock::now() - lastSample > ReaderStallLimit) {
            throw EScanFileError("the reading of the recording stopped");
        }
    }
}

std::int64_t SampleTimeNs(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer == nullptr) {
        return -1;
    }
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        return StreamTime(segment, GST_BUFFER_PTS(buffer));
    }
    if (GST_BUFFER_DTS_IS_VALID(buffer)) {
        return StreamTime(segment, GST_BUFFER_DTS(buffer));
    }
    return -1;
}

bool IsKeyFrame(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    return buffer != nullptr && !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
}

struct TClipWriter::TState {
    TGstPtr<GstElement> Pipeline;
    TGstPtr<GstElement> Source;
    TGstPtr<GstBus> Bus;
};

TClipWriter::TClipWriter(const std::string& path, GstCaps* caps, const std::string& chain)
    : State(std::make_unique<TState>()) {
    TState& s = *State;
    try {
        s.Pipeline =
            LaunchPipeline("appsrc name=src format=time ! " + chain + " ! filesink name=file");
    } catch (const EGstError& error) {
        throw EScanFileError(std::string("the clip's pipeline cannot be built: ") + error.what());
    }
    s.Source.reset(gst_bin_get_by_name(GST_BIN(s.Pipeline.get()), "src"));
    const TGstPtr<GstElement> file(gst_bin_get_by_name(GST_BIN(s.Pipeline.get()), "file"));
    g_object_set(s.Source.get(), "caps", caps, "max-bytes", WriterQueueBytes, nullptr);
    g_object_set(file.get(), "location", path.c_str(), nullptr);
    s.Bus = BusOf(s.Pipeline.get());
    if (SetState(s.Pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        ThrowPendingError(s.Bus.get());
        throw EScanFileError("the clip's pipeline cannot be started");
    }
}

TClipWriter::~TClipWriter() {
    if (State->Pipeline) {
        SetState(State->Pipeline.get(), GST_STATE_NULL);
    }
}

void TClipWriter::Push(GstSample* sample, std::int64_t offsetNs) {
    TState& s = *State;
    // The reader waits while the writer is behind (an encoder is slower than
    // a decoder), so that the frames of a long clip are not all held at once.
    while (gst_app_src_get_current_level_bytes(GST_APP_SRC(s.Source.get())) > WriterQueueBytes) {
        ThrowPendingError(s.Bus.get(), 5 * GST_MSECOND);
    }
    ThrowPendingError(s.Bus.get());
    GstBuffer* buffer = gst_buffer_copy(gst_sample_get_buffer(sample));
    const auto shift = [offsetNs](GstClockTime time) {
        return time < GstClockTime(offsetNs) ? GstClockTime(0) : time - GstClockTime(offsetNs);
    };
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        GST_BUFFER_PTS(buffer) = shift(GST_BUFFER_PTS(buffer));
    }
    if (GST_BUFFER_DTS_IS_VALID(buffer)) {
        GST_BUFFER_DTS(buffer) = shift(GST_BUFFER_DTS(buffer));
    }
    if (gst_app_src_push_buffer(GST_APP_SRC(s.Source.get()), buffer) != GST_FLOW_OK) {
        ThrowPendingError(s.Bus.get(), GST_SECOND);
        throw EScanFileError("the clip's pipeline stopped");
    }
}

void TClipWriter::Finish() {
    TState& s = *State;
    gst_app_src_end_of_stream(GST_APP_SRC(s.Source.get()));
    TMessagePtr message(gst_bus_timed_pop_filtered(
        s.Bus.get(), WriterFinishLimit, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    SetState(s.Pipeline.get(), GST_STATE_NULL);
    if (!message) {
        throw EScanFileError("the clip was not finished in time");
    }
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
        throw EScanFileError(ErrorText(message.get()));
    }
}
