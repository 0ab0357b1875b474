// The whole program watching a source as a user leaves it: "Start Video",
// then "Auto" at 100 ms with every window shown, and, when an events folder
// is given, "Record On Move" into it. It runs until it is told to end (SIGTERM
// or SIGINT, which finish a running clip as the program always does), so that
// a benchmark can measure the process from outside, side by side with
// another program watching the same source.
//
// Usage: STIRWATCH_SOURCE=FILE stirwatch_watch_run [EVENTS_FOLDER]
// Prints "watching" once "Auto" runs, and at the end the steps taken and the
// events saved.

#include "app/EventRecording.h"
#include "app/Program.h"
#include "app/WVideo.h"
#include "bench/FirstFrameWait.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr int StepMs = 100;

class TWatch : public QObject {
public:
    TWatch(TVideo& window, QString eventsFolder)
        : Window(window), EventsFolder(std::move(eventsFolder)) {}

    void Start() {
        if (!EventsFolder.isEmpty()) {
            ConfigForm->RecordOnMoveCheck->setChecked(true);
            ConfigForm->EventsDirEdit->setText(EventsFolder);
            Window.Events()->Apply(*ConfigForm);
        }
        Window.CapSpeedSpinBox->SetValue(StepMs);
        connect(&Window, &TVideo::StepReported, this, [this] { ++Steps; });
        connect(Window.StatusBar1, &QStatusBar::messageChanged, this, [this](const QString& text) {
            Events += text.startsWith(QLatin1String("Event saved")) ? 1 : 0;
        });
        Window.StartVideo();
        AfterFirstFrame(
            Window, *this, [this] { Begin(); }, StepMs);
    }

    void Report() const {
        std::printf("steps %ld, events saved %ld\n", Steps, Events);
        std::fflush(stdout);
    }

private:
    void Begin() {
        Window.AutoButClick();
        std::printf("watching\n");
        std::fflush(stdout);
    }

    TVideo& Window;
    QString EventsFolder;
    long Steps = 0;
    long Events = 0;
};

} // namespace

int main(int argc, char** argv) {
    const QString eventsFolder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    // The settings of the run stay out of the user's.
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
    int programArgc = 1;
    std::unique_ptr<TWatch> watch;
    const int code = RunProgram(programArgc, argv, [&](TVideo& window) {
        watch = std::make_unique<TWatch>(window, eventsFolder);
        watch->Start();
    });
    if (watch) {
        watch->Report();
    }
    return code;
}
