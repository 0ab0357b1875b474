// Many events in a row leave nothing of theirs alive: every writer pipeline,
// with its elements, pads and bus, is gone once its file is finished.
// GStreamer's leak tracer counts the objects (ctest switches it on with
// GST_TRACERS=leaks; without it this test is skipped).

#include "events/EventRecorder.h"

#include "EventTestSupport.h"
#include "tests/support/GstLeakCount.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(EventLeakTest, TwentyEventsLeaveNoGStreamerObjectAlive) {
    gst_init(nullptr, nullptr);
    char pattern[] = "/tmp/stirwatch-event-leak-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    std::atomic<int> finished{0};
    {
        TEventSettings settings;
        settings.Folder = folder;
        settings.PreRollSeconds = 0.2;
        settings.PostRollSeconds = 0;
        TEventRecorder recorder(settings, [&](const TEventStatus& status) {
            finished += status.Kind == TEventStatus::Saved ? 1 : 0;
        });
        TLiveTestSource source(160, 120, 30,
                               [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
        const auto waitForEvents = [&](int count) {
            const auto deadline = std::chrono::steady_clock::now() + 60s;
            while (finished < count && std::chrono::steady_clock::now() < deadline) {
                if (!recorder.Recording()) {
                    recorder.Movement();
                }
                std::this_thread::sleep_for(20ms);
            }
            return finished >= count;
        };
        ASSERT_TRUE(waitForEvents(3)) << "the first events load what they need once";
        // Objects proper: the pre-roll holds a varying number of buffers and events.
        TLeakCount live(TLeakCount::ObjectsProper);
        if (!live.Counting()) {
            fs::remove_all(folder);
            GTEST_SKIP() << "GStreamer objects are not counted: GST_TRACERS=leaks is not set";
        }
        ASSERT_TRUE(waitForEvents(23));
        // The last event's file may still be being finished.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!live.GrownTypes().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(live.GrownTypes(), "");
    }
    fs::remove_all(folder);
}
