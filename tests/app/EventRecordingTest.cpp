// Motion events from the main window: an automatic run on the capture
// layer's test scene with "Record On Move" on writes one event file that
// GStreamer opens; with the option off nothing is recorded.

#include "app/EventRecording.h"
#include "app/QuitSignals.h"
#include "app/TApplication.h"
#include "app/TTimer.h"
#include "app/WVideo.h"

#include "events/EventRecorder.h"
#include "events/EventRepair.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include "../events/EventTestSupport.h"
#include "tests/app/EventWindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace {

class EventRecordingTest : public TEventWindowFixture {
protected:
    void SetUp() override {
        TEventWindowFixture::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        QObject::connect(Window->StatusBar1, &QStatusBar::messageChanged, Window->StatusBar1,
                         [this](const QString& text) { StatusTexts.push_back(text); });
        QObject::connect(Window->Events(), &TEventRecording::RecordingChanged, Window->StatusBar1,
                         [this](const QString& text) { IndicatorTexts.push_back(text); });
        QObject::connect(Window->Events(), &TEventRecording::Reported, Window->StatusBar1,
                         [this](const TEventStatus& status) { Reports.push_back(status); });
    }
    QStringList EventFiles() const {
        return QDir(Events.path() + "/Stirwatch").entryList({"*.mp4", "*.webm"}, QDir::Files);
    }
    // Starts video and waits until the recorder keeps `seconds` of pre-roll.
    void StartVideoAndFillThePreRoll(double seconds) {
        QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
        const auto wanted = static_cast<GstClockTime>(seconds * GST_SECOND);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return Window->Events()->Recorder()->PreRollSpan() >= wanted; }, 60000))
            << "the pre-roll never filled";
    }
    // Runs automatic mode until `done` holds (at most a minute); returns the
    // time from before its start to after its stop on the monotonic clock,
    // the recorder's: every movement of the run fell within it.
    GstClockTime AutoRunUntil(const std::function<bool(int steps)>& done) {
        QElapsedTimer run;
        run.start();
        int steps = 0;
        auto reported =
            QObject::connect(Window.get(), &TVideo::StepReported, Window->Timer1, [&] { ++steps; });
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return done(steps); }, 60000)) << steps << " steps";
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        QObject::disconnect(reported);
        return static_cast<GstClockTime>(run.nsecsElapsed());
    }
    bool Recording() const { return Window->Events()->Recorder()->Recording(); }

    QStringList StatusTexts;
    QStringList IndicatorTexts;
    std::vector<TEventStatus> Reports;
};

TEST_F(EventRecordingTest, AutomaticRunWithRecordOnMoveWritesOneEventThatPlays) {
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    Window->Events()->Apply(*ConfigForm); // as closing the configuration window does
    ASSERT_TRUE(Window->Events()->Active());
    StartVideoAndFillThePreRoll(1.0);

    // Twelve steps of 100 ms, all of them movement.
    const GstClockTime run = AutoRunUntil([](int steps) { return steps >= 12; });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Window->StatusBar1->currentMessage().startsWith("Event saved: "); }, 20000))
        << Window->StatusBar1->currentMessage().toStdString();
    ASSERT_EQ(EventFiles().size(), 1);
    const QString name = EventFiles().front();
    EXPECT_EQ(Window->StatusBar1->currentMessage(), "Event saved: " + name);
    // The lasting indicator named the file while it was written, and is gone.
    EXPECT_TRUE(IndicatorTexts.contains("Recording event " + name + " ..."));
    EXPECT_TRUE(Window->EventStatusLabel->text().isEmpty());

    // The clip as the recorder timed it, on the clock its frames and the
    // movements share: the pre-roll reaches at least 1 s back (to the
    // keyframe at or before that point; how far before is the recorder's
    // own test), the movement of the steps is in it, and so is the post-roll
    // of 1 s after the last movement; the file holds what the recorder said,
    // and plays.
    const auto saved = std::find_if(Reports.begin(), Reports.end(), [](const auto& status) {
        return status.Kind == TEventStatus::Saved;
    });
    ASSERT_NE(saved, Reports.end());
    EXPECT_EQ(QString::fromStdString(saved->Path), Events.path() + "/Stirwatch/" + name);
    const GstClockTime frame = GST_SECOND / 30;
    EXPECT_GE(saved->PreRoll, GST_SECOND);
    EXPECT_GE(saved->PostRoll, GST_SECOND);
    ASSERT_GT(saved->Duration, saved->PreRoll + saved->PostRoll) << "one movement only";
    EXPECT_LT(saved->Duration - saved->PreRoll - saved->PostRoll, run);
    const GstClockTime duration = DiscoveredDuration(saved->Path);
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    EXPECT_NEAR(static_cast<double>(duration), static_cast<double>(saved->Duration), frame);
    EXPECT_GT(DecodedFrames(saved->Path), 0);
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();

    // "Open Events Folder" is on the Window menu.
    EXPECT_EQ(Window->OpenEventsFolder1->text(), "Open Events Folder");
    EXPECT_TRUE(Window->Window1->actions().contains(Window->OpenEventsFolder1));
}

TEST_F(EventRecordingTest, WithTheOptionOffNothingIsRecorded) {
    Window->Events()->Apply(*ConfigForm);
    EXPECT_FALSE(Window->Events()->Active());
    QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
    AutoRunUntil([&](int steps) { return steps >= 8 && Window->PixNumLab->text().toInt() > 0; });
    EXPECT_FALSE(Window->Events()->Active());
    EXPECT_TRUE(EventFiles().isEmpty());
    EXPECT_FALSE(QDir(Events.path() + "/Stirwatch").exists());
    EXPECT_TRUE(StatusTexts.isEmpty());
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

// Closing the program during an event finishes the file; while the event
// ran, the status line said so lastingly (a menu's status tip cannot wipe it).
TEST_F(EventRecordingTest, ClosingDuringAnEventFinishesItsFile) {
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    ConfigForm->PostRollEdit->SetValue(60);
    Window->Events()->Apply(*ConfigForm);
    StartVideoAndFillThePreRoll(0.5);
    AutoRunUntil([&](int) { return Recording(); });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Window->EventStatusLabel->text().startsWith("Recording event "); }, 20000));
    const QString indicator = Window->EventStatusLabel->text();
    Window->StatusBar1->showMessage("a menu's status tip");
    EXPECT_EQ(Window->EventStatusLabel->text(), indicator);
    EXPECT_TRUE(Window->EventStatusLabel->isVisible());

    Window->close();
    Window.reset();
    const QStringList files = EventFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(indicator.contains(files.front()));
    EXPECT_NE(DiscoveredDuration((Events.path() + "/Stirwatch/" + files.front()).toStdString()),
              GST_CLOCK_TIME_NONE);
    Window = BaseForm::MakeForm<TVideo>(); // for TearDown
}

// A SIGTERM (a shutdown; SIGINT and SIGHUP alike) closes the window as the
// user would, so the running event's clip is finished, not left to repair.
TEST_F(EventRecordingTest, SigtermClosesTheWindowAndFinishesTheClip) {
    TQuitSignals quitSignals([this](int) { Window->close(); });
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    ConfigForm->PostRollEdit->SetValue(60);
    Window->Events()->Apply(*ConfigForm);
    StartVideoAndFillThePreRoll(0.5);
    AutoRunUntil([&](int) { return Recording(); });
    ASSERT_TRUE(Recording());

    raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->isVisible(); }, 20000));
    EXPECT_FALSE(Window->Events()->Active());
    EXPECT_TRUE(Window->EventStatusLabel->text().isEmpty());
    const QStringList files = EventFiles();
    ASSERT_EQ(files.size(), 1);
    const std::string clip = (Events.path() + "/Stirwatch/" + files.front()).toStdString();
    EXPECT_TRUE(RepairUnfinishedEvents((Events.path() + "/Stirwatch").toStdString()).empty())
        << "the clip was finished";
    EXPECT_NE(DiscoveredDuration(clip), GST_CLOCK_TIME_NONE);
    Window.reset();
    Window = BaseForm::MakeForm<TVideo>(); // for TearDown
}

// Without a file manager (no xdg-open on the path), "Open Events Folder"
// says so in the error display, naming the folder.
TEST_F(EventRecordingTest, OpenEventsFolderWithoutAFileManagerSaysSo) {
    Window->Events()->Apply(*ConfigForm);
    QTemporaryDir emptyPath;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", emptyPath.path().toUtf8());
    Window->OpenEventsFolder1->trigger();
    qputenv("PATH", path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Errors.isEmpty(); }, 20000));
    EXPECT_TRUE(Errors.front().startsWith("No file manager opened the events folder \"" +
                                          Events.path() + "/Stirwatch\""))
        << Errors.front().toStdString();
    EXPECT_TRUE(QDir(Events.path() + "/Stirwatch").exists());
}

} // namespace
