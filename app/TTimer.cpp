#include "app/TTimer.h"

#include "app/TApplication.h"
#include "types/Exception.h"

#include <QTimerEvent>

TTimer::TTimer(QObject* owner) : QObject(owner) {}

TTimer::~TTimer() {
    KillPlatformTimer();
}

void TTimer::SetInterval(int milliseconds) {
    if (milliseconds == FInterval) {
        return;
    }
    FInterval = milliseconds;
    UpdateTimer();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == FEnabled) {
        return;
    }
    FEnabled = enabled;
    UpdateTimer();
}

void TTimer::KillPlatformTimer() {
    if (FTimerId != 0) {
        killTimer(FTimerId);
        FTimerId = 0;
    }
}

// Every change of interval or state starts the count afresh. Precise timers
// fire neither early nor in bursts: Qt schedules the next timeout from the
// moment of delivery when a tick was late, so a tick missed during a long
// step arrives once after it.
void TTimer::UpdateTimer() {
    KillPlatformTimer();
    if (!FEnabled || FInterval <= 0) {
        return;
    }
    FTimerId = startTimer(FInterval, Qt::PreciseTimer);
    if (FTimerId == 0) {
        FEnabled = false;
        throw EOutOfResources("Not enough timers available");
    }
}

void TTimer::timerEvent(QTimerEvent* event) {
    if (event->timerId() != FTimerId) {
        QObject::timerEvent(event);
        return;
    }
    // Qt holds back a timer's next tick while the handler of its previous
    // one still runs, also inside a nested message loop (an error box, a
    // modal dialog). Re-arming it as a fresh platform timer first lets the
    // ticks go on there, so automatic mode keeps running while a box is open.
    HandleEvent([this] { UpdateTimer(); });
    // An error ends this tick only; the timer stays enabled.
    HandleEvent([this] { emit OnTimer(); });
}
