// Cost of the capture road: one grab (grab, clipboard, read back, conversion
// to the 24-bit frame), the live display's sampling of one decoded frame and
// the CPU use of live preview of a 1080p/30 scene.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "EventLoop.h"
#include "FakeCamera.h"
#include "bench/BenchSupport.h"
#include "capture/CaptureWindow.h"
#include "capture/Clipboard.h"
#include "capture/FrameConversion.h"
#include "capture/VideoCap.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

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

// A decoded frame of smooth gradients in one of the decoders' formats, planes
// packed one after the other as a decoder hands them over.
struct TDecodedFrame {
    std::vector<std::uint8_t> Bytes;
    TFrameView View;

    TDecodedFrame(TFrameFormat format, int width, int height) {
        const int lumaStride = format == TFrameFormat::Bgr24 ? 3 * width : width;
        const int chromaStride = format == TFrameFormat::Nv12 ? width : width / 2;
        const std::size_t lumaBytes = std::size_t(lumaStride) * height;
        const std::size_t chromaBytes = std::size_t(width / 2) * (height / 2);
        Bytes.resize(lumaBytes + 2 * chromaBytes);
        for (std::size_t k = 0; k < Bytes.size(); ++k) {
            Bytes[k] = static_cast<std::uint8_t>(k % lumaStride + k / lumaStride);
        }
        View.Format = format;
        View.Width = width;
        View.Height = height;
        View.Colors = TYuvColors::Bt601Studio;
        View.Plane[0] = Bytes.data();
        View.Stride[0] = lumaStride;
        View.Plane[1] = Bytes.data() + lumaBytes;
        View.Stride[1] = chromaStride;
        View.Plane[2] = Bytes.data() + lumaBytes + chromaBytes;
        View.Stride[2] = width / 2;
    }
};

// The live display's sampling of one whole frame (what the picture sampler's
// thread does per repaint): arguments are the format (0 I420, 1 NV12, 2 BGR),
// the frame's size and the size shown. 320x240 and 320x180 are what the live
// video window shows of a 640x480 and a 1920x1080 source.
void BM_SampleFrameForScreen(benchmark::State& state) {
    constexpr TFrameFormat Formats[] = {TFrameFormat::I420, TFrameFormat::Nv12,
                                        TFrameFormat::Bgr24};
    const int width = static_cast<int>(state.range(1));
    const int height = static_cast<int>(state.range(2));
    const TDecodedFrame frame(Formats[state.range(0)], width, height);
    const QSize shown(static_cast<int>(state.range(3)), static_cast<int>(state.range(4)));
    QImage picture;
    TScreenSampling work;
    for (auto _ : state) {
        SampleFrameForScreen(frame.View, QRect(0, 0, width, height), shown, picture, work);
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_SampleFrameForScreen)
    ->ArgNames({"format", "w", "h", "shown_w", "shown_h"})
    ->Args({0, 640, 480, 320, 240})
    ->Args({1, 640, 480, 320, 240})
    ->Args({2, 640, 480, 320, 240})
    ->Args({0, 640, 480, 640, 480})
    ->Args({1, 640, 480, 640, 480})
    ->Args({0, 640, 480, 500, 375})
    ->Args({0, 1920, 1080, 320, 180})
    ->Args({1, 1920, 1080, 320, 180})
    ->Args({0, 1920, 1080, 640, 360})
    ->Unit(benchmark::kMicrosecond);

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
