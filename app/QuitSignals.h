#pragma once
// A logout (SIGHUP), a shutdown (SIGTERM) or Ctrl+C in the terminal
// (SIGINT) ends the program as closing its window does, so that open event
// clips are finished. The signal handler only writes the signal's number to
// a pipe; the event loop reads it and calls the quit function there. A
// second signal of the same kind ends the program at once.

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class TQuitSignals : public QObject {
    Q_OBJECT

public:
    // `quit` runs on the event loop with the signal's number. Only one
    // instance may exist at a time; it takes the three signals over for its
    // lifetime and restores their previous handling when destroyed.
    explicit TQuitSignals(std::function<void(int signal)> quit, QObject* parent = nullptr);
    ~TQuitSignals() override;

private:
    void ReadSignal();

    std::function<void(int)> FQuit;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
