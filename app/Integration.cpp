#include "app/Integration.h"

#include "app/TrayNotifier.h"
#include "capture/CaptureWindow.h"
#include "capture/VideoCap.h"
#include "integration/CommandRunner.h"
#include "integration/Payloads.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

constexpr std::chrono::milliseconds PollInterval{500};

} // namespace

TIntegration::TIntegration(QObject* parent)
    : QObject(parent), FStartCommand(new TCommandRunner("on event start", this)),
      FEndCommand(new TCommandRunner("on event end", this)),
      FCameraCommand(new TCommandRunner("on camera lost/back", this)),
      FPollTimer(new QTimer(this)) {
    for (TCommandRunner* runner : {FStartCommand, FEndCommand, FCameraCommand}) {
        connect(runner, &TCommandRunner::Failed, this, &TIntegration::Status);
    }
    FPollTimer->setInterval(PollInterval);
    connect(FPollTimer, &QTimer::timeout, this, &TIntegration::Poll);
}

TIntegration::~TIntegration() {
    Stop();
}

bool TIntegration::Enabled() const {
    return FCommandsOn || FMqttOn || FTray;
}

std::string TIntegration::Camera() const {
    if (!FCameraName.empty()) {
        return FCameraName;
    }
    const TCaptureWindow* window = TCaptureWindow::FromHandle(CaptureWindow);
    return window && window->DriverConnected() ? window->SourceName().toStdString() : std::string();
}

void TIntegration::SetWatching(std::function<bool()> watching) {
    FWatching = std::move(watching);
}

void TIntegration::Apply(const TConfigForm& options) {
    FCameraName = options.CameraNameEdit->text().trimmed().toStdString();
    const std::chrono::seconds limit(options.CmdLimitEdit->Value());
    const std::pair<TCommandRunner*, QLineEdit*> commands[] = {
        {FStartCommand, options.StartCmdEdit},
        {FEndCommand, options.EndCmdEdit},
        {FCameraCommand, options.CameraCmdEdit}};
    FCommandsOn = false;
    for (const auto& [runner, edit] : commands) {
        runner->SetCommandLine(edit->text().toStdString());
        runner->SetTimeLimit(limit);
        FCommandsOn = FCommandsOn || !edit->text().trimmed().isEmpty();
    }
    FTracker.SetHold(std::max<std::chrono::milliseconds>(
        std::chrono::seconds(1), std::chrono::seconds(options.PostRollEdit->Value())));

    FMqttOn = options.MqttCheck->isChecked();
    FMqttWanted = TMqttSettings{};
    FMqttWanted.Host = options.MqttHostEdit->text().trimmed().toStdString();
    FMqttWanted.Port = options.MqttPortEdit->Value();
    FMqttWanted.User = options.MqttUserEdit->text().toStdString();
    FMqttWanted.Password = options.MqttPasswordEdit->text().toStdString();
    FMqttWanted.Tls = options.MqttTlsCheck->isChecked();
    SyncMqtt();

    if (options.TrayCheck->isChecked() && !FTray) {
        FTray = new TTrayNotifier(this);
        connect(FTray, &TTrayNotifier::Clicked, this, &TIntegration::OpenFolderRequested);
    } else if (!options.TrayCheck->isChecked() && FTray) {
        std::unique_ptr<TTrayNotifier> gone(FTray);
        FTray = nullptr;
    }

    if (Enabled()) {
        FPollTimer->start();
        Poll();
    } else {
        FPollTimer->stop();
        FTracker.Close(TInstant::Now()); // nobody left to tell
    }
}

// The publisher follows the options and the camera's name; without a name
// yet (no source connected, none set) nothing is announced.
void TIntegration::SyncMqtt() {
    if (!FMqttOn) {
        FMqtt.reset();
        return;
    }
    TMqttSettings wanted = FMqttWanted;
    wanted.Camera = Camera();
    if (wanted.Camera.empty() || (FMqtt && FMqtt->Settings() == wanted)) {
        return;
    }
    FMqtt.reset();
    // Reports come from the connection's thread; the status line is written
    // on the GUI thread, and not at all once this object is gone.
    QPointer<TIntegration> self(this);
    auto sink = [self](const std::string& text) {
        const QString message = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            self.data(),
            [self, message] {
                if (self) {
                    emit self->Status(message);
                }
            },
            Qt::QueuedConnection);
    };
    try {
        FMqtt = std::make_unique<TMqttPublisher>(wanted, sink);
        FMqtt->SetMotion(FTracker.Open());
    } catch (const std::exception& error) {
        emit Status(QString::fromUtf8(error.what()));
    }
}

void TIntegration::FrameStep(bool automaticStep, bool movement, int percent) {
    if (Enabled() && automaticStep && movement) {
        Deliver(FTracker.Movement(TInstant::Now(), percent));
    }
}

void TIntegration::ClipStarted(const QString& path) {
    FTracker.ClipStarted(path.toStdString());
}

void TIntegration::ClipFinished(const QString& path) {
    Deliver(FTracker.ClipFinished(path.toStdString(), TInstant::Now()));
}

void TIntegration::Stop() {
    Deliver(FTracker.Close(TInstant::Now()));
    FPollTimer->stop();
    FMqtt.reset();
}

void TIntegration::Poll() {
    SyncMqtt();
    Deliver(FTracker.Poll(TInstant::Now()));
    WatchCamera();
    if (FTray) {
        using TState = TTrayNotifier::TState;
        const bool watching = FWatching && FWatching();
        FTray->SetState(FTracker.Open() ? TState::Recording
                                        : (watching ? TState::Watching : TState::Idle));
    }
}

// A source that was live and has no picture now is lost; a lost source with
// a picture again is back. Stopping the video loses nothing.
void TIntegration::WatchCamera() {
    const TCaptureWindow* window = TCaptureWindow::FromHandle(CaptureWindow);
    if (!window || !window->DriverConnected()) {
        FCameraLive = false;
        FCameraLost = false;
        return;
    }
    const QString reason = window->NoSignalReason();
    const bool live = reason.isEmpty();
    if (live == FCameraLive) {
        return;
    }
    FCameraLive = live;
    if (!live && !FCameraLost) {
        FCameraLost = true;
        FCameraCommand->Run(CameraPlaceholders(Camera(), true, reason.toStdString()));
    } else if (live && FCameraLost) {
        FCameraLost = false;
        FCameraCommand->Run(CameraPlaceholders(Camera(), false, {}));
    }
}

void TIntegration::Deliver(const std::vector<TEventNotice>& notices) {
    const std::string camera = Camera();
    for (const TEventNotice& notice : notices) {
        if (notice.Kind == TEventNotice::TKind::New) {
            FStartCommand->Run(EventPlaceholders(notice, camera));
            Notify(notice);
        } else if (notice.Kind == TEventNotice::TKind::End) {
            FEndCommand->Run(EventPlaceholders(notice, camera));
        }
        if (FMqtt) {
            if (notice.Kind == TEventNotice::TKind::New) {
                FMqtt->SetMotion(true);
            }
            FMqtt->PublishEvent(notice);
            if (notice.Kind == TEventNotice::TKind::End) {
                FMqtt->SetMotion(false);
            }
        }
    }
}

void TIntegration::Notify(const TEventNotice& notice) {
    if (!FTray) {
        return;
    }
    const QString camera = QString::fromStdString(Camera());
    const QString time =
        QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(notice.Start))
            .toString("HH:mm:ss");
    FTray->Notify(
        QStringLiteral("Motion on %1").arg(camera.isEmpty() ? "the camera" : camera),
        QStringLiteral("An event started at %1. Click to open the events folder.").arg(time));
    FTray->SetState(TTrayNotifier::TState::Recording);
}
