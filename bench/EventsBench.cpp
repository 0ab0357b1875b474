// What recording motion events costs: the CPU the recorder adds to a live
// source (the program's test scene: a moving ball on textured bars with
// faint noise) while it only keeps the pre-roll, and while it writes an
// event; and the memory of a 5-second pre-roll. Each case runs the live
// scene for a few seconds; CPU is the whole process's, in per cent of one
// core, so compare a case with its "no recorder" baseline.

#include "bench/BenchSupport.h"
#include "capture/Catalog.h"
#include "events/EventRecorder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace {

// The test scene as the capture layer runs it, its BGR frames handed to `recorder`.
class TScene {
public:
    TScene(int width, int height, TEventRecorder* recorder) : FRecorder(recorder) {
        const std::string description =
            TestSceneDescription(width, height, 30).toStdString() +
            " ! videoconvert ! video/x-raw,format=BGR ! appsink name=sink sync=false "
            "max-buffers=2 drop=true";
        FPipeline = gst_parse_launch(description.c_str(), nullptr);
        GstElement* sink = gst_bin_get_by_name(GST_BIN(FPipeline), "sink");
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* from, gpointer self) {
            GstSample* sample = gst_app_sink_pull_sample(from);
            auto* scene = static_cast<TScene*>(self);
            scene->Frames.fetch_add(1);
            if (sample && scene->FRecorder) {
                scene->FRecorder->OnSourceFrame(sample);
            }
            if (sample) {
                gst_sample_unref(sample);
            }
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
        gst_element_set_state(FPipeline, GST_STATE_PLAYING);
    }
    ~TScene() {
        gst_element_set_state(FPipeline, GST_STATE_NULL);
        gst_object_unref(FPipeline);
    }

    std::atomic<int> Frames{0};

private:
    TEventRecorder* FRecorder;
    GstElement* FPipeline = nullptr;
};

enum TMode { NoRecorder, PreRollOnly, WritingAnEvent };

void BM_Recording(benchmark::State& state) {
    gst_init(nullptr, nullptr);
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const auto mode = static_cast<TMode>(state.range(2));
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "stirwatch-events-bench";
    std::filesystem::remove_all(folder);
    TEventSettings settings;
    settings.Folder = folder.string();
    settings.PreRollSeconds = 5;
    settings.PostRollSeconds = 1;
    std::unique_ptr<TEventRecorder> recorder;
    if (mode != NoRecorder) {
        recorder = std::make_unique<TEventRecorder>(settings, nullptr);
    }
    for (auto _ : state) {
        TScene scene(width, height, recorder.get());
        std::this_thread::sleep_for(std::chrono::seconds(6)); // the pre-roll fills
        const int framesBefore = scene.Frames.load();
        const TCpuUse use = MeasureCpu([&] {
            constexpr int Seconds = 5;
            for (int tenth = 0; tenth < Seconds * 10; ++tenth) {
                if (mode == WritingAnEvent) {
                    recorder->Movement();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        state.counters["cpu_%"] = use.Percent;
        state.counters["fps"] = (scene.Frames.load() - framesBefore) / use.Seconds;
        if (recorder) {
            state.counters["preroll_MB"] = recorder->PreRollBytes() / 1048576.0;
            state.counters["dropped"] = static_cast<double>(recorder->DroppedFrames());
        }
    }
    recorder.reset();
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Recording)
    ->ArgNames({"width", "height", "mode"})
    ->Args({640, 480, NoRecorder})
    ->Args({640, 480, PreRollOnly})
    ->Args({640, 480, WritingAnEvent})
    ->Args({1920, 1080, NoRecorder})
    ->Args({1920, 1080, PreRollOnly})
    ->Args({1920, 1080, WritingAnEvent})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
