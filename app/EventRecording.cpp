#include "app/EventRecording.h"

#include "capture/VideoCap.h"
#include "events/EventRecorder.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QLineEdit>
#include <QMetaObject>
#include <QPointer>
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
        QMetaObject::invokeMethod(
            self.data(),
            [self, text, path, kind] {
                if (self) {
                    emit self->Status(text);
                }
                if (self && !path.isEmpty()) {
                    self->ReportClip(kind, path);
                }
            },
            Qt::QueuedConnection);
    });
    AttachToCapture();
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
}

void TEventRecording::OpenFolder() const {
    QDir().mkpath(FFolder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(FFolder));
}

void TEventRecording::OnSourceFrame(GstSample* sample) {
    FRecorder->OnSourceFrame(sample);
}

void TEventRecording::OnSourceGone() {
    if (FRecorder) {
        FRecorder->OnSourceGone();
    }
}
