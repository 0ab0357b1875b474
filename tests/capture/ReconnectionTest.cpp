// A camera on a poor network: the RTSP server of 127.0.0.1 is stopped and
// started again twenty times under a connected source, then the source is
// stopped and started as Stop Video and Start Video do. Each round must give
// back what the one before took: descriptors, threads and the GStreamer
// objects, counted by GStreamer's leak tracer (ctest switches it on
// with GST_TRACERS=leaks; without it the objects are not counted). The memory
// is only reported: the C library's heaps move by megabytes either way.

#include "EventLoop.h"
#include "capture/GstDriver.h"
#include "tests/support/GstLeakCount.h"
#include "tests/support/RtspTestServer.h"

#include <QDir>
#include <QFile>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

int EntriesOf(const char* folder) {
    return int(
        QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

long RssKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

struct TProcessFigures {
    int Descriptors = EntriesOf("/proc/self/fd");
    int Threads = EntriesOf("/proc/self/task");
    long RssKb = ::RssKb();
};

// Each reconnection waits out the source's first back-off of a second, so
// the rounds are what the test costs.
constexpr int Reconnections = 20;
constexpr int Restarts = 10;
// Slack for what is in flight at a moment: a socket of the server's or the
// driver's being closed, a streaming thread ending, a message on its way.
// Settled() waits for a moment within it, so it can be small: a leak of one
// descriptor, thread or object per round is over it (a pipeline is dozens).
constexpr int DescriptorSlack = 4;
constexpr int ThreadSlack = 3;
constexpr int ObjectSlack = 12;
static_assert(Reconnections > ObjectSlack && Restarts > DescriptorSlack && Restarts > ThreadSlack);

class ReconnectionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }

    // Runs the event loop, watching the source as the capture window does, until `state`
    // and, for a live source, until frames arrive.
    static bool WaitFor(TGstDriver& driver, TSourceState state) {
        const std::uint64_t last = driver.NewestFrameNumber();
        return RunEventsUntil(
            [&] {
                driver.Watch();
                return driver.Signal().State == state &&
                       (state != TSourceState::Live || driver.NewestFrameNumber() > last + 2);
            },
            40000);
    }
    static bool Reconnect(TGstDriver& driver, TRtspTestServer& server) {
        server.Stop();
        if (!WaitFor(driver, TSourceState::Lost)) {
            return false;
        }
        server.Start();
        return WaitFor(driver, TSourceState::Live);
    }
    // Waits for descriptors, threads and objects to come back within their slack.
    bool Settled() {
        return RunEventsUntil(
            [&] {
                const TProcessFigures now;
                return now.Descriptors <= Start.Descriptors + DescriptorSlack &&
                       now.Threads <= Start.Threads + ThreadSlack &&
                       Objects.TotalGrowth() <= ObjectSlack;
            },
            60000);
    }
    void Report(const char* when) {
        const TProcessFigures now;
        std::printf("%s: descriptors %d -> %d, threads %d -> %d, RSS %ld -> %ld kB, "
                    "objects %+d (%s)\n",
                    when, Start.Descriptors, now.Descriptors, Start.Threads, now.Threads,
                    Start.RssKb, now.RssKb, Objects.TotalGrowth(), Objects.GrownTypes().c_str());
    }
    void ExpectBackWhereItStarted() {
        EXPECT_TRUE(Settled());
        const TProcessFigures now;
        EXPECT_LE(now.Descriptors, Start.Descriptors + DescriptorSlack);
        EXPECT_LE(now.Threads, Start.Threads + ThreadSlack);
        EXPECT_LE(Objects.TotalGrowth(), ObjectSlack) << Objects.GrownTypes();
    }

    // Frames in flight are left out: how many the queues hold at a moment depends on
    // the machine's speed. A leak of the sources themselves shows in their elements,
    // pads, buses and messages.
    TLeakCount Objects{TLeakCount::NotFramesInFlight};
    TProcessFigures Start;
};

TEST_F(ReconnectionTest, ReconnectionsAndRestartsGiveBackWhatTheyTook) {
    TRtspTestServer server;
    server.Start();
    TSource source{TSourceKind::Url, "Network stream", server.Url(), nullptr};
    TGstDriver driver(source);
    ASSERT_TRUE(driver.Start());
    ASSERT_TRUE(WaitFor(driver, TSourceState::Live));
    // The first rounds load what GStreamer keeps for good: plug-ins, types, thread pools.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(Reconnect(driver, server));
    }
    Start = TProcessFigures();
    Objects.Restart();
    if (!Objects.Counting()) {
        std::printf("GStreamer objects are not counted: GST_TRACERS=leaks is not set\n");
    }
    for (int i = 1; i <= Reconnections; ++i) {
        ASSERT_TRUE(Reconnect(driver, server)) << "reconnection " << i;
        if (i % 10 == 0) {
            Report(("after " + std::to_string(i) + " reconnections").c_str());
        }
    }
    ExpectBackWhereItStarted();

    for (int i = 0; i < Restarts; ++i) {
        driver.Stop();
        ASSERT_TRUE(driver.Start());
        ASSERT_TRUE(WaitFor(driver, TSourceState::Live)) << "restart " << i;
    }
    Report(("after " + std::to_string(Restarts) + " restarts").c_str());
    ExpectBackWhereItStarted();
}

} // namespace
