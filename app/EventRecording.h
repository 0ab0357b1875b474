#pragma once
// The main window's side of motion-event recording: while "Record On Move"
// is on, an event recorder is the frame tap of the capture window, each
// movement of an automatic step starts or extends an event, and the
// recorder's reports reach the status line on the GUI thread.

#include "capture/FrameTap.h"
#include "events/EventRecorder.h"

#include <QObject>
#include <QString>

#include <memory>

class TConfigForm;

class TEventRecording : public QObject, public TFrameTap {
    Q_OBJECT

public:
    explicit TEventRecording(QObject* parent = nullptr);
    // Removes the tap and finishes a running event.
    ~TEventRecording() override;

    // Takes the options of the configuration window: turns recording on or
    // off and passes pre-roll, post-roll, folder and size limit on.
    void Apply(const TConfigForm& options);
    // Puts the recorder on the current capture window (after video starts).
    void AttachToCapture();
    // A step found movement; only automatic steps record.
    void Movement(bool automaticStep);
    // Finishes a running event and stops recording (at program end).
    void Stop();

    bool Active() const { return FRecorder != nullptr; }
    TEventRecorder* Recorder() const { return FRecorder.get(); }
    QString Folder() const { return FFolder; }
    // Shows the events folder in the desktop's file manager, making it first.
    // When no file manager opens it, the error display says so.
    void OpenFolder();

    // Streaming thread / GUI thread (frame tap).
    void OnSourceFrame(GstSample* sample) override;
    void OnSourceGone() override;

signals:
    // A text for the status line (a saved or failed event, a repaired
    // clip), on the GUI thread.
    void Status(const QString& text);
    // An event's file is being written, and is finished (saved or given
    // up), on the GUI thread.
    void ClipStarted(const QString& path);
    void ClipFinished(const QString& path);
    // While an event is recorded: "Recording event <file> ..."; empty once
    // none is. On the GUI thread.
    void RecordingChanged(const QString& text);
    // Every report of the recorder as it gave it (with the times a saved
    // event covers), on the GUI thread, after the signals above.
    void Reported(const TEventStatus& status);

private:
    void OnStatus(bool started, const QString& text);
    void ReportClip(int kind, const QString& path);

    std::unique_ptr<TEventRecorder> FRecorder;
    QString FFolder;
};
