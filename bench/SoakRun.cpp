// A long run of the whole program as it is left running for days: automatic
// mode at 10 ms on the built-in test scene, with the movement log and "Record
// On Move" on. The movement is switched on and off every few seconds, so that
// events start and end all the time (one every 3 seconds). Every 10,000 steps a line gives the
// resident memory, the C library's heap (what is in use, what its pools hold
// free, and how many pools there are: so that a leak is told apart from
// memory kept by the allocator), the open descriptors and the threads; at
// the end, the growth of each per 10,000 steps with its standard error (a
// least-squares line through the samples from 10,000 steps on; the first ones
// still carry the warm-up).
//
// Usage: stirwatch_soak [minutes] (default: $SOAK_MINUTES, else 20).

#include "app/EventRecording.h"
#include "app/Program.h"
#include "app/TApplication.h"
#include "app/WVideo.h"
#include "bench/FirstFrameWait.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr long StepsPerSample = 10000;
constexpr int MovementToggleMs = 1500;

// One second, or $SOAK_POST_ROLL: 0 ends an event at every step without
// movement, for hunting a cost per event.
int PostRollSeconds() {
    const char* setting = std::getenv("SOAK_POST_ROLL");
    return setting ? std::atoi(setting) : 1;
}

struct TSample {
    long Steps = 0;
    double Seconds = 0;
    long RssKb = 0;
    long HeapInUseKb = 0;
    long HeapFreeKb = 0;
    long Arenas = 0;
    long Descriptors = 0;
    long Threads = 0;
    long Events = 0;
};

long StatusField(const std::string& name) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, name.size() + 1, name + ":") == 0) {
            return std::atol(line.c_str() + name.size() + 1);
        }
    }
    return -1;
}

long OpenDescriptors() {
    return static_cast<long>(QDir("/proc/self/fd")
                                 .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                 .size());
}

// The allocator's pools: malloc_info() gives one <heap> element for each.
long ArenaCount() {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* stream = open_memstream(&text, &size);
    if (!stream) {
        return -1;
    }
    malloc_info(0, stream);
    std::fclose(stream);
    long count = 0;
    for (const char* at = text; (at = std::strstr(at, "<heap nr=")) != nullptr; ++at) {
        ++count;
    }
    std::free(text);
    return count;
}

struct TGrowth {
    double Slope = 0; // per 10,000 steps
    double Error = 0; // the slope's standard error: what the scatter allows
};

// A least-squares line of value over steps, through the samples from 10,000
// steps on (the first ones still carry the warm-up).
TGrowth GrowthOf(const std::vector<TSample>& samples, long TSample::*value) {
    std::vector<std::pair<double, double>> points;
    for (const TSample& sample : samples) {
        if (sample.Steps >= StepsPerSample) {
            points.emplace_back(static_cast<double>(sample.Steps) / StepsPerSample,
                                static_cast<double>(sample.*value));
        }
    }
    if (points.size() < 3) {
        return {};
    }
    const double n = static_cast<double>(points.size());
    double meanX = 0, meanY = 0;
    for (const auto& [x, y] : points) {
        meanX += x / n;
        meanY += y / n;
    }
    double sxx = 0, sxy = 0;
    for (const auto& [x, y] : points) {
        sxx += (x - meanX) * (x - meanX);
        sxy += (x - meanX) * (y - meanY);
    }
    if (sxx == 0) {
        return {};
    }
    TGrowth growth;
    growth.Slope = sxy / sxx;
    double residuals = 0;
    for (const auto& [x, y] : points) {
        const double off = y - meanY - growth.Slope * (x - meanX);
        residuals += off * off;
    }
    growth.Error = std::sqrt(residuals / (n - 2) / sxx);
    return growth;
}

void PrintGrowth(const char* name, const char* unit, const std::vector<TSample>& samples,
                 long TSample::*value) {
    const TGrowth growth = GrowthOf(samples, value);
    std::printf("  %-14s %+9.2f +- %.2f %s\n", name, growth.Slope, growth.Error, unit);
}

class TSoak : public QObject {
public:
    TSoak(TVideo& window, double minutes) : Window(window), Minutes(minutes) {}

    void Start() {
        ConfigForm->LogInAutoCheck->setChecked(true);
        ConfigForm->LogDirEdit->setText(Folders.path() + "/logs");
        ConfigForm->RecordOnMoveCheck->setChecked(true);
        ConfigForm->PreRollEdit->SetValue(1);
        ConfigForm->PostRollEdit->SetValue(PostRollSeconds());
        ConfigForm->EventsLimitEdit->SetValue(20); // MB: old events are removed all along
        ConfigForm->EventsDirEdit->setText(Folders.path() + "/events");
        QDir().mkpath(Folders.path() + "/logs");
        Window.Events()->Apply(*ConfigForm);
        Window.CapSpeedSpinBox->SetValue(10);
        connect(&Window, &TVideo::StepReported, this, [this] { Step(); });
        connect(Window.StatusBar1, &QStatusBar::messageChanged, this, [this](const QString& text) {
            Events += text.startsWith("Event saved") ? 1 : 0;
            if (text.startsWith("Event recording failed") || text.startsWith("Event lost") ||
                text.startsWith("Event encoder")) {
                std::printf("status: %s\n", text.toLocal8Bit().constData());
            }
        });
        Window.StartVideo();
        AfterFirstFrame(Window, *this, [this] { Begin(); });
    }

private:
    void Begin() {
        Clock.start();
        std::printf("%10s %9s %8s %10s %10s %10s %7s %5s %8s\n", "steps", "seconds", "events",
                    "RSS (KB)", "heap (KB)", "free (KB)", "arenas", "fds", "threads");
        Window.AutoButClick();
        connect(&Toggle, &QTimer::timeout, this, [this] {
            Moving = !Moving;
            Window.MinMoveSpinBox->SetValue(Moving ? 0 : INT_MAX);
        });
        Toggle.start(MovementToggleMs);
        QTimer::singleShot(static_cast<int>(Minutes * 60000), this, [this] { Finish(); });
        Sample();
    }

    void Step() {
        if (++Steps % SampleSteps == 0) {
            Sample();
        }
    }

    void Sample() {
        // In use: small blocks plus the large ones mapped on their own.
        const struct mallinfo2 heap = mallinfo2();
        TSample sample{Steps,
                       Clock.elapsed() / 1000.0,
                       StatusField("VmRSS"),
                       static_cast<long>((heap.uordblks + heap.hblkhd) / 1024),
                       static_cast<long>(heap.fordblks / 1024),
                       ArenaCount(),
                       OpenDescriptors(),
                       StatusField("Threads"),
                       Events};
        Samples.push_back(sample);
        std::printf("%10ld %9.0f %8ld %10ld %10ld %10ld %7ld %5ld %8ld\n", sample.Steps,
                    sample.Seconds, sample.Events, sample.RssKb, sample.HeapInUseKb,
                    sample.HeapFreeKb, sample.Arenas, sample.Descriptors, sample.Threads);
        std::fflush(stdout);
    }

    void Finish() {
        Sample();
        Window.AutoButClick();
        std::printf("%ld events in %ld steps; growth per %ld steps from %ld steps on "
                    "(+- its standard error):\n",
                    Events, Steps, StepsPerSample, StepsPerSample);
        PrintGrowth("RSS", "KB", Samples, &TSample::RssKb);
        PrintGrowth("heap in use", "KB", Samples, &TSample::HeapInUseKb);
        PrintGrowth("heap free", "KB", Samples, &TSample::HeapFreeKb);
        PrintGrowth("arenas", "", Samples, &TSample::Arenas);
        PrintGrowth("descriptors", "", Samples, &TSample::Descriptors);
        PrintGrowth("threads", "", Samples, &TSample::Threads);
        std::fflush(stdout);
        Window.close();
        QCoreApplication::quit();
    }

    TVideo& Window;
    double Minutes;
    QTemporaryDir Folders;
    QTimer Toggle;
    QElapsedTimer Clock;
    bool Moving = true;
    long Steps = 0;
    long Events = 0;
    // Samples are taken this often ($SOAK_SAMPLE_STEPS); growth is still given per 10,000 steps.
    long SampleSteps = std::getenv("SOAK_SAMPLE_STEPS")
                           ? std::atol(std::getenv("SOAK_SAMPLE_STEPS"))
                           : StepsPerSample;
    std::vector<TSample> Samples;
};

} // namespace

int main(int argc, char** argv) {
    double minutes = 20;
    if (const char* setting = std::getenv("SOAK_MINUTES")) {
        minutes = std::atof(setting);
    }
    if (argc > 1) {
        minutes = std::atof(argv[1]);
    }
    qputenv("STIRWATCH_SOURCE", "test");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The settings of the run stay out of the user's.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    TApplication::SetMessageSink([](const QString&, const QString& text) {
        std::printf("error: %s\n", text.toLocal8Bit().constData());
    });
    std::unique_ptr<TSoak> soak;
    return RunProgram(argc, argv, [&](TVideo& window) {
        soak = std::make_unique<TSoak>(window, minutes);
        soak->Start();
    });
}
