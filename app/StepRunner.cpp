#include "app/StepRunner.h"

#include <utility>

TStepRunner::TStepRunner(QObject* parent) : QObject(parent), FThread([this] { Run(); }) {}

TStepRunner::~TStepRunner() {
    {
        const std::lock_guard lock(FMutex);
        FQuit = true;
    }
    FWake.notify_all();
    FThread.join();
    // A result posted meanwhile goes with this object's posted events.
}

bool TStepRunner::TakeTick() {
    if (FInFlight) {
        ++FSkipped;
        return false;
    }
    return true;
}

void TStepRunner::Start(TWork work, TDone done) {
    FDone = std::move(done);
    FInFlight = true;
    {
        const std::lock_guard lock(FMutex);
        FWork = std::move(work);
        FError = nullptr;
        FHasWork = true;
        FWorkDone = false;
        ++FStep;
    }
    FWake.notify_all();
}

void TStepRunner::Run() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FHasWork || FQuit; });
        if (!FHasWork) {
            return;
        }
        FHasWork = false;
        TWork work = std::move(FWork);
        const std::uint64_t step = FStep;
        lock.unlock();
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        FError = error;
        FWorkDone = true;
        FIdle.notify_all();
        QMetaObject::invokeMethod(
            this, [this, step] { Deliver(step); }, Qt::QueuedConnection);
    }
}

std::optional<std::uint64_t> TStepRunner::WaitForStepInFlight() {
    if (!FInFlight) {
        return std::nullopt;
    }
    std::unique_lock lock(FMutex);
    FIdle.wait(lock, [this] { return FWorkDone; });
    return FStep;
}

// A result that Settle or Cancel took already is not delivered again.
void TStepRunner::Deliver(std::uint64_t step) {
    std::exception_ptr error;
    {
        const std::lock_guard lock(FMutex);
        if (!FInFlight || step != FStep || !FWorkDone) {
            return;
        }
        error = std::exchange(FError, nullptr);
    }
    FInFlight = false;
    ++FCompleted;
    const TDone done = std::move(FDone);
    FDone = nullptr;
    done(error);
}

void TStepRunner::Settle() {
    if (const std::optional<std::uint64_t> step = WaitForStepInFlight()) {
        Deliver(*step);
    }
}

void TStepRunner::Cancel() {
    if (WaitForStepInFlight()) {
        FInFlight = false;
        FDone = nullptr;
    }
}
