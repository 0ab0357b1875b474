// Motion events from the main window: an automatic run on the capture
// layer's test scene with "Record On Move" on writes one event file that
// GStreamer opens; with the option off nothing is recorded.

#include "app/EventRecording.h"
#include "app/TApplication.h"
#include "app/TTimer.h"
#include "app/WVideo.h"

#include "events/EventRecorder.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include "../events/EventTestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

namespace {

class EventRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid() && WorkFolder.isValid() && Events.isValid());
        qputenv("XDG_CONFIG_HOME", ConfigHome.path().toUtf8());
        qputenv("STIRWATCH_SOURCE", "test");
        PreviousFolder = QDir::currentPath();
        QDir::setCurrent(WorkFolder.path());
        TApplication::SetMessageSink(
            [this](const QString&, const QString& text) { Errors.push_back(text); });
        CreateConfigForm();
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        ConfigForm->EventsDirEdit->setText(Events.path() + "/Stirwatch");
        ConfigForm->PreRollEdit->SetValue(1);
        ConfigForm->PostRollEdit->SetValue(1);
        Window->MinMoveSpinBox->SetValue(-1); // every step counts as movement
        Window->CapSpeedSpinBox->SetValue(100);
        QObject::connect(Window->StatusBar1, &QStatusBar::messageChanged, Window->StatusBar1,
                         [this](const QString& text) { StatusTexts.push_back(text); });
    }
    void TearDown() override {
        Window->close();
        Window.reset();
        DestroyConfigForm();
        TApplication::SetMessageSink(nullptr);
        QDir::setCurrent(PreviousFolder);
        qunsetenv("STIRWATCH_SOURCE");
    }
    QStringList EventFiles() const {
        return QDir(Events.path() + "/Stirwatch").entryList({"*.mp4", "*.webm"}, QDir::Files);
    }
    // Runs automatic mode for about `milliseconds`; returns the time from its
    // first step to its last, in nanoseconds.
    qint64 AutoRun(int milliseconds) {
        QElapsedTimer clock;
        qint64 first = -1;
        qint64 last = -1;
        auto ticks = QObject::connect(Window->Timer1, &TTimer::OnTimer, Window->Timer1, [&] {
            last = clock.nsecsElapsed();
            if (first < 0) {
                first = last;
            }
        });
        clock.start();
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        QTest::qWait(milliseconds);
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        QObject::disconnect(ticks);
        return last - first;
    }

    QTemporaryDir ConfigHome;
    QTemporaryDir WorkFolder;
    QTemporaryDir Events;
    QString PreviousFolder;
    std::unique_ptr<TVideo> Window;
    QStringList Errors;
    QStringList StatusTexts;
};

TEST_F(EventRecordingTest, AutomaticRunWithRecordOnMoveWritesOneEventThatPlays) {
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    Window->Events()->Apply(*ConfigForm); // as closing the configuration window does
    ASSERT_TRUE(Window->Events()->Active());
    QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
    QTest::qWait(1500); // the pre-roll fills

    const qint64 movement = AutoRun(1200);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Window->StatusBar1->currentMessage().startsWith("Event saved: "); }, 20000))
        << Window->StatusBar1->currentMessage().toStdString();
    ASSERT_EQ(EventFiles().size(), 1);
    const QString name = EventFiles().front();
    EXPECT_EQ(Window->StatusBar1->currentMessage(), "Event saved: " + name);
    EXPECT_TRUE(StatusTexts.contains("Recording event " + name + " ..."));

    // Pre-roll (1 s back to the keyframe before it, keyframes every 0.5 s),
    // the movement, and the post-roll of 1 s. The movement is timed on the GUI
    // thread while the clip is timed by the source's frames, and a loaded
    // machine (sanitizers) can drop a frame or two at either end: three frames
    // of slack at each end. The exact clip length is the recorder's own test.
    const GstClockTime duration =
        DiscoveredDuration((Events.path() + "/Stirwatch/" + name).toStdString());
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    const GstClockTime frame = GST_SECOND / 30;
    const GstClockTime nominal = GST_SECOND + movement + GST_SECOND;
    EXPECT_GE(duration, nominal - 6 * frame);
    EXPECT_LE(duration, nominal + GST_SECOND / 2 + 6 * frame);
    EXPECT_GT(DecodedFrames((Events.path() + "/Stirwatch/" + name).toStdString()), 0);
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();

    // "Open Events Folder" is on the Window menu.
    EXPECT_EQ(Window->OpenEventsFolder1->text(), "Open Events Folder");
    EXPECT_TRUE(Window->Window1->actions().contains(Window->OpenEventsFolder1));
}

TEST_F(EventRecordingTest, WithTheOptionOffNothingIsRecorded) {
    Window->Events()->Apply(*ConfigForm);
    EXPECT_FALSE(Window->Events()->Active());
    QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
    QTest::qWait(500);
    AutoRun(800);
    QTest::qWait(1500);
    EXPECT_TRUE(EventFiles().isEmpty());
    EXPECT_FALSE(QDir(Events.path() + "/Stirwatch").exists());
    EXPECT_TRUE(StatusTexts.isEmpty());
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

// Closing the program during an event finishes the file.
TEST_F(EventRecordingTest, ClosingDuringAnEventFinishesItsFile) {
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    ConfigForm->PostRollEdit->SetValue(60);
    Window->Events()->Apply(*ConfigForm);
    QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
    QTest::qWait(1000);
    AutoRun(600);
    ASSERT_TRUE(Window->Events()->Recorder()->Recording());
    Window->close();
    Window.reset();
    const QStringList files = EventFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_NE(DiscoveredDuration((Events.path() + "/Stirwatch/" + files.front()).toStdString()),
              GST_CLOCK_TIME_NONE);
    Window = BaseForm::MakeForm<TVideo>(); // for TearDown
}

} // namespace
