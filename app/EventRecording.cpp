#include "app/EventRecording.h"

#include "app/TApplication.h"
#include "capture/VideoCap.h"
#include "events/EventRecorder.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QUrl>

TEventRecording::TEventRecording(QObject* parent) : QObject(parent) {}

TEventRecording::~TEventRecording() {
    Stop();
}

void TEventRecording::Apply(const TConfigForm& options) {
    FFolder = options.EventsDirEdit->text();
    if (!options.RecordOnMoveCheck->isChecked()) {
        Stop();
        return;
    }
    TEventSettings settings;
    settings.PreRollSeconds = options.PreRollEdit->Value();
    settings.PostRollSeconds = options.PostRollEdit->Value();
    settings.Folder = FFolder.toStdString();
    settings.LimitBytes = static_cast<std::uint64_t>(std::max(0, options.EventsLimitEdit->Value()))
                          << 20;
    if (FRecorder) {
        FRecorder->SetSettings(settings);
        return;
    }
    // Reports come from the recorder's threads; the status line is written
    // on the GUI thread, and not at all once this object is gone.
    QPointer<TEventRecording> self(this);
    FRecorder = std::make_unique<TEventRecorder>(settings, [self](const TEventStatus& status) {
        const QString text = QString::fromStdString(status.Text);
        const QString path = QString::fromStdString(status.Path);
        const TEventStatus::TKind kind = status.Kind;
        const bool started = kind == TEventStatus::Recording;
        QMetaObject::invokeMethod(
            self.data(),
            [self, started, text, path, kind, status] {
                if (self) {
                    self->OnStatus(started, text);
                }
                if (self && !path.isEmpty()) {
                    self->ReportClip(kind, path);
                }
                if (self) {
                    emit self->Reported(status);
                }
            },
            Qt::QueuedConnection);
    });
    AttachToCapture();
}

// The lasting indicator follows the recorder: a report that is not a start
// (a saved or failed event, a repaired clip) ends it only when no event runs.
// A start goes to the lasting indicator only, not to the line's message too.
void TEventRecording::OnStatus(bool started, const QString& text) {
    if (started) {
        emit RecordingChanged(text);
        return;
    }
    emit Status(text);
    if (!FRecorder || !FRecorder->Recording()) {
        emit RecordingChanged({});
    }
}

void TEventRecording::ReportClip(int kind, const QString& path) {
    if (kind == TEventStatus::Recording) {
        emit ClipStarted(path);
    } else if (kind == TEventStatus::Saved || kind == TEventStatus::Failed) {
        emit ClipFinished(path);
    }
}

void TEventRecording::AttachToCapture() {
    if (FRecorder && CaptureWindow) {
        capSetFrameTap(CaptureWindow, this);
    }
}

void TEventRecording::Movement(bool automaticStep) {
    if (FRecorder && automaticStep) {
        FRecorder->Movement();
    }
}

void TEventRecording::Stop() {
    if (!FRecorder) {
        return;
    }
    if (CaptureWindow) {
        capSetFrameTap(CaptureWindow, nullptr); // no frame arrives after this
    }
    FRecorder.reset();
    emit RecordingChanged({});
}

// xdg-open finds the desktop's file manager; it runs in the background and
// its failure (none installed, none that opens folders) is reported when it
// ends, with the folder named so that the user can go there another way.
void TEventRecording::OpenFolder() {
    QDir().mkpath(FFolder);
    auto* opener = new QProcess(this);
    const QString folder = FFolder;
    const auto fail = [opener, folder](const QString& why) {
        TApplication::ShowException(
            QStringLiteral("No file manager opened the events folder \"%1\": %2").arg(folder, why));
        opener->deleteLater();
    };
    connect(opener, &QProcess::errorOccurred, this, [opener, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail(QStringLiteral("xdg-open is not installed"));
        }
    });
    connect(opener, &QProcess::finished, this, [opener, fail](int code, QProcess::ExitStatus) {
        if (code == 0) {
            opener->deleteLater();
            return;
        }
        const QString said = QString::fromLocal8Bit(opener->readAllStandardError()).trimmed();
        fail(said.isEmpty() ? QStringLiteral("xdg-open ended with code %1").arg(code)
                            : said.section(QLatin1Char('\n'), 0, 0));
    });
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->start(QStringLiteral("xdg-open"), {QUrl::fromLocalFile(FFolder).toString()});
}

void TEventRecording::OnSourceFrame(GstSample* sample) {
    FRecorder->OnSourceFrame(sample);
}

void TEventRecording::OnSourceGone() {
    if (FRecorder) {
        FRecorder->OnSourceGone();
    }
}
