#include "capture/SourceFaults.h"

#include "capture/FrameExchange.h"
#include "capture/IncomingLimit.h"
#include "capture/NetworkProbe.h"
#include "capture/PipelineWorker.h"
#include "capture/PlatformTypes.h"
#include "capture/RtspReplyLimit.h"
#include "capture/SourceProblems.h"
#include "capture/SourceSession.h"

#include <QUrl>

#include <gst/pbutils/missing-plugins.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

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

} // namespace

std::string SourceShortName(const TSource& source) {
    return source.Kind == TSourceKind::File || source.Kind == TSourceKind::Url ? source.Location
                                                                               : source.Name;
}

GstBusSyncReply TSourceFaults::OnBusMessage(GstBus*, GstMessage* message, gpointer session) {
    // Everything is handled here, so nothing piles up on the bus. A handler that drops a
    // message owns it: each message holds its source element (and through it the whole
    // torn-down source of a reconnection, sockets included) until it is released.
    const TMessagePtr owned(message);
    (*static_cast<std::shared_ptr<TSourceSession>*>(session))->Faults.Handle(message);
    return GST_BUS_DROP;
}

// Runs on the thread that posted the message.
void TSourceFaults::Handle(GstMessage* message) {
    if (FSession.Stopped) {
        return;
    }
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        Error(message);
        break;
    case GST_MESSAGE_EOS:
        EndOfStream();
        break;
    case GST_MESSAGE_ELEMENT:
        if (gst_is_missing_plugin_message(message)) {
            MissingPlugin(message);
        }
        break;
    default:
        break;
    }
}

void TSourceFaults::Error(GstMessage* message) {
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &rawError, &rawDebug);
    const TErrorPtr error(rawError);
    const TGStringPtr debug(rawDebug);
    GST_CAT_WARNING_OBJECT(stirwatch_debug, GST_MESSAGE_SRC(message), "error: %s (%s)",
                           error ? error->message : "unknown error", debug ? debug.get() : "");
    std::string missing;
    {
        const std::lock_guard lock(FMutex);
        missing = FMissing;
    }
    // Several errors follow one another: the one that says most is kept. A missing
    // plug-in says most; "Internal data stream error" only follows what happened.
    const bool generic =
        error && error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED;
    const TSource& source = FSession.Source;
    if (source.Network() && missing.empty()) {
        // Refused, timed out, gone, or nothing usable came: tried again later.
        ConnectionFailed(error && !generic ? error->message : "",
                         IsRtspReplyRefusal(debug.get()) ? ReplyTooLarge() : QString());
        return;
    }
    const int weight = !missing.empty() ? 3 : generic ? 1 : 2;
    {
        const std::lock_guard lock(FMutex);
        if (weight <= FFailureWeight) {
            return;
        }
        FFailureWeight = weight;
    }
    const std::string text = DescribeError(error.get(), debug ? debug.get() : "", ClassOf(source),
                                           SourceShortName(source), missing);
    FSession.Exchange->SetState(TSourceState::Failed, QString::fromStdString(text),
                                IDS_CAP_STAT_STREAM_ERROR);
}

void TSourceFaults::EndOfStream() {
    if (FSession.Source.Kind == TSourceKind::File && *FSession.Looping) {
        FSession.Worker->Post([self = FSession.shared_from_this()] { self->SeekToStart(); });
    } else if (FSession.Source.Network()) {
        ConnectionFailed("the stream ended");
    } else {
        FSession.Exchange->SetState(TSourceState::Ended, QStringLiteral("End of stream"),
                                    IDS_CAP_STAT_STREAM_ERROR);
    }
}

void TSourceFaults::MissingPlugin(GstMessage* message) {
    const QString description = TakeGString(gst_missing_plugin_message_get_description(message));
    const QString detail = TakeGString(gst_missing_plugin_message_get_installer_detail(message));
    const std::lock_guard lock(FMutex);
    if (FMissing.empty()) {
        FMissing = MissingPluginText(description.toStdString(), detail.toStdString());
    }
}

// Why a network source could not be reached, tested on the worker thread.
QString TSourceFaults::Unreachable(const std::string& detail) const {
    const QUrl url(QString::fromStdString(FSession.Source.Location));
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
            .arg(QString::fromStdString(FSession.Source.Location),
                 detail.empty() ? QStringLiteral("no picture arrived")
                                : QString::fromStdString(detail));
    }
}

// Streaming thread: the source sent more than any picture needs without a picture
// coming of it. The connection is dropped, which also drops what is held of the part.
void TSourceFaults::PartTooLarge() {
    ConnectionFailed("", QStringLiteral("Frame too large: over %1 MB without an end from %2")
                             .arg(TIncomingLimit::LargestPart >> 20)
                             .arg(QString::fromStdString(FSession.Source.Location)));
}

// Streaming thread: an RTSP server's reply was longer than any camera's.
QString TSourceFaults::ReplyTooLarge() const {
    return QStringLiteral("RTSP reply too large: over %1 MB from %2")
        .arg(LargestRtspReply >> 20)
        .arg(QString::fromStdString(FSession.Source.Location));
}

// Any thread: the source is tried again after a back-off.
void TSourceFaults::ConnectionFailed(const std::string& detail, const QString& problem) {
    int delay = 0;
    bool wasLive = false;
    {
        const std::lock_guard lock(FMutex);
        if (FSession.Stopped || FRetryPending) {
            return;
        }
        FRetryPending = true;
        wasLive = FSession.Exchange->FramesSinceConnecting() > 0;
        // A source that misbehaves is given ever more time, whatever it sent before.
        if (wasLive && problem.isEmpty()) {
            FBackoffSeconds = 1;
        }
        delay = FBackoffSeconds;
        FBackoffSeconds = std::min(FBackoffSeconds * 2, LongestBackoffSeconds);
    }
    FSession.Worker->Post([self = FSession.shared_from_this(), detail, problem, delay, wasLive] {
        if (self->Stopped) {
            return;
        }
        const QString what = !problem.isEmpty() ? problem
                             : wasLive ? QStringLiteral("Connection lost: %1").arg(self->Name)
                                       : self->Faults.Unreachable(detail);
        self->Exchange->SetState(TSourceState::Lost,
                                 QStringLiteral("%1 - trying again in %2 s").arg(what).arg(delay),
                                 IDS_CAP_STAT_SOURCE_LOST);
        self->Pause();
        self->Worker->Post([self] { self->Faults.Retry(); }, std::chrono::seconds(delay));
    });
}

// Worker thread, once the back-off is over.
void TSourceFaults::Retry() {
    if (FSession.Stopped) {
        return;
    }
    {
        const std::lock_guard lock(FMutex);
        FRetryPending = false;
    }
    if (FSession.Incoming) {
        FSession.Incoming->Reset();
    }
    FSession.Exchange->SetState(TSourceState::Connecting,
                                QStringLiteral("Reconnecting to %1").arg(FSession.Name),
                                IDS_CAP_STAT_SOURCE_LOST);
    FSession.Play();
}
