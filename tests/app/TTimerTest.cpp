#include "app/TTimer.h"
#include "app/TApplication.h"

#include "types/Exception.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Elapsed milliseconds of each tick, measured from the timer's creation.
struct TickRecorder {
    explicit TickRecorder(TTimer& timer) {
        clock.start();
        QObject::connect(&timer, &TTimer::OnTimer, &timer,
                         [this] { ticks.push_back(clock.elapsed()); });
    }
    QElapsedTimer clock;
    std::vector<qint64> ticks;
};

} // namespace

TEST(TTimer, GivesNoTicksWhenDisabledOrWithIntervalZero) {
    TTimer timer;
    timer.SetInterval(5);
    TickRecorder recorder(timer);
    QTest::qWait(60);
    EXPECT_TRUE(recorder.ticks.empty());

    timer.SetInterval(0);
    timer.SetEnabled(true);
    QTest::qWait(60);
    EXPECT_TRUE(recorder.ticks.empty());
    EXPECT_TRUE(timer.Enabled());

    timer.SetInterval(5);
    EXPECT_TRUE(QTest::qWaitFor([&] { return recorder.ticks.size() >= 2; }, 20000));
}

// Wide margins: a loaded machine only delays ticks, and the test holds for
// any delay short of a second.
TEST(TTimer, NewIntervalRestartsTheCountOfARunningTimer) {
    TTimer timer;
    timer.SetInterval(2000);
    timer.SetEnabled(true);
    TickRecorder recorder(timer);
    QTest::qWait(1000);
    if (!recorder.ticks.empty()) {
        GTEST_SKIP() << "the machine was too busy to change the interval in time";
    }
    QElapsedTimer sinceChange;
    sinceChange.start();
    timer.SetInterval(1900);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.ticks.empty(); }, 20000));
    // Without the restart the tick would have come about 1000 ms after the change.
    EXPECT_GE(sinceChange.elapsed(), 1700);
}

TEST(TTimer, TickDueDuringABusyHandlerComesOnceAfterIt) {
    TTimer timer;
    timer.SetInterval(100);
    timer.SetEnabled(true);
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> ticks;
    QObject::connect(&timer, &TTimer::OnTimer, &timer, [&] {
        ticks.push_back(clock.elapsed());
        if (ticks.size() == 1) {
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() < 500) {
            }
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks.size() >= 3; }, 20000));
    timer.SetEnabled(false);
    // Five ticks fell due during the busy one; a queue would deliver them
    // back to back, a coalescing timer keeps an interval after the first.
    EXPECT_GE(ticks[2] - ticks[1], 50);
}

// An error box or a modal dialog opened by a tick runs a nested message
// loop; automatic mode must go on ticking inside it.
TEST(TTimer, TicksGoOnInsideANestedLoopOpenedByATick) {
    TTimer timer;
    timer.SetInterval(10);
    timer.SetEnabled(true);
    int ticks = 0;
    int ticksInsideLoop = 0;
    QEventLoop* nested = nullptr;
    QObject::connect(&timer, &TTimer::OnTimer, &timer, [&] {
        ++ticks;
        if (ticks == 1) {
            // The loop ends at the first tick inside it, or gives up.
            QEventLoop loop;
            nested = &loop;
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
            nested = nullptr;
            ticksInsideLoop = ticks - 1;
        } else if (nested) {
            nested->quit();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2 && ticksInsideLoop > 0; }, 60000))
        << "ticks inside the nested loop: " << ticksInsideLoop;
    timer.SetEnabled(false);
}

TEST(TTimer, ErrorInATickIsShownAndTheTimerGoesOn) {
    std::vector<QString> shown;
    TApplication::SetMessageSink(
        [&](const QString&, const QString& text) { shown.push_back(text); });
    TTimer timer;
    timer.SetInterval(5);
    timer.SetEnabled(true);
    QObject::connect(&timer, &TTimer::OnTimer, &timer,
                     [] { throw EListError("Scan line index out of range"); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 3; }, 20000));
    TApplication::SetMessageSink(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(shown.front(), "Scan line index out of range.");
}

TEST(TTimer, RefusedPlatformTimerIsReportedAndLeavesTheTimerDisabled) {
    // Outside a Qt thread the platform has no timer to give.
    std::string message;
    bool enabledAfter = true;
    std::thread worker([&] {
        TTimer timer;
        try {
            timer.SetInterval(100);
            timer.SetEnabled(true);
        } catch (const EOutOfResources& error) {
            message = error.what();
        }
        enabledAfter = timer.Enabled();
    });
    worker.join();
    EXPECT_EQ(message, "Not enough timers available");
    EXPECT_FALSE(enabledAfter);
}
