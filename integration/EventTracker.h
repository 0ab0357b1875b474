#pragma once
// Turns the frame steps of an automatic run into motion events for the
// outside world: the first step with movement starts an event, each further
// one extends it and may raise its peak, and the event ends once no step has
// found movement for the hold time. When the event is being recorded, its
// end waits for the clip to be finished (at most ClipWait), so that whoever
// hears of the end finds the file complete.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct TInstant {
    std::chrono::steady_clock::time_point Steady;
    std::chrono::system_clock::time_point Wall;
    static TInstant Now();
};

struct TEventNotice {
    enum class TKind { New, Update, End };
    TKind Kind = TKind::New;
    std::chrono::system_clock::time_point Start;
    std::optional<std::chrono::system_clock::time_point> End;
    int Peak = 0;     // the highest movement percentage of a step so far
    std::string Clip; // the event's video file, empty when none is recorded
};

class TEventTracker {
public:
    static constexpr std::chrono::seconds UpdateInterval{2};
    static constexpr std::chrono::seconds ClipWait{30};

    explicit TEventTracker(std::chrono::milliseconds hold = std::chrono::seconds(5));
    void SetHold(std::chrono::milliseconds hold);

    // A step that found movement, with its movement percentage.
    std::vector<TEventNotice> Movement(const TInstant& at, int percent);
    // Ends the event when its hold (or the wait for its clip) is over, and
    // sends a held-back peak update.
    std::vector<TEventNotice> Poll(const TInstant& at);
    // The running event is being recorded into this file.
    void ClipStarted(const std::string& path);
    // The file is finished (saved or given up).
    std::vector<TEventNotice> ClipFinished(const std::string& path, const TInstant& at);
    // Ends a running event at once (the program stops).
    std::vector<TEventNotice> Close(const TInstant& at);

    bool Open() const { return FOpen; }

private:
    TEventNotice Notice(TEventNotice::TKind kind) const;
    TEventNotice Finish(const TInstant& at);

    std::chrono::milliseconds FHold;
    bool FOpen = false;
    std::chrono::system_clock::time_point FStart;
    std::chrono::steady_clock::time_point FLastMovement;
    std::chrono::steady_clock::time_point FLastUpdate;
    int FPeak = 0;
    bool FPeakUnsent = false;
    std::string FClip;
    bool FClipOpen = false;
    // Movement is over; the end waits for the clip.
    std::optional<TInstant> FQuietSince;
};
