// Cost of the capture road: one grab (grab, clipboard, read back, conversion
// to the 24-bit frame) and the CPU use of live preview of a 1080p/30 scene.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "EventLoop.h"
#include "FakeCamera.h"
#include "bench/BenchSupport.h"
#include "capture/CaptureWindow.h"
#include "capture/Clipboard.h"
#include "capture/VideoCap.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// A still frame of the given size, new at every grab.
std::unique_ptr<TDriverCatalog> StillCatalog(int width, int height) {
    QImage frame(width, height, QImage::Format_BGR888);
    frame.fill(QColor(30, 60, 90));
    return TFakeCatalog::Single("Still frame", std::vector<QImage>{frame});
}

void BM_GrabToBitmap(benchmark::State& state) {
    SetDriverCatalog(
        StillCatalog(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    QWidget panel;
    panel.resize(320, 240);
    SetVideoPanel(&panel);
    ConnectCamera();
    for (auto _ : state) {
        GrabFrameToClipboard();
        TBitmap taken; // the frame step starts from an empty image every time
        TakeClipboardBitmap(taken);
        benchmark::DoNotOptimize(taken.ScanLine(0));
        ResumePreview();
    }
    DisconnectCamera();
    SetDriverCatalog(nullptr);
}
BENCHMARK(BM_GrabToBitmap)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// A grab from the real test scene at 30 fps: includes the wait for the next frame.
// The source connects on a thread of its own, so the grabs start at its first
// frame; before it, a grab finds no live source and returns at once.
void BM_GrabFromLiveScene(benchmark::State& state) {
    qputenv("STIRWATCH_SOURCE", "videotestsrc is-live=true pattern=ball ! "
                                "video/x-raw,width=640,height=480,framerate=30/1");
    QWidget panel;
    panel.resize(320, 240);
    SetVideoPanel(&panel);
    ConnectCamera();
    bool ready = false;
    WhenFrameReady(&panel, [&ready] { ready = true; });
    if (!RunEventsUntil([&ready] { return ready; }, 60000)) {
        state.SkipWithError("the test scene delivered no frame");
    }
    for (auto _ : state) {
        GrabFrameToClipboard();
        TBitmap taken;
        TakeClipboardBitmap(taken);
        if (taken.Width() == 0) {
            state.SkipWithError("a grab gave no frame");
            break;
        }
        benchmark::DoNotOptimize(taken.ScanLine(0));
        ResumePreview();
    }
    DisconnectCamera();
    qunsetenv("STIRWATCH_SOURCE");
}
BENCHMARK(BM_GrabFromLiveScene)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(60);

// Live preview of a 1080p/30 scene in a 640x480 panel for 10 seconds: CPU
// time of the whole process (pipeline threads included) per wall second.
// First argument: 1 shows the panel (frames are painted), 0 leaves it hidden.
// Second argument: 0 the moving ball (drawing it costs the test source a lot),
// 1 one still frame repeated (free to make, so the figure is the display path's).
void BM_LivePreview1080p(benchmark::State& state) {
    qputenv("STIRWATCH_SOURCE", state.range(1) == 0
                                    ? "videotestsrc is-live=true pattern=ball ! "
                                      "video/x-raw,width=1920,height=1080,framerate=30/1"
                                    : "videotestsrc num-buffers=1 pattern=ball ! "
                                      "video/x-raw,format=BGR,width=1920,height=1080 ! "
                                      "imagefreeze is-live=true ! video/x-raw,framerate=30/1");
    QWidget panel;
    panel.resize(640, 480);
    panel.setVisible(state.range(0) != 0);
    SetVideoPanel(&panel);
    ConnectCamera();
    ResumePreview();
    RunEventsFor(1000);
    for (auto _ : state) {
        state.counters["cpu_percent"] = MeasureCpu([] { RunEventsFor(10000); }).Percent;
        state.counters["frames_shown"] =
            static_cast<double>(qobject_cast<TCaptureWindow*>(CaptureWindow)->DisplayedFrames());
    }
    DisconnectCamera();
    qunsetenv("STIRWATCH_SOURCE");
}
BENCHMARK(BM_LivePreview1080p)
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    return RunBenchmarks(argc, argv) ? 0 : 1;
}
