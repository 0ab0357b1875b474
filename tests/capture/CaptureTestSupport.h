#pragma once
// Helpers shared by the capture tests: waiting with the event loop running,
// and reaching the capture window behind the layer's handle.

#include "capture/VFWInterUnit.h"
#include "capture/VideoCap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <functional>

inline void RunEventsFor(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

inline bool RunEventsUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline TCaptureWindow* Window() {
    return qobject_cast<TCaptureWindow*>(CaptureWindow);
}
