#pragma once
// The capture window's messages, translated onto its session and its sequence
// recorder: each message is one request with the result the service promises,
// nonzero meaning success. Also hands the session's status to the status
// callback, puts grabbed frames on the clipboard and runs the dialogs.

#include "capture/PlatformTypes.h"

#include <QObject>
#include <QString>

class QWidget;
class TCaptureSession;
class TSequenceRecorder;

class TCaptureController : public QObject {
    Q_OBJECT
public:
    // `window` is the handle the status callback receives and the dialogs' parent.
    TCaptureController(QWidget* window, TCaptureSession& session, TSequenceRecorder& recorder);

    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    // Hands a status event to the registered callback, as ANSI text.
    void Report(int id, const QString& text);

private:
    LRESULT Connect(int index);
    LRESULT SetPreview(bool on);
    LRESULT SetOverlay(bool on);
    LRESULT SetPreviewRate(int milliseconds);
    LRESULT SetScale(bool on);
    LRESULT EditCopy();
    LRESULT FormatDialog();
    LRESULT SourceDialog();
    LRESULT DisplayDialog();

    QWidget* FWindow;
    TCaptureSession& FSession;
    TSequenceRecorder& FRecorder;
    CAPSTATUSCALLBACK FStatusCallback = nullptr;
};
