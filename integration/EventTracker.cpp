#include "integration/EventTracker.h"

TInstant TInstant::Now() {
    return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
}

TEventTracker::TEventTracker(std::chrono::milliseconds hold) : FHold(hold) {}

void TEventTracker::SetHold(std::chrono::milliseconds hold) {
    FHold = hold;
}

TEventNotice TEventTracker::Notice(TEventNotice::TKind kind) const {
    TEventNotice notice;
    notice.Kind = kind;
    notice.Start = FStart;
    notice.Peak = FPeak;
    notice.Clip = FClip;
    return notice;
}

TEventNotice TEventTracker::Finish(const TInstant& at) {
    TEventNotice notice = Notice(TEventNotice::TKind::End);
    notice.End = FQuietSince ? FQuietSince->Wall : at.Wall;
    FOpen = false;
    FClip.clear();
    FClipOpen = false;
    FQuietSince.reset();
    FPeakUnsent = false;
    return notice;
}

std::vector<TEventNotice> TEventTracker::Movement(const TInstant& at, int percent) {
    std::vector<TEventNotice> notices;
    if (FOpen && FQuietSince) {
        // The recorder has ended its event; this movement starts the next one.
        notices.push_back(Finish(at));
    }
    if (!FOpen) {
        FOpen = true;
        FStart = at.Wall;
        FPeak = percent;
        FLastMovement = at.Steady;
        FLastUpdate = at.Steady;
        notices.push_back(Notice(TEventNotice::TKind::New));
        return notices;
    }
    FLastMovement = at.Steady;
    if (percent > FPeak) {
        FPeak = percent;
        FPeakUnsent = true;
    }
    if (FPeakUnsent && at.Steady - FLastUpdate >= UpdateInterval) {
        FPeakUnsent = false;
        FLastUpdate = at.Steady;
        notices.push_back(Notice(TEventNotice::TKind::Update));
    }
    return notices;
}

std::vector<TEventNotice> TEventTracker::Poll(const TInstant& at) {
    std::vector<TEventNotice> notices;
    if (!FOpen) {
        return notices;
    }
    if (!FQuietSince && at.Steady - FLastMovement >= FHold) {
        FQuietSince = at;
    }
    if (FQuietSince && (!FClipOpen || at.Steady - FQuietSince->Steady >= ClipWait)) {
        notices.push_back(Finish(at));
    } else if (!FQuietSince && FPeakUnsent && at.Steady - FLastUpdate >= UpdateInterval) {
        FPeakUnsent = false;
        FLastUpdate = at.Steady;
        notices.push_back(Notice(TEventNotice::TKind::Update));
    }
    return notices;
}

void TEventTracker::ClipStarted(const std::string& path) {
    if (FOpen) {
        FClip = path;
        FClipOpen = true;
    }
}

std::vector<TEventNotice> TEventTracker::ClipFinished(const std::string& path, const TInstant& at) {
    if (!FOpen || path != FClip) {
        return {};
    }
    FClipOpen = false;
    return FQuietSince ? std::vector<TEventNotice>{Finish(at)} : std::vector<TEventNotice>{};
}

std::vector<TEventNotice> TEventTracker::Close(const TInstant& at) {
    if (!FOpen) {
        return {};
    }
    if (!FQuietSince) {
        FQuietSince = at;
    }
    return {Finish(at)};
}
