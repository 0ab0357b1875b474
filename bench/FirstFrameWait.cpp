#include "bench/FirstFrameWait.h"

#include "app/WVideo.h"

#include <QTimer>

void AfterFirstFrame(TVideo& window, QObject& context, std::function<void()> then, int pollMs) {
    auto* poll = new QTimer(&context);
    QObject::connect(poll, &QTimer::timeout, &context, [&window, poll, then = std::move(then)] {
        if (!window.Engine() || window.Engine()->PreviousFrame().Empty()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        then();
    });
    poll->start(pollMs);
}
