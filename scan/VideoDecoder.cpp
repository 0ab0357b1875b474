#include "scan/VideoDecoder.h"

#include "engine/GstFrameView.h"
#include "gstkit/GstKit.h"
#include "gstkit/GstOwners.h"
#include "gstkit/VideoMetaReader.h"
#include "h264dec/H264Decoder.h"
#include "scan/StepClock.h"

#include <algorithm>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/missing-plugins.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>

namespace {

// How long a pipeline may read nothing and hand out nothing before the file
// is given up.
constexpr std::chrono::seconds StallLimit{10};

// The caps the reader takes: formats whose bytes the detector reads as they
// are, so that the converter in front of the reader stays idle for them.
constexpr const char* ReaderCaps = "video/x-raw,format=(string){I420,NV12,GRAY8,BGR}";

bool DecodesJpeg(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory == nullptr) {
        return false;
    }
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    if (klass == nullptr || std::string(klass).find("Decoder") == std::string::npos) {
        return false;
    }
    GstCaps* jpeg = gst_caps_from_string("image/jpeg");
    const bool accepts = gst_element_factory_can_sink_any_caps(factory, jpeg) != 0;
    gst_caps_unref(jpeg);
    return accepts;
}

std::int64_t StreamTime(GstPad* pad, GstClockTime pts) {
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (event == nullptr) {
        return static_cast<std::int64_t>(pts);
    }
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const guint64 time = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, pts);
    gst_event_unref(event);
    return time == GST_CLOCK_TIME_NONE ? static_cast<std::int64_t>(pts)
                                       : static_cast<std::int64_t>(time);
}

} // namespace

struct TVideoDecoder::TState {
    std::string Path;
    TGstPtr<GstElement> Pipeline;
    TGstPtr<GstElement> Source;
    TGstPtr<GstElement> Sink;
    TGstPtr<GstBus> Bus;
    GstElement* Converter = nullptr;
    TStepClock ReaderClock;
    TStepClock FilterClock;
    TStepClock ConvertClock;
    std::mutex FilterLock;
    TSamplePtr Current;
    GstVideoFrame Mapped{};
    bool IsMapped = false;
    std::string MissingDecoder;
    std::int64_t FileBytes = -1;
    std::atomic<std::int64_t> Duration{-1};
    std::atomic<std::int64_t> End{0};
    std::atomic<std::int64_t> Seen{0};
    std::atomic<double> Fraction{0};
    std::atomic<bool> VideoLinked{false};
    std::mutex TagLock;
    TCreationTime Creation;
    TDecodeProgress* Shown = nullptr;

    TState(const std::string& path, std::int64_t stepNs)
        : Path(path), ReaderClock(stepNs), FilterClock(stepNs), ConvertClock(stepNs) {}

    void Unmap() {
        if (IsMapped) {
            gst_video_frame_unmap(&Mapped);
            IsMapped = false;
        }
        Current.reset();
    }

    std::chrono::steady_clock::time_point LastActivity = std::chrono::steady_clock::now();
    std::int64_t LastBytes = -1;

    void Build();
    void Start();
    void CheckStalled();
    void DrainBus();
    void ReadTags(GstTagList* tags);
    void UpdateProgress();
    bool Map(GstSample* sample, TDecodedFrame& frame);
};

namespace {

void LinkVideoPad(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<TVideoDecoder::TState*>(data);
    const bool video = g_str_has_prefix(CapsName(PadCaps(pad).get()), "video/x-raw") != 0;
    if (!video || state->VideoLinked.exchange(true)) {
        return;
    }
    LinkToSinkPad(pad, state->Converter);
}

GstPadProbeReturn FilterJpeg(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<TVideoDecoder::TState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer == nullptr || !GST_BUFFER_PTS_IS_VALID(buffer)) {
        return GST_PAD_PROBE_OK;
    }
    const std::int64_t time = StreamTime(pad, GST_BUFFER_PTS(buffer));
    const std::lock_guard lock(state->FilterLock);
    return state->FilterClock.Take(time) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

void WatchForJpegDecoder(GstBin*, GstBin*, GstElement* element, gpointer data) {
    if (!DecodesJpeg(element)) {
        return;
    }
    GstPad* pad = gst_element_get_static_pad(element, "sink");
    if (pad != nullptr) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, FilterJpeg, data, nullptr);
        gst_object_unref(pad);
    }
}

// Every decoded frame passes here, in front of the converter: it is counted,
// and only the frames the step takes go on, so that no other frame is ever
// converted.
GstPadProbeReturn FilterDecoded(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<TVideoDecoder::TState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer == nullptr) {
        return GST_PAD_PROBE_OK;
    }
    ++state->Seen;
    std::int64_t time = state->End.load();
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        time = StreamTime(pad, GST_BUFFER_PTS(buffer));
    }
    const std::int64_t length =
        GST_BUFFER_DURATION_IS_VALID(buffer) ? std::int64_t(GST_BUFFER_DURATION(buffer)) : 0;
    state->End = std::max(state->End.load(), time + length);
    return state->ConvertClock.Take(time) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

GstPadProbeReturn WatchTags(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event != nullptr && GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
        GstTagList* tags = nullptr;
        gst_event_parse_tag(event, &tags);
        static_cast<TVideoDecoder::TState*>(data)->ReadTags(tags);
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

void TVideoDecoder::TState::Build() {
    Pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    Source.reset(GST_ELEMENT(gst_object_ref(MakeElement("filesrc"))));
    GstElement* decoder = MakeElement("decodebin");
    Converter = MakeElement("videoconvert");
    Sink.reset(GST_ELEMENT(gst_object_ref(MakeElement("appsink"))));
    gst_bin_add_many(GST_BIN(Pipeline.get()), Source.get(), decoder, Converter, Sink.get(),
                     nullptr);
    g_object_set(Source.get(), "location", Path.c_str(), nullptr);
    g_object_set(decoder, "expose-all-streams", FALSE, nullptr);
    GstCaps* caps = gst_caps_from_string(ReaderCaps);
    g_object_set(Sink.get(), "caps", caps, "sync", FALSE, "max-buffers", 4, "drop", FALSE, nullptr);
    gst_caps_unref(caps);
    g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(ContinueOnlyWithVideo), nullptr);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(LinkVideoPad), this);
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(WatchForJpegDecoder), this);
    if (!gst_element_link(Source.get(), decoder) || !gst_element_link(Converter, Sink.get())) {
        throw EScanFileError("the decoding pipeline cannot be built");
    }
    // The frames are mapped as video frames: the decoder's own pictures come
    // through without a copy.
    ReadsVideoMeta(Sink.get());
    GstPad* sinkPad = gst_element_get_static_pad(Sink.get(), "sink");
    gst_pad_add_probe(sinkPad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, WatchTags, this, nullptr);
    gst_object_unref(sinkPad);
    GstPad* converterPad = gst_element_get_static_pad(Converter, "sink");
    gst_pad_add_probe(converterPad, GST_PAD_PROBE_TYPE_BUFFER, FilterDecoded, this, nullptr);
    gst_object_unref(converterPad);
    Bus = BusOf(Pipeline.get());
    TracePipeline(Pipeline.get(), "decoder: filesrc ! decodebin ! videoconvert ! appsink");
}

void TVideoDecoder::TState::Start() {
    if (SetState(Pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        DrainBus();
        throw EScanFileError("the file cannot be opened");
    }
}

// Reads the messages waiting on the bus: errors end the scan of the file,
// tags may carry the time the recording was made.
void TVideoDecoder::TState::DrainBus() {
    while (TMessagePtr message{gst_bus_pop(Bus.get())}) {
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR:
            if (!MissingDecoder.empty()) {
                throw EScanFileError("no decoder is installed for " + MissingDecoder);
            }
            throw EScanFileError(ErrorText(message.get()));
        case GST_MESSAGE_ELEMENT:
            if (gst_is_missing_plugin_message(message.get()) && MissingDecoder.empty()) {
                gchar* text = gst_missing_plugin_message_get_description(message.get());
                MissingDecoder = text != nullptr ? text : "this format";
                g_free(text);
            }
            break;
        case GST_MESSAGE_TAG: {
            GstTagList* tags = nullptr;
            gst_message_parse_tag(message.get(), &tags);
            ReadTags(tags);
            gst_tag_list_unref(tags);
            break;
        }
        default:
            break;
        }
    }
}

// Some damaged files make a demuxer stop without posting an error; the
// pipeline then waits for ever. A pipeline whose state change failed, or that
// has neither read a byte nor handed out a frame for a long time, is given up.
void TVideoDecoder::TState::CheckStalled() {
    GstState state = GST_STATE_NULL;
    GstState pending = GST_STATE_NULL;
    if (gst_element_get_state(Pipeline.get(), &state, &pending, 0) == GST_STATE_CHANGE_FAILURE) {
        throw EScanFileError("the file cannot be decoded");
    }
    gint64 bytes = -1;
    gst_element_query_position(Source.get(), GST_FORMAT_BYTES, &bytes);
    const auto now = std::chrono::steady_clock::now();
    if (bytes != LastBytes) {
        LastBytes = bytes;
        LastActivity = now;
        return;
    }
    if (now - LastActivity > StallLimit) {
        throw EScanFileError(Seen.load() == 0 ? "the file cannot be decoded: nothing came out of it"
                                              : "the decoding stopped before the end of the file");
    }
}

void TVideoDecoder::TState::ReadTags(GstTagList* tags) {
    GstDateTime* made = nullptr;
    if (tags == nullptr || !gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &made)) {
        return;
    }
    const std::lock_guard lock(TagLock);
    if (gst_date_time_has_time(made) && !Creation) {
        GDateTime* time = gst_date_time_to_g_date_time(made);
        if (time != nullptr) {
            Creation = g_date_time_to_unix(time);
            g_date_time_unref(time);
        }
    }
    gst_date_time_unref(made);
}

void TVideoDecoder::TState::UpdateProgress() {
    if (Duration.load() < 0) {
        gint64 duration = -1;
        if (gst_element_query_duration(Pipeline.get(), GST_FORMAT_TIME, &duration) &&
            duration > 0) {
            Duration = duration;
        }
    }
    gint64 position = 0;
    if (Duration.load() > 0) {
        Fraction = std::min(1.0, double(End.load()) / double(Duration.load()));
    } else if (FileBytes > 0 && Seen.load() > 0 &&
               gst_element_query_position(Source.get(), GST_FORMAT_BYTES, &position)) {
        // Only once frames flow: before that a demuxer may be reading the
        // index at the end of the file.
        Fraction = std::min(1.0, double(position) / double(FileBytes));
    }
    if (Shown != nullptr) {
        Shown->Fraction = Fraction.load();
        Shown->FramesSeen = Seen.load();
    }
}

bool TVideoDecoder::TState::Map(GstSample* sample, TDecodedFrame& frame) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&Mapped, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        return false;
    }
    IsMapped = true;
    // The reader's caps admit only the formats the view describes.
    ViewOfVideoFrame(Mapped, frame.View);
    return true;
}

TVideoDecoder::TVideoDecoder(const std::string& path, std::int64_t stepNs,
                             TDecodeProgress* progress)
    : State(std::make_unique<TState>(path, stepNs)) {
    State->Shown = progress;
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        throw EScanFileError("no such file");
    }
    if (std::filesystem::is_directory(path, error)) {
        throw EScanFileError("a folder, not a video file");
    }
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        State->FileBytes = status.st_size;
    }
    if (State->FileBytes == 0) {
        throw EScanFileError("the file is empty");
    }
    if (!EnsureGStreamer()) {
        throw EScanFileError("GStreamer cannot be initialised");
    }
    RegisterH264Decoder();
    try {
        State->Build();
    } catch (const EGstError& error) {
        throw EScanFileError(error.what());
    }
    State->Start();
}

TVideoDecoder::~TVideoDecoder() {
    State->Unmap();
    if (State->Pipeline) {
        SetState(State->Pipeline.get(), GST_STATE_NULL);
    }
}

bool TVideoDecoder::NextFrame(TDecodedFrame& frame) {
    TState& s = *State;
    s.Unmap();
    for (;;) {
        TSamplePtr sample(
            gst_app_sink_try_pull_sample(GST_APP_SINK(s.Sink.get()), 100 * GST_MSECOND));
        s.DrainBus();
        if (!sample) {
            if (!gst_app_sink_is_eos(GST_APP_SINK(s.Sink.get()))) {
                s.UpdateProgress();
                s.CheckStalled();
                continue;
            }
            if (s.Seen.load() == 0) {
                throw EScanFileError(s.MissingDecoder.empty()
                                         ? "the file has no video stream"
                                         : "no decoder is installed for " + s.MissingDecoder);
            }
            s.Fraction = 1.0;
            if (s.Shown != nullptr) {
                s.Shown->Fraction = 1.0;
                s.Shown->FramesSeen = s.Seen.load();
            }
            return false;
        }
        s.LastActivity = std::chrono::steady_clock::now();
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        if (buffer == nullptr) {
            continue;
        }
        std::int64_t time = s.End.load();
        if (GST_BUFFER_PTS_IS_VALID(buffer)) {
            const GstSegment* segment = gst_sample_get_segment(sample.get());
            const guint64 stream =
                segment != nullptr
                    ? gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer))
                    : GST_BUFFER_PTS(buffer);
            time = stream == GST_CLOCK_TIME_NONE ? static_cast<std::int64_t>(GST_BUFFER_PTS(buffer))
                                                 : static_cast<std::int64_t>(stream);
        }
        s.UpdateProgress();
        if (!s.ReaderClock.Take(time)) {
            continue;
        }
        s.Current = std::move(sample);
        if (!s.Map(s.Current.get(), frame)) {
            throw EScanFileError("a decoded frame cannot be read");
        }
        frame.TimeNs = time;
        return true;
    }
}

std::int64_t TVideoDecoder::DurationNs() const {
    return State->Duration.load();
}

double TVideoDecoder::Progress() const {
    return State->Fraction.load();
}

std::int64_t TVideoDecoder::FramesSeen() const {
    return State->Seen.load();
}

TCreationTime TVideoDecoder::CreationTime() const {
    const std::lock_guard lock(State->TagLock);
    return State->Creation;
}

std::int64_t TVideoDecoder::EndNs() const {
    return State->End.load();
}
