#include "capture/GstDriver.h"

#include "capture/Catalog.h"
#include "capture/FrameExchange.h"
#include "capture/IncomingLimit.h"
#include "capture/NetworkProbe.h"
#include "capture/PipelineWorker.h"
#include "capture/PlatformTypes.h"
#include "capture/RtspReplyLimit.h"
#include "capture/SourceControls.h"
#include "capture/SourceProblems.h"
#include "capture/VideoFormats.h"

#include <QFormLayout>
#include <QLabel>
#include <QUrl>

#include <gst/app/gstappsink.h>
#include <gst/pbutils/missing-plugins.h>

#include <malloc.h>

#include <algorithm>
#include <mutex>
#include <utility>

using namespace std::chrono_literals;

namespace {

// How long a network source may go without a frame before it counts as gone.
constexpr auto NetworkStallLimit = 4s;
// How long a source may take to deliver its first frame.
constexpr auto FirstFrameLimit = 10s;
constexpr int LongestBackoffSeconds = 30;

TSourceClass ClassOf(const TSource& source) {
    switch (source.Kind) {
    case TSourceKind::File:
        return TSourceClass::File;
    case TSourceKind::Url:
        return TSourceClass::Network;
    case TSourceKind::Camera:
        return TSourceClass::Camera;
    default:
        return TSourceClass::Other;
    }
}

// What the user calls the source in a message: a file's path, a stream's address.
std::string ShortName(const TSource& source) {
    return source.Kind == TSourceKind::File || source.Kind == TSourceKind::Url ? source.Location
                                                                               : source.Name;
}

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

// What the pipeline's threads and the worker share with the driver.
struct TSourceSession : std::enable_shared_from_this<TSourceSession> {
    TSource Source;
    QString Name;
    TGstPtr<GstElement> Pipeline; // made, used and torn down on the worker thread
    std::shared_ptr<TFrameExchange> Exchange;
    std::shared_ptr<TPipelineWorker> Worker;
    std::shared_ptr<TIncomingLimit> Incoming; // null for sources without one
    std::shared_ptr<std::atomic<bool>> Looping;
    std::atomic<bool> Stopped{false};
    std::atomic<bool> Absent{false}; // the camera looked for is not there

    std::mutex Mutex; // guards the fields below
    std::string Missing;
    bool RetryPending = false;
    int BackoffSeconds = 1;
    int FailureWeight = 0; // how much the failure reported says: 0 none, 1 generic ... 3
    // Set on the worker once the pipeline is made, for the GUI thread's requests.
    TGstPtr<GstElement> FormatFilter;
    TGstPtr<GstElement> SourceElement;
    TCapsPtr WantedCaps; // a format asked for before the pipeline was made
    TSource Found;       // the camera found for a driver of the first camera

    static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer self);
    void Handle(GstMessage* message);
    bool FindCamera();
    void Build();
    void Play();
    void TearDown();
    void SetCaps(TCapsPtr caps);
    TGstPtr<GstElement> SourceElementRef();
    // The camera found for a driver of the first camera, else `source`.
    TSource FoundOr(const TSource& source);
    // `problem` names what the source did wrong; without it the connection failed or was lost.
    void ConnectionFailed(const std::string& detail, const QString& problem = {});
    void PartTooLarge();
    QString Unreachable(const std::string& detail) const;
    QString ReplyTooLarge() const;
};

GstBusSyncReply TSourceSession::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    // Everything is handled here, so nothing piles up on the bus. A handler that drops a
    // message owns it: each message holds its source element (and through it the whole
    // torn-down source of a reconnection, sockets included) until it is released.
    const TMessagePtr owned(message);
    (*static_cast<std::shared_ptr<TSourceSession>*>(self))->Handle(message);
    return GST_BUS_DROP;
}

// Runs on the thread that posted the message.
void TSourceSession::Handle(GstMessage* message) {
    if (Stopped) {
        return;
    }
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* rawError = nullptr;
        gchar* rawDebug = nullptr;
        gst_message_parse_error(message, &rawError, &rawDebug);
        const TErrorPtr error(rawError);
        const TGStringPtr debug(rawDebug);
        GST_CAT_WARNING_OBJECT(stirwatch_debug, GST_MESSAGE_SRC(message), "error: %s (%s)",
                               error ? error->message : "unknown error", debug ? debug.get() : "");
        std::string missing;
        {
            std::lock_guard lock(Mutex);
            missing = Missing;
        }
        // Several errors follow one another: the one that says most is kept. A missing
        // plug-in says most; "Internal data stream error" only follows what happened.
        const bool generic =
            error && error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED;
        if (Source.Network() && missing.empty()) {
            // Refused, timed out, gone, or nothing usable came: tried again later.
            ConnectionFailed(error && !generic ? error->message : "",
                             IsRtspReplyRefusal(debug.get()) ? ReplyTooLarge() : QString());
            break;
        }
        const int weight = !missing.empty() ? 3 : generic ? 1 : 2;
        {
            std::lock_guard lock(Mutex);
            if (weight <= FailureWeight) {
                break;
            }
            FailureWeight = weight;
        }
        const std::string text = DescribeError(error.get(), debug ? debug.get() : "",
                                               ClassOf(Source), ShortName(Source), missing);
        Exchange->SetState(TSourceState::Failed, QString::fromStdString(text),
                           IDS_CAP_STAT_STREAM_ERROR);
        break;
    }
    case GST_MESSAGE_EOS:
        if (Source.Kind == TSourceKind::File && *Looping) {
            Worker->Post([self = shared_from_this()] {
                if (!self->Stopped) {
                    gst_element_seek_simple(
                        self->Pipeline.get(), GST_FORMAT_TIME,
                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
                }
            });
        } else if (Source.Network()) {
            ConnectionFailed("the stream ended");
        } else {
            Exchange->SetState(TSourceState::Ended, QStringLiteral("End of stream"),
                               IDS_CAP_STAT_STREAM_ERROR);
        }
        break;
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message)) {
            const QString description =
                TakeGString(gst_missing_plugin_message_get_description(message));
            const QString detail =
                TakeGString(gst_missing_plugin_message_get_installer_detail(message));
            std::lock_guard lock(Mutex);
            if (Missing.empty()) {
                Missing = MissingPluginText(description.toStdString(), detail.toStdString());
            }
        }
        break;
    default:
        break;
    }
}

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
                alive->PartTooLarge();
            }
        });
        if (!Incoming->Watch(built.SourceElement.get(), built.Converter.get())) {
            Incoming.reset();
        }
    }
    TGstPtr<GstBus> bus(gst_element_get_bus(built.Pipeline.get()));
    gst_bus_set_sync_handler(bus.get(), &TSourceSession::OnBusMessage,
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
            QStringLiteral("Cannot start %1").arg(QString::fromStdString(ShortName(Source))),
            IDS_CAP_STAT_STREAM_ERROR);
    }
}

// Why a network source could not be reached, tested on the worker thread.
QString TSourceSession::Unreachable(const std::string& detail) const {
    const QUrl url(QString::fromStdString(Source.Location));
    const int defaultPort = url.scheme() == QLatin1String("rtsp")    ? 554
                            : url.scheme() == QLatin1String("https") ? 443
                                                                     : 80;
    const QString host = url.host();
    const int port = url.port(defaultPort);
    const QString where = QStringLiteral("%1:%2").arg(host).arg(port);
    switch (ProbeTcp(host.toStdString(), port, 1500ms)) {
    case TReachability::Refused:
        return QStringLiteral("Connection refused by %1").arg(where);
    case TReachability::TimedOut:
        return QStringLiteral("Connection timed out: %1").arg(where);
    case TReachability::Open:
        if (detail.empty()) {
            // The server takes the connection, and no error says more.
            return QStringLiteral("No picture from %1: the server accepts the connection but "
                                  "sends no video")
                .arg(where);
        }
        [[fallthrough]];
    default:
        return QStringLiteral("Cannot connect to %1 (%2)")
            .arg(QString::fromStdString(Source.Location), detail.empty()
                                                              ? QStringLiteral("no picture arrived")
                                                              : QString::fromStdString(detail));
    }
}

// Streaming thread: the source sent more than any picture needs without a picture
// coming of it. The connection is dropped, which also drops what is held of the part.
void TSourceSession::PartTooLarge() {
    ConnectionFailed("", QStringLiteral("Frame too large: over %1 MB without an end from %2")
                             .arg(TIncomingLimit::LargestPart >> 20)
                             .arg(QString::fromStdString(Source.Location)));
}

// Streaming thread: an RTSP server's reply was longer than any camera's.
QString TSourceSession::ReplyTooLarge() const {
    return QStringLiteral("RTSP reply too large: over %1 MB from %2")
        .arg(LargestRtspReply >> 20)
        .arg(QString::fromStdString(Source.Location));
}

// Any thread: a network source failed or went away; it is tried again after a back-off.
void TSourceSession::ConnectionFailed(const std::string& detail, const QString& problem) {
    int delay = 0;
    bool wasLive = false;
    {
        std::lock_guard lock(Mutex);
        if (Stopped || RetryPending) {
            return;
        }
        RetryPending = true;
        wasLive = Exchange->FramesSinceConnecting() > 0;
        // A source that misbehaves is given ever more time, whatever it sent before.
        if (wasLive && problem.isEmpty()) {
            BackoffSeconds = 1;
        }
        delay = BackoffSeconds;
        BackoffSeconds = std::min(BackoffSeconds * 2, LongestBackoffSeconds);
    }
    Worker->Post([self = shared_from_this(), detail, problem, delay, wasLive] {
        if (self->Stopped) {
            return;
        }
        const QString what = !problem.isEmpty() ? problem
                             : wasLive ? QStringLiteral("Connection lost: %1").arg(self->Name)
                                       : self->Unreachable(detail);
        self->Exchange->SetState(TSourceState::Lost,
                                 QStringLiteral("%1 - trying again in %2 s").arg(what).arg(delay),
                                 IDS_CAP_STAT_SOURCE_LOST);
        if (self->Pipeline) {
            SetState(self->Pipeline.get(), GST_STATE_NULL);
            ReturnFreedMemory();
        }
        self->Worker->Post(
            [self] {
                if (self->Stopped) {
                    return;
                }
                {
                    std::lock_guard lock(self->Mutex);
                    self->RetryPending = false;
                }
                if (self->Incoming) {
                    self->Incoming->Reset();
                }
                self->Exchange->SetState(TSourceState::Connecting,
                                         QStringLiteral("Reconnecting to %1").arg(self->Name),
                                         IDS_CAP_STAT_SOURCE_LOST);
                self->Play();
            },
            std::chrono::seconds(delay));
    });
}

TGstDriver::TGstDriver(TSource source)
    : FSource(std::move(source)),
      FExchange(std::make_shared<TFrameExchange>(QString::fromStdString(FSource.Name))),
      FLooping(std::make_shared<std::atomic<bool>>(true)) {}

TGstDriver::~TGstDriver() {
    Stop();
}

// A file that is not there or cannot be read is refused at once; everything else
// is made and started on the session's worker, and says how it went through the
// exchange.
bool TGstDriver::Start() {
    if (FSession) {
        return true;
    }
    const std::string problem = SourceFileProblem(FSource);
    if (!problem.empty()) {
        FExchange->SetState(TSourceState::Failed, QString::fromStdString(problem),
                            IDS_CAP_STAT_STREAM_ERROR);
        return false;
    }
    auto session = std::make_shared<TSourceSession>();
    session->Source = FSource;
    session->Name = QString::fromStdString(FSource.Name);
    session->Exchange = FExchange;
    session->Worker = std::make_shared<TPipelineWorker>();
    session->Looping = FLooping;
    if (FSource.Kind == TSourceKind::TestScene) {
        FFormat = {640, 480, 30, SizeCaps(640, 480, 30)};
    }
    FSession = session;
    session->Worker->Post([session] {
        session->Build();
        session->Play();
    });
    return true;
}

void TGstDriver::Stop() {
    StopRecording();
    if (!FSession) {
        return;
    }
    FExchange->Detach();
    const std::shared_ptr<TSourceSession> session = std::move(FSession);
    session->Stopped = true;
    session->Worker->Post([session] { session->TearDown(); });
    // A local pipeline is down in a few milliseconds; a network source that hangs
    // is left to finish in the background.
    session->Worker->Finish(80ms);
}

void TGstDriver::SetFrameNotifier(std::function<void()> notify) {
    FExchange->SetFrameNotifier(std::move(notify));
}

void TGstDriver::SetStatusNotifier(std::function<void()> notify) {
    FExchange->SetStatusNotifier(std::move(notify));
}

void TGstDriver::SetFrameTap(TFrameTap* tap) {
    FExchange->SetTap(tap);
}

std::uint64_t TGstDriver::NewestFrameNumber() const {
    return FExchange->NewestNumber();
}

bool TGstDriver::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) {
    return FExchange->WaitForFrameAfter(after, limit);
}

std::uint64_t TGstDriver::WithNewestFrame(const std::function<void(const QImage&)>& use) {
    return FExchange->WithNewest(use);
}

std::uint64_t TGstDriver::WithNewestView(const std::function<void(const TFrameView&)>& use) {
    return FExchange->WithNewestView(use);
}

std::uint64_t TGstDriver::CopyNewestFrame(QImage& target) {
    return FExchange->CopyNewest(target);
}

std::vector<TDriverStatus> TGstDriver::TakeStatus() {
    return FExchange->TakeStatus();
}

TSourceSignal TGstDriver::Signal() const {
    return FExchange->Signal();
}

void TGstDriver::Watch() {
    if (!FSession) {
        return;
    }
    const auto quiet = FExchange->CheckStall(TFrameExchange::TClock::now());
    const TSourceSignal signal = FExchange->Signal();
    if (FSource.Network()) {
        if ((signal.State == TSourceState::Stalled && quiet > NetworkStallLimit) ||
            (signal.State == TSourceState::Connecting && quiet > FirstFrameLimit)) {
            FSession->ConnectionFailed({}); // no picture arrived, and no error said why
        }
    } else if (signal.State == TSourceState::Connecting && quiet > FirstFrameLimit &&
               signal.Reason.isEmpty()) {
        FExchange->SetState(TSourceState::Connecting,
                            QStringLiteral("No frames from %1 yet").arg(FSession->Name),
                            IDS_CAP_STAT_SOURCE_LOST);
    }
}

std::vector<TVideoFormat> TGstDriver::Formats() const {
    return SourceFormats(FSession ? FSession->FoundOr(FSource) : FSource);
}

bool TGstDriver::Absent() const {
    return FSession && FSession->Absent;
}

std::string TGstDriver::FoundName() const {
    return FSession ? FSession->FoundOr({}).Name : std::string();
}

TVideoFormat TGstDriver::CurrentFormat() const {
    TVideoFormat current = FFormat;
    int width = 0;
    int height = 0;
    int rate = 0;
    FExchange->NewestFormat(width, height, rate);
    if (width > 0) {
        current.Width = width;
        current.Height = height;
        current.FramesPerSecond = rate;
    }
    return current;
}

// The new size and rate are set on the capsfilter behind the scaling and rate
// conversion: the pipeline renegotiates while it runs and the source goes on.
bool TGstDriver::SetFormat(const TVideoFormat& format) {
    if (!FSession || !EnsureGStreamer()) {
        return false;
    }
    // The size goes on the capsfilter behind the scaling. The rate is a ceiling on the
    // frames handed over, which also holds for sources without a fixed rate (HTTP
    // cameras send frames as they come; a rate conversion cannot negotiate with them).
    TCapsPtr caps = CapsFromText(
        format.Width > 0 && format.Height > 0
            ? QStringLiteral("video/x-raw,width=%1,height=%2").arg(format.Width).arg(format.Height)
            : QStringLiteral("video/x-raw"));
    if (!caps) {
        return false;
    }
    FFormat = format;
    FExchange->ExpectSize(format.Width, format.Height,
                          QStringLiteral("Video format: %1").arg(format.Text()));
    FExchange->SetRateLimit(format.FramesPerSecond);
    FSession->SetCaps(std::move(caps));
    return true;
}

TGstPtr<GstElement> TGstDriver::SourceElement() const {
    return FSession ? FSession->SourceElementRef() : nullptr;
}

void TGstDriver::AddSourceControls(QWidget* dialog, QFormLayout* layout) {
    // Null until the pipeline is made: the source has no controls yet.
    const TGstPtr<GstElement> source = FSession ? FSession->SourceElementRef() : nullptr;
    switch (FSource.Kind) {
    case TSourceKind::TestScene:
        AddPatternControl(source.get(), dialog, layout);
        break;
    case TSourceKind::File:
        AddLoopControl(FLooping, dialog, layout);
        break;
    case TSourceKind::Camera:
        AddColorBalanceControls(source.get(), dialog, layout);
        break;
    default:
        break;
    }
    if (layout->rowCount() == 0) {
        layout->addRow(new QLabel(QStringLiteral("This source has no controls."), dialog));
    }
}

bool TGstDriver::StartRecording(const std::string& fileName, int framesPerSecond) {
    if (!FSession || FExchange->Recording()) {
        return false;
    }
    FRecordingError.clear();
    std::unique_ptr<TRecorder> recorder =
        TRecorder::Start(fileName, framesPerSecond, FRecordingError);
    if (!recorder) {
        return false;
    }
    FLastRecorded = 0;
    FLastDropped = 0;
    FExchange->SetRecorder(std::move(recorder));
    return true;
}

void TGstDriver::StopRecording() {
    if (std::unique_ptr<TRecorder> recorder = FExchange->TakeRecorder()) {
        // Finishes the file; the streaming threads go on meanwhile.
        recorder->Finish();
        FLastRecorded = recorder->Frames();
        FLastDropped = recorder->Dropped();
    }
}

bool TGstDriver::Recording() const {
    return FExchange->Recording();
}

std::uint64_t TGstDriver::RecordedFrames() const {
    return FExchange->Recording() ? FExchange->RecordedFrames() : FLastRecorded;
}

void TGstDriver::RecordNewestFrame() {
    FExchange->WithRecorder([](TRecorder& recorder) { recorder.AdmitNewest(); });
}

std::uint64_t TGstDriver::DroppedFrames() const {
    std::uint64_t dropped = FLastDropped;
    FExchange->WithRecorder([&dropped](TRecorder& recorder) { dropped = recorder.Dropped(); });
    return dropped;
}

std::string TGstDriver::RecordingError() {
    FExchange->WithRecorder([this](TRecorder& recorder) { FRecordingError = recorder.Error(); });
    return FRecordingError;
}
