#include "capture/SourceStatus.h"

#include "capture/PlatformTypes.h"

#include <utility>

TSourceStatus::TSourceStatus(QString sourceName) : FName(std::move(sourceName)) {}

void TSourceStatus::Rename(const QString& name) {
    const std::lock_guard lock(FMutex);
    FName = name;
}

// With the lock held, after a change: the window is told once per batch.
TSourceStatus::TChange TSourceStatus::ChangedLocked() {
    return {true, !std::exchange(FNotified, true)};
}

void TSourceStatus::Retell() {
    const std::lock_guard lock(FMutex);
    FNotified = false;
}

TSourceStatus::TChange TSourceStatus::SetState(TSourceState state, const QString& reason,
                                               int statusId) {
    const std::lock_guard lock(FMutex);
    if (FState == TSourceState::Failed && state != TSourceState::Failed) {
        return {};
    }
    if (state == FState && reason == FReason) {
        return {};
    }
    FState = state;
    FReason = reason;
    FSince = TClock::now();
    if (statusId != 0 && !reason.isEmpty()) {
        FEvents.push_back({statusId, reason});
    }
    // Told even without an event: the window shows the new standing.
    return ChangedLocked();
}

TSourceStatus::TChange TSourceStatus::FrameArrived(TClock::time_point now) {
    const std::lock_guard lock(FMutex);
    if (FState != TSourceState::Connecting && FState != TSourceState::Stalled) {
        return {};
    }
    const QString text = FState == TSourceState::Stalled ? QStringLiteral("Frames from %1 again")
                         : FWasLive                      ? QStringLiteral("Connected to %1 again")
                                                         : QStringLiteral("Connected to %1");
    FState = TSourceState::Live;
    FReason.clear();
    FWasLive = true;
    FSince = now;
    FEvents.push_back({IDS_CAP_STAT_DRIVER_CONNECTED, text.arg(FName)});
    return ChangedLocked();
}

std::chrono::milliseconds TSourceStatus::CheckStall(TClock::time_point now,
                                                    TClock::time_point lastFrame,
                                                    std::chrono::milliseconds stallAfter,
                                                    TChange& change) {
    change = {};
    const std::lock_guard lock(FMutex);
    const auto since =
        FState == TSourceState::Live && lastFrame != TClock::time_point{} ? lastFrame : FSince;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
    if (FState == TSourceState::Live && quiet > stallAfter) {
        FState = TSourceState::Stalled;
        FReason = QStringLiteral("No frames from %1").arg(FName);
        FSince = now;
        FEvents.push_back({IDS_CAP_STAT_SOURCE_LOST, FReason});
        change = ChangedLocked();
    }
    return quiet;
}

TSourceStatus::TChange TSourceStatus::Push(int id, const QString& text) {
    const std::lock_guard lock(FMutex);
    FEvents.push_back({id, text});
    return {false, !std::exchange(FNotified, true)};
}

TSourceSignal TSourceStatus::Signal() const {
    const std::lock_guard lock(FMutex);
    return {FState, FReason};
}

bool TSourceStatus::Live() const {
    const std::lock_guard lock(FMutex);
    return FState == TSourceState::Live;
}

std::vector<TDriverStatus> TSourceStatus::Take() {
    const std::lock_guard lock(FMutex);
    FNotified = false;
    return std::exchange(FEvents, {});
}
