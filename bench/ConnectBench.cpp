// Start Video as the user meets it, per kind of source: how long the event
// loop stalls at most while the source connects (the window must stay
// responsive), how long until the first frame, and the frame rate reached.
// Sources: the test scene, an MJPEG AVI file, RTSP and HTTP MJPEG servers on
// 127.0.0.1, a closed RTSP port and an HTTP camera that never sends a frame.

#include "EventLoop.h"
#include "bench/BenchSupport.h"
#include "capture/CaptureWindow.h"
#include "capture/VideoCap.h"
#include "tests/support/MjpegHttpServer.h"
#include "tests/support/RtspTestServer.h"
#include "tests/support/TestMedia.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

namespace {

enum TKind { TestScene, File, Rtsp, Http, ClosedRtspPort, SilentHttp };

std::uint64_t NewestFrame() {
    const TCaptureWindow* window = TCaptureWindow::FromHandle(CaptureWindow);
    return window && window->Driver() ? window->Driver()->NewestFrameNumber() : 0;
}

void BM_StartVideo(benchmark::State& state) {
    const auto kind = static_cast<TKind>(state.range(0));
    QTemporaryDir folder;
    TRtspTestServer rtsp;
    TMjpegHttpServer http(TMjpegMode::Multipart, 640, 480, 30);
    std::string source;
    switch (kind) {
    case TestScene:
        source = "test";
        break;
    case File:
        source = MakeTestClip(folder.path().toStdString(), TClipKind::MjpegAvi, 150, 640, 480, 30);
        break;
    case Rtsp:
        rtsp.Start();
        source = rtsp.Url();
        break;
    case Http:
    case SilentHttp:
        http.Start();
        http.SetStalled(kind == SilentHttp);
        source = http.Url();
        break;
    case ClosedRtspPort:
        source = "rtsp://127.0.0.1:" + std::to_string(TRtspTestServer::UnusedPort()) + "/test";
        break;
    }
    qputenv("STIRWATCH_SOURCE", QByteArray::fromStdString(source));
    QWidget panel;
    panel.resize(320, 240);
    panel.show();
    SetVideoPanel(&panel);
    for (auto _ : state) {
        // A 1 ms timer measures the longest gap between two turns of the event loop.
        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 longestStall = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
            const qint64 now = clock.nsecsElapsed();
            longestStall = std::max(longestStall, now - lastTick);
            lastTick = now;
        });
        ticker.start(1);
        clock.start();
        RunEventsFor(50);
        const qint64 before = clock.nsecsElapsed();
        ConnectCamera();
        StartOverlay();
        const qint64 connectCall = clock.nsecsElapsed() - before;
        longestStall = std::max(longestStall, clock.nsecsElapsed() - lastTick);
        const bool delivered = RunEventsUntil([] { return NewestFrame() > 0; }, 5000);
        const qint64 firstFrame = clock.nsecsElapsed() - before;
        const std::uint64_t framesBefore = NewestFrame();
        QElapsedTimer rate;
        rate.start();
        RunEventsFor(3000);
        const double fps = static_cast<double>(NewestFrame() - framesBefore) * 1000.0 /
                           static_cast<double>(rate.elapsed());
        const qint64 beforeStop = clock.nsecsElapsed();
        DisconnectCamera();
        const qint64 stopCall = clock.nsecsElapsed() - beforeStop;
        state.counters["connect_call_ms"] = static_cast<double>(connectCall) / 1e6;
        state.counters["longest_stall_ms"] = static_cast<double>(longestStall) / 1e6;
        state.counters["first_frame_ms"] = delivered ? static_cast<double>(firstFrame) / 1e6 : -1;
        state.counters["fps"] = fps;
        state.counters["stop_call_ms"] = static_cast<double>(stopCall) / 1e6;
    }
    SetVideoPanel(nullptr);
    qunsetenv("STIRWATCH_SOURCE");
}
BENCHMARK(BM_StartVideo)
    ->ArgName("source")
    ->DenseRange(TestScene, SilentHttp)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    UseOffscreenUnlessSet();
    QApplication app(argc, argv);
    return RunBenchmarks(argc, argv) ? 0 : 1;
}
