#pragma once
// Helpers shared by the capture tests: waiting with the event loop running,
// and reaching the capture window behind the layer's handle.

#include "capture/CaptureWindow.h"
#include "capture/VFWInterUnit.h"
#include "capture/VideoCap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <functional>

// Runs the event loop, idle between events, for the given time.
inline void RunEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds, checking it at least every 10 ms.
inline bool RunEventsUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline TCaptureWindow* Window() {
    return qobject_cast<TCaptureWindow*>(CaptureWindow);
}
