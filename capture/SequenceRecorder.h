#pragma once
// The streaming capture of a capture window: its setup record, the capture file,
// a step once per capture interval that reports the count of frames written
// (the status callback may abort on it) and only then writes the next frame,
// and the abort key and mouse buttons, watched application-wide while a
// capture runs.

#include "capture/PlatformTypes.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <string>

class QTimer;
class TCaptureSession;

class TSequenceRecorder : public QObject {
    Q_OBJECT
public:
    TSequenceRecorder(TCaptureSession& session, QObject* parent);
    ~TSequenceRecorder() override;

    // The file a capture writes; false, keeping the one before, for an empty name.
    bool SetFile(const char* name);
    const std::string& File() const { return FFile; }
    // The setup every newly connected source starts with.
    void ResetSetup();
    // Copies `size` bytes of the setup record out or in; false without a source that records.
    bool GetSetup(CAPTUREPARMS* setup, std::size_t size) const;
    bool SetSetup(const CAPTUREPARMS* setup, std::size_t size);

    // Starts capturing to the file; false (with a status saying why when the file
    // cannot be written) when there is no source, one runs already or there is no file.
    bool Start();
    // Ends a running capture and says how many frames it wrote; `aborted` when the
    // user's abort key or click ended it.
    void Stop(bool aborted);
    // The source is let go: stops stepping and watching at once, without a word.
    void Halt();

signals:
    void Status(int id, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Step();
    bool IsAbort(const QEvent* event) const;
    QString FileText() const;

    TCaptureSession& FSession;
    CAPTUREPARMS FSetup{};
    std::string FFile;
    QTimer* FTimer;
    std::chrono::steady_clock::time_point FStart;
};
