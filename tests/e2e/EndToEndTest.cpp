// The whole program as a user meets it, on a real X server: the program's
// own start-up and shut-down, driven through its buttons and menus by mouse
// clicks, with the capture layer's moving test scene as the camera. Run twice
// in a row on the same settings, so the second run sees what the first saved.
//
// Screenshots of each window go to STIRWATCH_SCREENSHOT_DIR (default: the
// folder "e2e-screenshots" in the current folder at start).

#include "app/EventRecording.h"
#include "app/Program.h"
#include "app/TTimer.h"
#include "app/WVideo.h"
#include "tests/TestGuards.h"

#include "../events/EventTestSupport.h"

#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"
#include "windows/VideoFormUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The stage the run is in, printed as it starts, so that a run that hangs
// says where; the watchdog ends a run that hangs well before the test
// runner's own limit, naming that stage.
std::atomic<const char*> CurrentStage{"start"};

void Stage(const char* name) {
    CurrentStage = name;
    std::printf("[ STAGE    ] %s\n", name);
    std::fflush(stdout);
}

class TWatchdog {
public:
    explicit TWatchdog(std::chrono::seconds limit)
        : FThread([this, limit] {
              std::unique_lock lock(FMutex);
              if (!FDone.wait_for(lock, limit, [this] { return FStopped; })) {
                  std::fprintf(stderr, "[ HUNG     ] no end after %lld s, in stage: %s\n",
                               static_cast<long long>(limit.count()), CurrentStage.load());
                  std::fflush(stderr);
                  std::abort();
              }
          }) {}
    ~TWatchdog() {
        {
            const std::lock_guard lock(FMutex);
            FStopped = true;
        }
        FDone.notify_all();
        FThread.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    std::mutex FMutex;
    std::condition_variable FDone;
    bool FStopped = false;
    std::thread FThread;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Closes every error box the program shows and keeps its text, so that an
// unexpected error fails the test instead of blocking it.
class ErrorBoxWatcher : public QObject {
public:
    ErrorBoxWatcher() {
        connect(&Poll, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Texts.push_back(box->windowTitle() + ": " + box->text());
                box->accept();
            }
        });
        Poll.start(50);
    }
    QTimer Poll;
    QStringList Texts;
};

struct Folders {
    QTemporaryDir Config;
    QTemporaryDir Work;
    QTemporaryDir Logs;
    QTemporaryDir Events;
    QString Screenshots;
};

void SaveScreenshot(const Folders& folders, QWidget* window, const QString& name) {
    QDir().mkpath(folders.Screenshots);
    window->grab().save(QDir(folders.Screenshots).filePath(name + ".png"));
}

void Click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Opens a menu of the menu bar and clicks one of its items, as a person does.
void ChooseMenuItem(TVideo& window, QMenu* menu, QAction* item) {
    QMenuBar* bar = window.menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
}

int CountPixels(const QImage& image, auto&& test) {
    int count = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            count += test(QColor(rgb.pixel(x, y))) ? 1 : 0;
        }
    }
    return count;
}

std::uint32_t LittleEndian(const QByteArray& bytes, int offset, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    }
    return value;
}

void CheckFirstStart(TVideo& window, const Folders& folders) {
    EXPECT_EQ(window.windowTitle(), "Stirwatch");
    EXPECT_EQ(window.centralWidget()->height() + window.menuBar()->height() +
                  window.statusBar()->height(),
              window.height());
    EXPECT_EQ(window.width(), 635);
    ASSERT_TRUE(VideoForm && ImageForm && window.DirectionForm);
    const std::pair<BaseForm*, QString> windows[] = {{VideoForm, "Live Video"},
                                                     {ImageForm, "Differential image"},
                                                     {window.DirectionForm, "DirectionForm"}};
    for (const auto& [form, caption] : windows) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form)) << caption.toStdString();
        EXPECT_EQ(form->windowTitle(), caption);
    }
    EXPECT_EQ(VideoForm->size(), QSize(320, 240));
    EXPECT_EQ(ImageForm->size(), QSize(320, 240));
    EXPECT_EQ(window.DirectionForm->size(), QSize(116, 109));
    EXPECT_EQ(window.VideoLabel->text(), "Idle");
    SaveScreenshot(folders, &window, "main-window-idle");
}

void CheckLiveVideo(TVideo& window, const Folders& folders) {
    Click(window.SpeedButton3);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.VideoLabel->text().startsWith("Connected"); }, 30000))
        << window.VideoLabel->text().toStdString();
    const QImage first = VideoForm->grab().toImage();
    EXPECT_TRUE(QTest::qWaitFor([&] { return VideoForm->grab().toImage() != first; }, 30000))
        << "the live video window does not move";
    SaveScreenshot(folders, VideoForm, "live-video");
    EXPECT_NE(window.VideoLabel->text(), "Idle");
}

void CheckEvolveOne(TVideo& window, const Folders& folders) {
    auto pure = [](int hue) {
        return [hue](const QColor& c) {
            const int channels[] = {c.red(), c.green(), c.blue()};
            for (int i = 0; i < 3; ++i) {
                if ((i == hue) != (channels[i] > 0)) {
                    return false;
                }
            }
            return true;
        };
    };
    // Steps until one finds the ball moved far enough to leave brighter and
    // darker pixels; a loaded machine may take a while.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QTest::qWait(100);
            Click(window.SpeedButton12);
            const QImage picture = ImageForm->Image->Picture();
            return window.PixNumLab->text().toInt() > 0 && CountPixels(picture, pure(0)) > 0 &&
                   CountPixels(picture, pure(2)) > 0;
        },
        30000));
    const QImage difference = ImageForm->Image->Picture();
    EXPECT_GT(CountPixels(difference, pure(0)), 0) << "no brighter (red) pixels";
    EXPECT_GT(CountPixels(difference, pure(2)), 0) << "no darker (blue) pixels";
    EXPECT_GT(CountPixels(difference, [](const QColor& c) { return c == QColor(0, 128, 0); }), 0)
        << "no direction marker";
    EXPECT_GT(CountPixels(window.DirectionForm->Bitmap(),
                          [](const QColor& c) { return c == QColor(255, 0, 0); }),
              0)
        << "no red direction line";
    SaveScreenshot(folders, ImageForm, "differential-image");
    // The window shows the central part of a larger frame; keep the whole picture too.
    difference.save(QDir(folders.Screenshots).filePath("difference-picture.png"));
    SaveScreenshot(folders, window.DirectionForm, "direction");
}

// Runs `act` once `form` is shown (from inside its modal loop), however long
// a loaded machine takes to open it.
void WhenShown(QWidget* form, std::function<void()> act) {
    auto* poll = new QTimer(form);
    QObject::connect(poll, &QTimer::timeout, form, [form, poll, act = std::move(act)] {
        if (form->isVisible()) {
            poll->stop();
            poll->deleteLater();
            act();
        }
    });
    poll->start(20);
}

void Configure(TVideo& window, const Folders& folders) {
    WhenShown(ConfigForm, [&] {
        ConfigForm->PageControl->setCurrentIndex(0);
        Click(ConfigForm->SaveOMBox);
        Click(ConfigForm->LogInAutoCheck);
        ConfigForm->LogDirEdit->setText(folders.Logs.path());
        SaveScreenshot(folders, ConfigForm, "configuration");
        // Motion events: one second before the first movement and after the last.
        ConfigForm->PageControl->setCurrentWidget(ConfigForm->RecordingSheet);
        Click(ConfigForm->RecordOnMoveCheck);
        ConfigForm->PreRollEdit->SetValue(1);
        ConfigForm->PostRollEdit->SetValue(1);
        ConfigForm->EventsDirEdit->setText(folders.Events.path() + "/Stirwatch");
        SaveScreenshot(folders, ConfigForm, "configuration-recording");
        Click(ConfigForm->CloseBtn);
    });
    ChooseMenuItem(window, window.Window1, window.Configuration1);
    EXPECT_FALSE(ConfigForm->isVisible());
    EXPECT_TRUE(ConfigForm->SaveOMBox->isChecked());
    EXPECT_TRUE(ConfigForm->LogInAutoCheck->isChecked());
    EXPECT_TRUE(ConfigForm->RecordOnMoveCheck->isChecked());
}

void CheckAutomaticMode(TVideo& window, const Folders& folders) {
    ASSERT_TRUE(QDir().mkdir("images"));
    window.MinMoveSpinBox->SetValue(0);
    // A tick that comes while the step before is still being taken is
    // skipped: the log has one record per step reported, not per tick.
    int ticks = 0;
    int steps = 0;
    QObject::connect(window.Timer1, &TTimer::OnTimer, &window, [&] { ++ticks; });
    QObject::connect(&window, &TVideo::StepReported, &window, [&] { ++steps; });
    const std::uint64_t skippedBefore = window.StepRunner().Skipped();
    std::vector<TEventStatus> reports;
    QObject::connect(window.Events(), &TEventRecording::Reported, &window,
                     [&](const TEventStatus& status) { reports.push_back(status); });
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    Click(window.AutoBut);
    // A dozen steps, and the event they make is shown as being recorded.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return steps >= 12 && window.EventStatusLabel->text().startsWith("Recording event ");
        },
        60000))
        << steps << " steps; " << window.EventStatusLabel->text().toStdString();
    SaveScreenshot(folders, &window, "main-window-auto");
    Click(window.AutoBut);
    // The monotonic clock, as the recorder's: every movement fell in it.
    const auto runTime = static_cast<GstClockTime>(wall.nsecsElapsed());
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const auto skipped = static_cast<int>(window.StepRunner().Skipped() - skippedBefore);
    std::printf("[ MEASURE  ] automatic mode at %d ms: %d steps (%d ticks skipped) in %lld ms, "
                "CPU %.1f %%\n",
                window.CapSpeedSpinBox->Value(), steps, skipped,
                static_cast<long long>(wall.elapsed()), 100.0 * cpu / (wall.elapsed() / 1000.0));
    EXPECT_GT(steps, 3);
    // Every tick was either taken or skipped, and every step taken was
    // reported: stopping reports the step still on its way.
    EXPECT_EQ(steps + skipped, ticks);

    const QStringList logs = QDir(folders.Logs.path()).entryList({"movement_*.csv"}, QDir::Files);
    ASSERT_EQ(logs.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^movement_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d-\d{3}\.csv$)")
                    .match(logs[0])
                    .hasMatch());
    QFile log(QDir(folders.Logs.path()).filePath(logs[0]));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(log.readAll());
    EXPECT_TRUE(text.endsWith("\r\n"));
    const QStringList records = text.split("\r\n", Qt::SkipEmptyParts);
    EXPECT_EQ(records.size(), steps);
    const QRegularExpression record(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}, \d+, \d+$)");
    for (const QString& line : records) {
        EXPECT_TRUE(record.match(line).hasMatch()) << line.toStdString();
    }

    const QStringList images = QDir("images").entryList({"*.bmp"}, QDir::Files);
    EXPECT_FALSE(images.isEmpty());
    for (const QString& name : images) {
        QFile file(QDir("images").filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        ASSERT_GE(bytes.size(), 54);
        EXPECT_TRUE(bytes.startsWith("BM"));
        EXPECT_EQ(LittleEndian(bytes, 28, 2), 24u) << name.toStdString();
        EXPECT_EQ(static_cast<int>(LittleEndian(bytes, 18, 4)),
                  window.Engine()->PreviousFrame().Width());
        EXPECT_EQ(static_cast<int>(LittleEndian(bytes, 22, 4)),
                  window.Engine()->PreviousFrame().Height());
        EXPECT_FALSE(QImage(file.fileName()).isNull());
    }

    // Every step moved, so the run is one event: a video file that plays,
    // named on the status line once it is written.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.StatusBar1->currentMessage().startsWith("Event saved: "); }, 20000))
        << window.StatusBar1->currentMessage().toStdString();
    const QDir events(folders.Events.path() + "/Stirwatch");
    const QStringList clips = events.entryList({"*.mp4", "*.webm"}, QDir::Files);
    ASSERT_EQ(clips.size(), 1);
    EXPECT_EQ(window.StatusBar1->currentMessage(), "Event saved: " + clips[0]);
    // As the recorder timed it: the pre-roll (recording was turned on just
    // before the run, so it may be short), the run's movement, and the
    // second after the last movement. The file holds what the recorder said.
    const auto saved = std::find_if(reports.begin(), reports.end(), [](const auto& status) {
        return status.Kind == TEventStatus::Saved;
    });
    ASSERT_NE(saved, reports.end());
    EXPECT_EQ(QString::fromStdString(saved->Path), events.filePath(clips[0]));
    const GstClockTime frame = GST_SECOND / 30;
    EXPECT_GE(saved->PostRoll, GST_SECOND);
    ASSERT_GT(saved->Duration, saved->PreRoll + saved->PostRoll) << "one movement only";
    EXPECT_LT(saved->Duration - saved->PreRoll - saved->PostRoll, runTime);
    const GstClockTime duration = DiscoveredDuration(events.filePath(clips[0]).toStdString());
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    EXPECT_NEAR(static_cast<double>(duration), static_cast<double>(saved->Duration), frame);
    EXPECT_TRUE(window.EventStatusLabel->text().isEmpty()) << "no event runs any more";
    EXPECT_GT(DecodedFrames(events.filePath(clips[0]).toStdString()), 0);
}

void FirstRun(TVideo& window, const Folders& folders) {
    Stage("first start");
    CheckFirstStart(window, folders);
    Stage("live video");
    CheckLiveVideo(window, folders);
    Stage("evolve one");
    CheckEvolveOne(window, folders);
    Stage("configuration");
    Configure(window, folders);
    Stage("automatic mode");
    CheckAutomaticMode(window, folders);
    Stage("placement");
    Click(window.SpeedButton7);
    // Values and a placement the second run must find again.
    window.VariatLimitSpinBox->SetValue(31);
    window.DirectionForm->move(700, 300);
    window.move(40, 520);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return window.frameGeometry().topLeft() == QPoint(40, 520) &&
                   window.DirectionForm->frameGeometry().topLeft() == QPoint(700, 300);
        },
        20000));
}

void SecondRun(TVideo& window, const Folders& folders) {
    Stage("second start");
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    // The stored placement is restored as the windows are shown.
    (void)QTest::qWaitFor(
        [&] {
            return window.frameGeometry().topLeft() == QPoint(40, 520) &&
                   window.DirectionForm->frameGeometry().topLeft() == QPoint(700, 300);
        },
        20000);
    EXPECT_EQ(window.VariatLimitSpinBox->Value(), 31);
    EXPECT_EQ(window.MinMoveSpinBox->Value(), 0);
    EXPECT_TRUE(ConfigForm->SaveOMBox->isChecked());
    EXPECT_TRUE(ConfigForm->LogInAutoCheck->isChecked());
    EXPECT_EQ(ConfigForm->LogDirEdit->text(), folders.Logs.path());
    EXPECT_TRUE(ConfigForm->RecordOnMoveCheck->isChecked());
    EXPECT_EQ(ConfigForm->EventsDirEdit->text(), folders.Events.path() + "/Stirwatch");
    EXPECT_EQ(window.DirectionForm->frameGeometry().topLeft(), QPoint(700, 300));
    EXPECT_EQ(window.frameGeometry().topLeft(), QPoint(40, 520));
    EXPECT_EQ(window.DirectionForm->size(), QSize(116, 109));
}

int RunOnce(const std::function<void(TVideo&)>& drive) {
    static char name[] = "stirwatch";
    char* argv[] = {name, nullptr};
    int argc = 1;
    return RunProgram(argc, argv, [&](TVideo& window) {
        ErrorBoxWatcher errors;
        drive(window);
        EXPECT_TRUE(errors.Texts.isEmpty()) << errors.Texts.join("\n").toStdString();
        Stage("closing");
        window.close();
    });
}

TEST(EndToEnd, TheProgramAsAUserMeetsIt) {
    const TWatchdog watchdog(std::chrono::seconds(400));
    QElapsedTimer wall;
    wall.start();
    Folders folders;
    ASSERT_TRUE(folders.Config.isValid() && folders.Work.isValid() && folders.Logs.isValid() &&
                folders.Events.isValid());
    const QByteArray screenshots = qgetenv("STIRWATCH_SCREENSHOT_DIR");
    folders.Screenshots =
        QDir(QDir::currentPath())
            .absoluteFilePath(screenshots.isEmpty() ? "e2e-screenshots" : QString(screenshots));
    const TScopedEnv configHome("XDG_CONFIG_HOME", folders.Config.path().toStdString());
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    const TScopedCurrentFolder inWorkFolder(folders.Work.path().toStdString());

    EXPECT_EQ(RunOnce([&](TVideo& window) { FirstRun(window, folders); }), 0);
    EXPECT_EQ(RunOnce([&](TVideo& window) { SecondRun(window, folders); }), 0);

    std::printf("[ MEASURE  ] end-to-end wall time %lld ms\n",
                static_cast<long long>(wall.elapsed()));
}

} // namespace
