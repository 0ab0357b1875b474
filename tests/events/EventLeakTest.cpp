// Many events in a row leave nothing of theirs alive: every writer pipeline,
// with its elements, pads and bus, is gone once its file is finished.
// GStreamer's leak tracer counts the objects (ctest switches it on with
// GST_TRACERS=leaks; without it this test is skipped).

#include "events/EventRecorder.h"

#include "EventTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Live GStreamer objects (not buffers or events, which the pre-roll holds a
// varying number of) created since the count began, less those gone since.
class TLiveObjects {
public:
    TLiveObjects() {
        GList* tracers = gst_tracing_get_active_tracers();
        for (GList* item = tracers; item; item = item->next) {
            if (!FTracer && g_str_equal(G_OBJECT_TYPE_NAME(item->data), "GstLeaksTracer")) {
                FTracer = GST_TRACER(gst_object_ref(item->data));
            }
        }
        g_list_free_full(tracers, gst_object_unref);
        if (FTracer) {
            g_signal_emit_by_name(FTracer, "activity-start-tracking");
        }
    }
    ~TLiveObjects() {
        if (FTracer) {
            g_signal_emit_by_name(FTracer, "activity-stop-tracking");
            gst_object_unref(FTracer);
        }
    }
    bool Counting() const { return FTracer != nullptr; }

    // The types whose count grew, with their growth.
    std::map<std::string, int> Growth() {
        GstStructure* checkpoint = nullptr;
        g_signal_emit_by_name(FTracer, "activity-get-checkpoint", &checkpoint);
        for (const auto& [field, sign] :
             {std::pair{"objects-created-list", 1}, std::pair{"objects-removed-list", -1}}) {
            const GValue* list = checkpoint ? gst_structure_get_value(checkpoint, field) : nullptr;
            for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
                const GstStructure* entry =
                    gst_value_get_structure(gst_value_list_get_value(list, i));
                const char* name = gst_structure_get_string(entry, "type-name");
                const GType type = name ? g_type_from_name(name) : 0;
                if (type && g_type_is_a(type, GST_TYPE_OBJECT)) {
                    FGrowth[name] += sign;
                }
            }
        }
        if (checkpoint) {
            gst_structure_free(checkpoint);
        }
        std::map<std::string, int> grown;
        for (const auto& [name, count] : FGrowth) {
            if (count > 0) {
                grown[name] = count;
            }
        }
        return grown;
    }

private:
    GstTracer* FTracer = nullptr;
    std::map<std::string, int> FGrowth;
};

std::string Describe(const std::map<std::string, int>& growth) {
    std::string text;
    for (const auto& [name, count] : growth) {
        text += name + " +" + std::to_string(count) + " ";
    }
    return text;
}

} // namespace

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
        TLiveObjects live;
        if (!live.Counting()) {
            fs::remove_all(folder);
            GTEST_SKIP() << "GStreamer objects are not counted: GST_TRACERS=leaks is not set";
        }
        ASSERT_TRUE(waitForEvents(23));
        // The last event's file may still be being finished.
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!live.Growth().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(Describe(live.Growth()), "");
    }
    fs::remove_all(folder);
}
