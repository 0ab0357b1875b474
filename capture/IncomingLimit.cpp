#include "capture/IncomingLimit.h"

#include "capture/GstSupport.h"

namespace {

using TShared = std::shared_ptr<TIncomingLimit>;

void DeleteShared(gpointer data, GClosure* = nullptr) {
    delete static_cast<TShared*>(data);
}

void DeleteSharedData(gpointer data) {
    DeleteShared(data);
}

TIncomingLimit& LimitOf(gpointer data) {
    return **static_cast<TShared*>(data);
}

// The size of what a buffer probe sees: one buffer or a list of them.
std::uint64_t SizeOf(GstPadProbeInfo* info) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        buffer && (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER)) {
        return gst_buffer_get_size(buffer);
    }
    if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        list && (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST)) {
        return gst_buffer_list_calculate_size(list);
    }
    return 0;
}

bool HasClass(GstElement* element, const char* word) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    return klass && g_strstr_len(klass, -1, word);
}

bool IsRtspSource(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    return factory &&
           g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "rtspsrc") == 0;
}

// A jitter buffer of the RTP session manager: what it receives counts. It keeps
// no more than its latency's worth; this bounds what that cannot (a flood of
// packets that all claim the same time).
void OnJitterBuffer(GstElement*, GstElement* buffer, guint, guint, gpointer data) {
    const TGstPtr<GstPad> input(gst_element_get_static_pad(buffer, "sink"));
    if (input) {
        LimitOf(data).CountAt(input.get());
    }
}

void OnSessionManager(GstElement*, GstElement* manager, gpointer data) {
    if (g_signal_lookup("new-jitterbuffer", G_OBJECT_TYPE(manager)) != 0) {
        g_signal_connect_data(manager, "new-jitterbuffer", G_CALLBACK(OnJitterBuffer),
                              new TShared(LimitOf(data).shared_from_this()), DeleteShared,
                              GConnectFlags(0));
    }
}

// uridecodebin made the source of a connection.
void OnSourceMade(GstElement*, GstElement* source, gpointer data) {
    if (IsRtspSource(source)) {
        g_signal_connect_data(source, "new-manager", G_CALLBACK(OnSessionManager),
                              new TShared(LimitOf(data).shared_from_this()), DeleteShared,
                              GConnectFlags(0));
    }
}

// A depayloader puts a whole frame together from the packets: the frame it hands
// to the decoder is checked as a whole.
void OnDecodingElement(GstBin*, GstBin*, GstElement* element, gpointer data) {
    if (!HasClass(element, "Depayloader")) {
        return;
    }
    const TGstPtr<GstPad> output(gst_element_get_static_pad(element, "src"));
    if (output) {
        LimitOf(data).CapAt(output.get());
    }
}

} // namespace

std::shared_ptr<TIncomingLimit> TIncomingLimit::Make(std::uint64_t limit,
                                                     std::function<void()> exceeded) {
    auto guard = std::make_shared<TIncomingLimit>();
    guard->FLimit = limit;
    guard->FExceeded = std::move(exceeded);
    return guard;
}

bool TIncomingLimit::Watch(GstElement* source, GstElement* decoded) {
    const TGstPtr<GstPad> input(decoded ? gst_element_get_static_pad(decoded, "sink") : nullptr);
    if (!source || !input) {
        return false;
    }
    if (const TGstPtr<GstPad> output(gst_element_get_static_pad(source, "src")); output) {
        CountAt(output.get());
    } else if (g_signal_lookup("source-setup", G_OBJECT_TYPE(source)) != 0) {
        WatchRtspSource(source);
    } else {
        return false;
    }
    SettleAt(input.get());
    return true;
}

void TIncomingLimit::WatchRtspSource(GstElement* uriDecoder) {
    g_signal_connect_data(uriDecoder, "source-setup", G_CALLBACK(OnSourceMade),
                          new TShared(shared_from_this()), DeleteShared, GConnectFlags(0));
    g_signal_connect_data(uriDecoder, "deep-element-added", G_CALLBACK(OnDecodingElement),
                          new TShared(shared_from_this()), DeleteShared, GConnectFlags(0));
}

void TIncomingLimit::CountAt(GstPad* pad) {
    gst_pad_add_probe(
        pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            return LimitOf(data).Arrived(SizeOf(info));
        },
        new TShared(shared_from_this()), DeleteSharedData);
}

void TIncomingLimit::SettleAt(GstPad* pad) {
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            LimitOf(data).FPending = 0;
            return GST_PAD_PROBE_OK;
        },
        new TShared(shared_from_this()), DeleteSharedData);
}

void TIncomingLimit::CapAt(GstPad* pad) {
    gst_pad_add_probe(
        pad, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            return LimitOf(data).Assembled(SizeOf(info));
        },
        new TShared(shared_from_this()), DeleteSharedData);
}

void TIncomingLimit::Reset() {
    FPending = 0;
    FTripped = false;
}

// Streaming thread of the source.
GstPadProbeReturn TIncomingLimit::Arrived(std::uint64_t size) {
    if (FTripped) {
        return GST_PAD_PROBE_DROP;
    }
    if ((FPending += size) <= FLimit) {
        return GST_PAD_PROBE_OK;
    }
    Exceeded();
    return GST_PAD_PROBE_DROP;
}

// Streaming thread of a depayloader.
GstPadProbeReturn TIncomingLimit::Assembled(std::uint64_t size) {
    if (FTripped) {
        return GST_PAD_PROBE_DROP;
    }
    if (size <= FLimit) {
        return GST_PAD_PROBE_OK;
    }
    Exceeded();
    return GST_PAD_PROBE_DROP;
}

void TIncomingLimit::Exceeded() {
    if (!FTripped.exchange(true) && FExceeded) {
        FExceeded();
    }
}
