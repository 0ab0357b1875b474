#include "capture/SourceSession.h"

#include "capture/Catalog.h"
#include "capture/FrameExchange.h"
#include "capture/IncomingLimit.h"
#include "capture/PipelineWorker.h"
#include "capture/PlatformTypes.h"

#include <gst/app/gstappsink.h>

#include <malloc.h>

namespace {

// Worker thread, after a source was torn down. Every reconnection runs on new
// streaming threads, and the C library gives threads heaps of their own that keep
// what was freed in them: without this the program grows by about a megabyte at
// each reconnection until every heap has had its turn.
void ReturnFreedMemory() {
    malloc_trim(0);
}

void DeleteSession(gpointer data) {
    delete static_cast<std::shared_ptr<TSourceSession>*>(data);
}

void DeleteExchange(gpointer data) {
    delete static_cast<std::shared_ptr<TFrameExchange>*>(data);
}

TFrameExchange& ExchangeOf(gpointer data) {
    return **static_cast<std::shared_ptr<TFrameExchange>*>(data);
}

GstFlowReturn NewSample(GstAppSink* sink, gpointer data) {
    const TSamplePtr sample(gst_app_sink_pull_sample(sink));
    if (sample) {
        ExchangeOf(data).Offer(sample.get());
    }
    return GST_FLOW_OK;
}

GstPadProbeReturn TapFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
        ExchangeOf(data).OfferToTap(pad, buffer);
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

// Worker thread, for a driver of the machine's first camera: waits for the camera
// monitor's list (seconds on a busy machine) and takes its first camera. With
// none, the source is absent.
bool TSourceSession::FindCamera() {
    const std::vector<TSource> cameras = MachineCameras();
    if (Stopped) {
        return false;
    }
    if (cameras.empty()) {
        Exchange->SetState(TSourceState::Failed, QStringLiteral("No camera found"),
                           IDS_CAP_STAT_STREAM_ERROR);
        Absent = true; // after the reason, which the window keeps
        return false;
    }
    Source = cameras.front();
    Exchange->Rename(QString::fromStdString(Source.Name));
    std::lock_guard lock(Mutex);
    Found = Source;
    return true;
}

// Worker thread: makes the pipeline (GStreamer's start, plug-ins loaded from disk,
// elements made, all slow on a busy machine) and wires it to the exchange and the bus.
void TSourceSession::Build() {
    if (Stopped) {
        return;
    }
    if (Source.Kind == TSourceKind::Camera && !Source.Device && !FindCamera()) {
        return;
    }
    TSourcePipeline built = BuildSourcePipeline(Source);
    if (!built.Pipeline) {
        Exchange->SetState(TSourceState::Failed, QString::fromStdString(built.Error),
                           IDS_CAP_STAT_STREAM_ERROR);
        return;
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(built.Sink.get()), &callbacks,
                               new std::shared_ptr<TFrameExchange>(Exchange), DeleteExchange);
    // The tap takes the decoded frames before any conversion: the event encoder
    // reads them as the decoder made them.
    TGstPtr<GstPad> decoded(gst_element_get_static_pad(built.Converter.get(), "sink"));
    gst_pad_add_probe(decoded.get(), GST_PAD_PROBE_TYPE_BUFFER, TapFrame,
                      new std::shared_ptr<TFrameExchange>(Exchange), DeleteExchange);
    if (Source.Network()) {
        Incoming = TIncomingLimit::Make(TIncomingLimit::LargestPart, [weak = weak_from_this()] {
            if (const auto alive = weak.lock()) {
                alive->Faults.PartTooLarge();
            }
        });
        if (!Incoming->Watch(built.SourceElement.get(), built.Converter.get())) {
            Incoming.reset();
        }
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(built.Pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &TSourceFaults::OnBusMessage,
                             new std::shared_ptr<TSourceSession>(shared_from_this()),
                             DeleteSession);
    std::lock_guard lock(Mutex);
    FormatFilter = std::move(built.FormatFilter);
    SourceElement = std::move(built.SourceElement);
    if (WantedCaps) {
        g_object_set(FormatFilter.get(), "caps", WantedCaps.get(), nullptr);
    }
    Pipeline = std::move(built.Pipeline);
}

// Worker thread, once the driver let go.
void TSourceSession::TearDown() {
    if (!Pipeline) {
        return;
    }
    SetState(Pipeline.get(), GST_STATE_NULL);
    // Drops the bus's hold on the session; the pipeline goes with the last owner.
    TGstPtr<GstBus> bus(gst_element_get_bus(Pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

// GUI thread: the size asked for goes to the pipeline now, or when it is made.
void TSourceSession::SetCaps(TCapsPtr caps) {
    TGstPtr<GstElement> filter;
    {
        std::lock_guard lock(Mutex);
        if (!FormatFilter) {
            WantedCaps = std::move(caps);
            return;
        }
        filter.reset(GST_ELEMENT(gst_object_ref(FormatFilter.get())));
    }
    g_object_set(filter.get(), "caps", caps.get(), nullptr);
}

TSource TSourceSession::FoundOr(const TSource& source) {
    std::lock_guard lock(Mutex);
    return Found.Device ? Found : source;
}

TGstPtr<GstElement> TSourceSession::SourceElementRef() {
    std::lock_guard lock(Mutex);
    return TGstPtr<GstElement>(SourceElement ? GST_ELEMENT(gst_object_ref(SourceElement.get()))
                                             : nullptr);
}

// Worker thread.
void TSourceSession::Play() {
    if (Stopped || !Pipeline) {
        return;
    }
    if (SetState(Pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE &&
        !Source.Network() && Exchange->Signal().State != TSourceState::Failed) {
        // Elements report their own errors on the bus; this is the last word if none did.
        Exchange->SetState(
            TSourceState::Failed,
            QStringLiteral("Cannot start %1").arg(QString::fromStdString(SourceShortName(Source))),
            IDS_CAP_STAT_STREAM_ERROR);
    }
}

// Worker thread.
void TSourceSession::SeekToStart() {
    if (!Stopped && Pipeline) {
        gst_element_seek_simple(Pipeline.get(), GST_FORMAT_TIME,
                                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
    }
}

// Worker thread.
void TSourceSession::Pause() {
    if (Pipeline) {
        SetState(Pipeline.get(), GST_STATE_NULL);
        ReturnFreedMemory();
    }
}
