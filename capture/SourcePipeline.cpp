#include "capture/SourcePipeline.h"

#include "capture/SourceProblems.h"
#include "gstkit/VideoMetaReader.h"
#include "h264dec/H264Decoder.h"

#include <QFileInfo>
#include <QString>

namespace {

const char* const TailDescription =
    "videoconvert name=convert ! videoscale ! capsfilter name=format ! appsink name=sink";

// Links the first video pad of a decoding element to the tail; other pads (sound,
// subtitles) stay unlinked.
void LinkVideoPad(GstElement*, GstPad* pad, gpointer tailSink) {
    auto* sink = static_cast<GstPad*>(tailSink);
    if (gst_pad_is_linked(sink)) {
        return;
    }
    TCapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) {
        caps.reset(gst_pad_query_caps(pad, nullptr));
    }
    if (!caps || gst_caps_is_empty(caps.get()) ||
        !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                          "video/")) {
        return;
    }
    gst_pad_link(pad, sink);
}

// All pads are there and none was video: the source has no picture.
void CheckForVideo(GstElement* element, gpointer tailSink) {
    if (gst_pad_is_linked(static_cast<GstPad*>(tailSink))) {
        return;
    }
    GError* error =
        g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE, "it holds no picture");
    gst_element_post_message(element,
                             gst_message_new_error(GST_OBJECT(element), error, "no video pad"));
    g_error_free(error);
}

void ReleasePad(gpointer pad, GClosure*) {
    gst_object_unref(pad);
}

// Links `decoder`'s video pad to `tail` whenever it appears (again after a reconnection).
void LinkWhenReady(GstElement* decoder, GstElement* tail) {
    GstPad* sink = gst_element_get_static_pad(tail, "sink");
    g_signal_connect_data(decoder, "pad-added", G_CALLBACK(LinkVideoPad), sink, ReleasePad,
                          GConnectFlags(0));
    g_signal_connect_data(decoder, "no-more-pads", G_CALLBACK(CheckForVideo), gst_object_ref(sink),
                          ReleasePad, GConnectFlags(0));
}

// Multipart JPEG from a camera: one stream whose type never changes, announced at
// once so that decoding starts with the first part instead of waiting for more.
void SetUpDecoderElement(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    if (g_strcmp0(name, "multipartdemux") == 0) {
        g_object_set(element, "single-stream", TRUE, nullptr);
    }
}

// RTSP: a short jitter buffer that never holds more than its latency (the oldest
// packets go first); a camera is watched live, not played back.
void SetUpNetworkSource(GstElement*, GstElement* source, gpointer) {
    GObjectClass* type = G_OBJECT_GET_CLASS(source);
    if (g_object_class_find_property(type, "latency")) {
        g_object_set(source, "latency", 200u, nullptr);
    }
    if (g_object_class_find_property(type, "drop-on-latency")) {
        g_object_set(source, "drop-on-latency", TRUE, nullptr);
    }
    if (g_object_class_find_property(type, "tcp-timeout")) {
        g_object_set(source, "tcp-timeout", G_GUINT64_CONSTANT(5000000), nullptr);
    }
}

// Frames without a timestamp get the running time of their arrival: the rate
// conversion and the recorder need one.
GstPadProbeReturn StampOnArrival(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || GST_BUFFER_PTS_IS_VALID(buffer)) {
        return GST_PAD_PROBE_OK;
    }
    TGstPtr<GstElement> element(gst_pad_get_parent_element(pad));
    TGstPtr<GstClock> clock(element ? gst_element_get_clock(element.get()) : nullptr);
    if (!clock) {
        return GST_PAD_PROBE_OK;
    }
    const GstClockTime now = gst_clock_get_time(clock.get());
    const GstClockTime base = gst_element_get_base_time(element.get());
    buffer = gst_buffer_make_writable(buffer);
    GST_BUFFER_PTS(buffer) = now > base ? now - base : 0;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

// With frame threading a libav decoder keeps a decoded frame more per thread
// besides the frames it refers to (about 19 MB at 1080p on two processors) and
// runs as many frames ahead; slice threading keeps neither at the same total
// cost. The frame step takes one frame at a time: nothing gains from the lead.
void PreferSliceThreads(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_str_has_prefix(GST_OBJECT_NAME(factory), "avdec_") &&
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "thread-type")) {
        gst_util_set_object_arg(G_OBJECT(element), "thread-type", "slice");
    }
}

// The tail converts and scales whatever comes: a new size or rate asked for behind
// it is settled there and never reaches the source, which keeps running as it is.
GstPadProbeReturn KeepReconfigureInTail(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    return event && GST_EVENT_TYPE(event) == GST_EVENT_RECONFIGURE ? GST_PAD_PROBE_DROP
                                                                   : GST_PAD_PROBE_OK;
}

TGstPtr<GstElement> Make(const char* factory, const char* name = nullptr) {
    GstElement* element = gst_element_factory_make(factory, name);
    return TGstPtr<GstElement>(element ? GST_ELEMENT(gst_object_ref_sink(element)) : nullptr);
}

std::string MissingElementText(const char* factory) {
    std::string text = std::string("Missing plug-in: the element \"") + factory + "\"";
    const std::string package = PackageForElement(factory);
    return package.empty() ? text : text + " (install " + package + ")";
}

// The source part of a file, network stream or camera, decoded; null with `error` set.
TGstPtr<GstElement> SourcePart(const TSource& source, std::string& error,
                               TGstPtr<GstElement>& decoder) {
    if (source.Kind == TSourceKind::Camera) {
        GstElement* camera =
            source.Device ? gst_device_create_element(source.Device.get(), "src") : nullptr;
        if (!camera) {
            error = "Cannot open the device " + source.Name;
            return nullptr;
        }
        // The decoder is part of the camera's tail (see BuildSourcePipeline).
        return TGstPtr<GstElement>(GST_ELEMENT(gst_object_ref_sink(camera)));
    }
    const QString location = QString::fromStdString(source.Location);
    error = SourceFileProblem(source);
    if (!error.empty()) {
        return nullptr;
    }
    if (location.startsWith(QLatin1String("http://")) ||
        location.startsWith(QLatin1String("https://"))) {
        TGstPtr<GstElement> http = Make("souphttpsrc", "src");
        decoder = Make("decodebin");
        if (!http || !decoder) {
            error = MissingElementText(http ? "decodebin" : "souphttpsrc");
            return nullptr;
        }
        g_object_set(http.get(), "location", source.Location.c_str(), "is-live", TRUE,
                     "do-timestamp", TRUE, "timeout", 10u, nullptr);
        g_signal_connect(decoder.get(), "deep-element-added", G_CALLBACK(SetUpDecoderElement),
                         nullptr);
        return http;
    }
    // Files and RTSP: uridecodebin finds source and decoder itself.
    TGstPtr<GstElement> uri = Make("uridecodebin", "src");
    if (!uri) {
        error = MissingElementText("uridecodebin");
        return nullptr;
    }
    std::string address = source.Location;
    if (source.Kind == TSourceKind::File) {
        GError* rawError = nullptr;
        address =
            TakeGString(gst_filename_to_uri(source.Location.c_str(), &rawError)).toStdString();
        const TErrorPtr uriError(rawError);
    }
    g_object_set(uri.get(), "uri", address.c_str(), nullptr);
    g_signal_connect(uri.get(), "source-setup", G_CALLBACK(SetUpNetworkSource), nullptr);
    return uri;
}

} // namespace

std::string SourceFileProblem(const TSource& source) {
    if (source.Kind != TSourceKind::File) {
        return {};
    }
    const QFileInfo file(QString::fromStdString(source.Location));
    if (!file.exists()) {
        return "File not found: " + source.Location;
    }
    if (file.isDir()) {
        return "Not a video: " + source.Location + " is a folder";
    }
    if (!file.isReadable()) {
        return "Access denied: " + source.Location + " cannot be read";
    }
    return {};
}

bool TSource::Network() const {
    return Kind == TSourceKind::Url;
}

bool TSource::Live() const {
    return Kind == TSourceKind::TestScene || Kind == TSourceKind::Camera || Network();
}

TSourcePipeline BuildSourcePipeline(const TSource& source) {
    EnsureGStreamer();
    // H.264 is decoded by the program's own libavcodec element, which spares
    // the process GStreamer's libav plug-in and the libraries it loads.
    RegisterH264Decoder();
    TSourcePipeline built;
    GError* rawError = nullptr;
    if (source.Kind == TSourceKind::TestScene || source.Kind == TSourceKind::Launch) {
        const std::string description = source.Location + " ! " + TailDescription;
        GstElement* pipeline = gst_parse_launch(description.c_str(), &rawError);
        built.Pipeline.reset(pipeline ? GST_ELEMENT(gst_object_ref_sink(pipeline)) : nullptr);
        const TErrorPtr error(rawError);
        if (error || !built.Pipeline) {
            built.Pipeline.reset();
            built.Error = ParseErrorText(error.get());
            return built;
        }
    } else {
        TGstPtr<GstElement> decoder;
        TGstPtr<GstElement> sourcePart = SourcePart(source, built.Error, decoder);
        if (!sourcePart) {
            return built;
        }
        // A camera's decoder is linked in the tail's own description: decodebin3
        // (decodebin never gets a PipeWire frame) linked by hand to the tail
        // never receives one either.
        std::string tailDescription = TailDescription;
        if (source.Kind == TSourceKind::Camera) {
            tailDescription.insert(0, "capsfilter ! decodebin3 ! ");
        }
        GstElement* tail = gst_parse_bin_from_description(tailDescription.c_str(), TRUE, &rawError);
        TGstPtr<GstElement> tailBin(tail ? GST_ELEMENT(gst_object_ref_sink(tail)) : nullptr);
        const TErrorPtr error(rawError);
        if (error || !tailBin) {
            built.Error = ParseErrorText(error.get());
            return built;
        }
        built.Pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("source"))));
        GstBin* bin = GST_BIN(built.Pipeline.get());
        gst_bin_add(bin, sourcePart.get());
        gst_bin_add(bin, tailBin.get());
        if (decoder) {
            gst_bin_add(bin, decoder.get());
            if (!gst_element_link(sourcePart.get(), decoder.get())) {
                built.Pipeline.reset();
                built.Error = "Cannot decode " + source.Name;
                return built;
            }
            LinkWhenReady(decoder.get(), tailBin.get());
        } else if (source.Kind == TSourceKind::Camera) {
            if (!gst_element_link(sourcePart.get(), tailBin.get())) {
                built.Pipeline.reset();
                built.Error = "Cannot open the device " + source.Name;
                return built;
            }
        } else {
            LinkWhenReady(sourcePart.get(), tailBin.get());
        }
    }
    TracePipeline(built.Pipeline.get(), source.Name + ": " + source.Location);
    GstBin* bin = GST_BIN(built.Pipeline.get());
    g_signal_connect(bin, "deep-element-added", G_CALLBACK(PreferSliceThreads), nullptr);
    built.Sink.reset(gst_bin_get_by_name(bin, "sink"));
    built.FormatFilter.reset(gst_bin_get_by_name(bin, "format"));
    built.Converter.reset(gst_bin_get_by_name(bin, "convert"));
    built.SourceElement.reset(gst_bin_get_by_name(bin, "src"));
    if (!built.Sink || !built.FormatFilter || !built.Converter) {
        built.Pipeline.reset();
        built.Error = "Error in the pipeline description: it must not name its own "
                      "\"sink\", \"format\" or \"convert\" elements";
        return built;
    }
    TGstPtr<GstPad> input(gst_element_get_static_pad(built.Converter.get(), "sink"));
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_BUFFER, StampOnArrival, nullptr, nullptr);
    gst_pad_add_probe(input.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, KeepReconfigureInTail,
                      nullptr, nullptr);
    // The formats the frame step, the display and the encoders read as they are: the
    // converter and the scaler pass such frames through untouched at the source's size,
    // and convert only what comes in another format.
    const TCapsPtr formats =
        CapsFromText(QStringLiteral("video/x-raw,format=(string){I420,NV12,BGR,GRAY8}"));
    // Files play at their own rate; live sources hand over each frame as it comes.
    const bool sync = source.Kind == TSourceKind::File || source.Kind == TSourceKind::Launch;
    g_object_set(built.Sink.get(), "caps", formats.get(), "max-buffers", 2u, "drop", TRUE, "sync",
                 sync, "emit-signals", FALSE, nullptr);
    // Every reader of the frames maps them as video frames: the decoder's own
    // pictures come through as they are, without a copy.
    ReadsVideoMeta(built.Sink.get());
    return built;
}
