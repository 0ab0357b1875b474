#pragma once
// Where a source stands (connecting, live, stalled, lost, ended, failed, and
// why) and the status events waiting for the capture window. Changed from
// any thread. Each change says whether the window is to be told: once per
// batch of events, until it takes them.

#include "capture/VideoDriver.h"

#include <QString>

#include <chrono>
#include <mutex>
#include <vector>

class TSourceStatus {
public:
    using TClock = std::chrono::steady_clock;

    explicit TSourceStatus(QString sourceName);

    // The source's name in the texts from now on (a camera found late).
    void Rename(const QString& name);

    // What a change did: whether the standing changed, and whether the window is to
    // be told now (the first change or event since it last took them).
    struct TChange {
        bool Changed = false;
        bool Tell = false;
    };

    // The source's new standing; `statusId` and the reason become an event too. A
    // failed source stays failed.
    TChange SetState(TSourceState state, const QString& reason, int statusId);
    // A frame arrived: a source connecting or stalled is live (again).
    TChange FrameArrived(TClock::time_point now);
    // A live source without a frame since `lastFrame` (epoch: none since it connected)
    // for longer than `stallAfter` is stalled now. Returns how long it has been without
    // a frame (or in its standing).
    std::chrono::milliseconds CheckStall(TClock::time_point now, TClock::time_point lastFrame,
                                         std::chrono::milliseconds stallAfter, TChange& change);
    // An event of its own (no change of standing).
    TChange Push(int id, const QString& text);
    // A new listener: the next change is told again.
    void Retell();

    TSourceSignal Signal() const;
    bool Live() const;
    std::vector<TDriverStatus> Take();

private:
    TChange ChangedLocked();

    mutable std::mutex FMutex;
    QString FName;
    TSourceState FState = TSourceState::Connecting;
    QString FReason;
    bool FWasLive = false;
    TClock::time_point FSince = TClock::now();
    std::vector<TDriverStatus> FEvents;
    bool FNotified = false; // told of the events waiting, not yet taken
};
