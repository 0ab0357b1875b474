#pragma once
// Runs the command of one kind of happening (an event starts, an event ends,
// the camera is lost or back) in the background: the program and its
// arguments straight to the system, no shell in between. At most one runs at
// a time (a happening while it still runs is skipped); one that outlives the
// time limit is killed. A failure is reported once, until a run succeeds.

#include "integration/CommandLine.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <string>
#include <vector>

class QProcess;
class QTimer;

class TCommandRunner : public QObject {
    Q_OBJECT

public:
    // `kind` names the command in reports, e.g. "on event start".
    TCommandRunner(QString kind, QObject* parent = nullptr);
    // A command still running gets ExitGrace (at most its time limit) to
    // finish, then it is killed.
    static constexpr std::chrono::seconds ExitGrace{2};
    ~TCommandRunner() override;

    // An empty line turns the command off. A line that cannot be split is
    // reported (Failed) and leaves the command off.
    void SetCommandLine(const std::string& line);
    void SetTimeLimit(std::chrono::milliseconds limit);

    // Starts the command with the placeholders filled in; false when there is
    // no command or the previous run still goes on.
    bool Run(const TPlaceholders& values);
    bool Running() const;
    int Skipped() const { return FSkipped; }

signals:
    // A failure, once per run of failures, for the status line.
    void Failed(const QString& text);
    // A run ended; `ok` when it exited with 0 within the time limit.
    void Finished(bool ok);

private:
    void Report(bool ok, const QString& why);
    void OnFinished(int exitCode, int exitStatus);

    QString FKind;
    std::vector<std::string> FWords;
    std::chrono::milliseconds FTimeLimit{60000};
    QProcess* FProcess = nullptr;
    QTimer* FLimitTimer = nullptr;
    bool FTimedOut = false;
    bool FFailureShown = false;
    int FSkipped = 0;
};
