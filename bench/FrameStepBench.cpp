// Cost of one complete frame step of the main window, from the grab to the end
// of reporting (read-outs, meter, graph, both auxiliary windows), and the CPU
// use of automatic mode on a live 1080p scene. Runs the real main window on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "EventLoop.h"
#include "FakeCamera.h"
#include "analysis/FrameDifferencing.h"
#include "analysis/GrayConversion.h"
#include "app/TApplication.h"
#include "app/WVideo.h"
#include "bench/BenchSupport.h"
#include "capture/VideoCap.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QToolButton>

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// A camera whose every frame shows a disc a little further to the right on a
// gradient, so that each step finds real movement; frames come without waiting.
std::unique_ptr<TDriverCatalog> MovingDiscCatalog(int width, int height) {
    std::vector<QImage> frames;
    for (int i = 0; i < 2; ++i) {
        QImage frame(width, height, QImage::Format_BGR888);
        QPainter painter(&frame);
        QLinearGradient gradient(0, 0, width, height);
        gradient.setColorAt(0, QColor(20, 40, 60));
        gradient.setColorAt(1, QColor(120, 160, 200));
        painter.fillRect(frame.rect(), gradient);
        painter.setBrush(Qt::white);
        const int radius = height / 8;
        painter.drawEllipse(QPoint(width / 3 + i * radius / 2, height / 2), radius, radius);
        painter.end();
        frames.push_back(frame);
    }
    return TFakeCatalog::Single("Moving disc", std::move(frames));
}

// The program's main window as the program builds it, settings in a fresh folder.
struct TProgramWindow {
    TProgramWindow() {
        qputenv("XDG_CONFIG_HOME", ConfigHome.path().toUtf8());
        CreateConfigForm();
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        QCoreApplication::processEvents();
    }
    ~TProgramWindow() {
        Window->close();
        Window.reset();
        DestroyConfigForm();
    }
    QTemporaryDir ConfigHome;
    std::unique_ptr<TVideo> Window;
};

void BM_EvolveOne(benchmark::State& state) {
    SetDriverCatalog(
        MovingDiscCatalog(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
    TProgramWindow program;
    program.Window->StartVideo();
    for (auto _ : state) {
        program.Window->EvolveOne();
    }
    state.counters["changed_pixels"] = program.Window->PixNumLab->text().toDouble();
    program.Window->StopVideo();
    SetDriverCatalog(nullptr);
}
BENCHMARK(BM_EvolveOne)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// What a frame step cannot do without, on the same frames: one copy of the
// 24-bit frame, its gray conversion and the comparison with the gray frame
// before. BM_EvolveOne is measured against this.
void BM_StepKernels(benchmark::State& state) {
    const auto catalog =
        MovingDiscCatalog(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const auto driver = catalog->Open(0);
    TBitmap colour[2];
    for (TBitmap& frame : colour) {
        driver->WaitForFrameAfter(driver->NewestFrameNumber(), std::chrono::milliseconds(0));
        driver->WithNewestFrame([&](const QImage& image) {
            frame.Allocate(image.width(), image.height(), pf24bit);
            for (int y = 0; y < image.height(); ++y) {
                std::memcpy(frame.ScanLine(y), image.constScanLine(y),
                            3 * std::size_t(image.width()));
            }
        });
    }
    TBitmap copy, gray[2], difference;
    ConvertToGray(colour[0], gray[0]);
    copy.Allocate(colour[0].Width(), colour[0].Height(), pf24bit);
    const std::size_t bytes = colour[0].Stride() * static_cast<std::size_t>(colour[0].Height());
    TDifferenceResult result;
    int i = 1;
    for (auto _ : state) {
        std::memcpy(copy.ScanLine(0), colour[i].ScanLine(0), bytes);
        ConvertToGray(copy, gray[i]);
        CompareFrames(gray[1 - i], gray[i], difference, 20, result);
        benchmark::DoNotOptimize(result);
        i = 1 - i;
    }
}
BENCHMARK(BM_StepKernels)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

// Automatic mode at a capture frequency of 33 ms on a live 1080p/30 test
// scene for 10 seconds: CPU time of the whole process (pipeline threads
// included) per wall second, and the steps taken.
void BM_AutoMode1080p33ms(benchmark::State& state) {
    qputenv("STIRWATCH_SOURCE", "videotestsrc is-live=true pattern=ball ! "
                                "video/x-raw,width=1920,height=1080,framerate=30/1");
    TProgramWindow program;
    TVideo& window = *program.Window;
    window.StartVideo();
    window.CapSpeedSpinBox->SetValue(33);
    int steps = 0;
    QObject::connect(&window, &TVideo::StepReported, &window, [&] { ++steps; });
    RunEventsFor(1000);
    for (auto _ : state) {
        window.AutoButClick();
        const TCpuUse use = MeasureCpu([] { RunEventsFor(10000); });
        window.AutoButClick();
        state.counters["cpu_percent"] = use.Percent;
        state.counters["steps_per_second"] = steps / use.Seconds;
    }
    window.StopVideo();
    qunsetenv("STIRWATCH_SOURCE");
}
BENCHMARK(BM_AutoMode1080p33ms)->Iterations(1)->Unit(benchmark::kSecond);

// Automatic mode as the program runs it on a live W x H / 30 fps test scene,
// with the live display and the graph on, at a capture frequency of 33 ms:
// the GUI thread's CPU time per automatic step reported (the grab's wait and
// conversion and the comparison run on the step runner's worker, decoding on
// the pipeline's own threads; neither is counted), over 10 seconds.
void BM_AutoStepMainThread(benchmark::State& state) {
    const QString scene = QString("videotestsrc is-live=true pattern=ball ! "
                                  "video/x-raw,width=%1,height=%2,framerate=30/1")
                              .arg(state.range(0))
                              .arg(state.range(1));
    qputenv("STIRWATCH_SOURCE", scene.toUtf8());
    TProgramWindow program;
    TVideo& window = *program.Window;
    window.StartVideo();
    window.CapSpeedSpinBox->SetValue(33);
    RunEventsFor(1000);
    for (auto _ : state) {
        window.AutoButClick();
        const std::uint64_t completed = window.StepRunner().Completed();
        const std::uint64_t skipped = window.StepRunner().Skipped();
        const double cpuBefore = ThreadCpuSeconds();
        RunEventsFor(10000);
        const double cpu = ThreadCpuSeconds() - cpuBefore;
        window.AutoButClick();
        const auto steps = static_cast<double>(window.StepRunner().Completed() - completed);
        state.counters["main_thread_ms_per_step"] = steps > 0 ? 1000.0 * cpu / steps : 0.0;
        state.counters["steps"] = steps;
        state.counters["skipped_ticks"] =
            static_cast<double>(window.StepRunner().Skipped() - skipped);
    }
    window.StopVideo();
    qunsetenv("STIRWATCH_SOURCE");
}
BENCHMARK(BM_AutoStepMainThread)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// Keeps the medians for the ratios of the targets.
class TStepReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" || run.repetitions <= 1) {
                std::string name = run.benchmark_name();
                name = name.substr(0, name.rfind("_median"));
                Cpu[name] = run.GetAdjustedCPUTime();
                if (const auto found = run.counters.find("main_thread_ms_per_step");
                    found != run.counters.end()) {
                    MainThread[name] = found->second.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintTargets() const {
        std::printf("\nTargets (medians, cpu time):\n");
        for (const char* size : {"640/480", "1920/1080"}) {
            const auto step = Cpu.find(std::string("BM_EvolveOne/") + size);
            const auto kernels = Cpu.find(std::string("BM_StepKernels/") + size);
            if (step != Cpu.end() && kernels != Cpu.end()) {
                const double ratio = step->second / kernels->second;
                std::printf("  BM_EvolveOne / (memcpy + ConvertToGray + CompareFrames) at %s = %.2f"
                            "   (target <= 1.50: %s)\n",
                            size, ratio, ratio <= 1.5 ? "met" : "MISSED");
            }
        }
        const std::pair<const char*, double> live[] = {{"640/480", 0.3}, {"1920/1080", 1.0}};
        for (const auto& [size, target] : live) {
            for (const auto& [name, ms] : MainThread) {
                if (name.find(std::string("BM_AutoStepMainThread/") + size) == 0) {
                    std::printf("  GUI thread per automatic step at %s/30 = %.3f ms"
                                "   (target <= %.1f: %s)\n",
                                size, ms, target, ms <= target ? "met" : "MISSED");
                }
            }
        }
    }

private:
    std::map<std::string, double> Cpu;
    std::map<std::string, double> MainThread;
};

} // namespace

int main(int argc, char** argv) {
    UseOffscreenUnlessSet();
    TApplication app(argc, argv);
    TApplication::SetTitle("Stirwatch");
    TApplication::SetMessageSink([](const QString&, const QString& text) {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    });
    TStepReporter reporter;
    if (!RunBenchmarks(argc, argv, 3, &reporter)) {
        return 1;
    }
    reporter.PrintTargets();
    return 0;
}
