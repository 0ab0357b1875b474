#pragma once
// The worker of the automatic frame step: one thread that takes the waiting
// for a frame, its conversion and the comparison off the GUI thread, one
// step at a time. The step's result comes back to the GUI thread by a queued
// call. A tick that comes while a step is still on the worker is skipped, so
// steps never queue up behind a slow machine.

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class TStepRunner : public QObject {
    Q_OBJECT

public:
    using TWork = std::function<void()>;
    // Runs on the GUI thread with what the work threw (null when nothing).
    using TDone = std::function<void(std::exception_ptr error)>;

    explicit TStepRunner(QObject* parent = nullptr);
    // A step on the worker runs to its end; its result is dropped.
    ~TStepRunner() override;
    TStepRunner(const TStepRunner&) = delete;
    TStepRunner& operator=(const TStepRunner&) = delete;

    // GUI thread. True when no step is in flight: the caller may Start one.
    // False while one is, and the tick counts as skipped.
    bool TakeTick();
    // Hands `work` to the worker; `done` runs on this thread once it ran.
    // Only after TakeTick said yes.
    void Start(TWork work, TDone done);
    // A step was started and its `done` has not run yet.
    bool InFlight() const { return FInFlight; }
    // Waits for the step in flight and runs its `done` now rather than later
    // from the event loop; nothing when no step is in flight.
    void Settle();
    // Waits for the step in flight and drops its result.
    void Cancel();

    std::uint64_t Skipped() const { return FSkipped; }
    // The steps whose `done` ran.
    std::uint64_t Completed() const { return FCompleted; }

private:
    void Run();
    void Deliver(std::uint64_t step);
    // With a step in flight: waits until the worker has ended it and returns
    // its number. Without one: returns nothing at once.
    std::optional<std::uint64_t> WaitForStepInFlight();

    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    TWork FWork;
    std::exception_ptr FError;
    bool FHasWork = false;
    bool FWorkDone = false;
    bool FQuit = false;
    std::uint64_t FStep = 0; // the number of the latest step started

    // GUI thread only.
    TDone FDone;
    bool FInFlight = false;
    std::uint64_t FSkipped = 0;
    std::uint64_t FCompleted = 0;

    std::thread FThread;
};
