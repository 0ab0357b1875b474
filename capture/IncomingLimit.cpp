#include "capture/IncomingLimit.h"

#include "capture/GstSupport.h"

namespace {

using TShared = std::shared_ptr<TIncomingLimit>;

void DeleteShared(gpointer data) {
    delete static_cast<TShared*>(data);
}

} // namespace

std::shared_ptr<TIncomingLimit> TIncomingLimit::Install(GstElement* source, GstElement* decoded,
                                                        std::uint64_t limit,
                                                        std::function<void()> exceeded) {
    const TGstPtr<GstPad> output(source ? gst_element_get_static_pad(source, "src") : nullptr);
    const TGstPtr<GstPad> input(decoded ? gst_element_get_static_pad(decoded, "sink") : nullptr);
    if (!output || !input) {
        return nullptr;
    }
    auto guard = std::make_shared<TIncomingLimit>();
    guard->FLimit = limit;
    guard->FExceeded = std::move(exceeded);
    gst_pad_add_probe(
        output.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer data) {
            return (*static_cast<TShared*>(data))->Arrived(GST_PAD_PROBE_INFO_BUFFER(info));
        },
        new TShared(guard), DeleteShared);
    gst_pad_add_probe(
        input.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            (*static_cast<TShared*>(data))->FPending = 0;
            return GST_PAD_PROBE_OK;
        },
        new TShared(guard), DeleteShared);
    return guard;
}

void TIncomingLimit::Reset() {
    FPending = 0;
    FTripped = false;
}

// Streaming thread of the source.
GstPadProbeReturn TIncomingLimit::Arrived(GstBuffer* buffer) {
    if (FTripped) {
        return GST_PAD_PROBE_DROP;
    }
    const std::uint64_t pending = FPending += buffer ? gst_buffer_get_size(buffer) : 0;
    if (pending <= FLimit) {
        return GST_PAD_PROBE_OK;
    }
    if (!FTripped.exchange(true) && FExceeded) {
        FExceeded();
    }
    return GST_PAD_PROBE_DROP;
}
