// The automatic step on the step runner's worker: the same counts as the
// step on the GUI thread for the same frames, a tick that comes while a step
// is on the worker skipped, a step on its way reported before a step of the
// user's, and a window closed or a source let go or changed while a step is
// on the worker (run under AddressSanitizer too).

#include "app/WVideo.h"
#include "capture/CaptureWindow.h"
#include "capture/VideoCap.h"
#include "log/LoggingUnit.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "tests/TestGuards.h"
#include "tests/support/TestMedia.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

namespace {

QStringList LogRecords(const QString& folder) {
    QStringList records;
    for (const QString& name : QDir(folder).entryList({"movement_*.csv"}, QDir::Files)) {
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::ReadOnly)) {
            for (const QString& line :
                 QString::fromLatin1(file.readAll()).split("\r\n", Qt::SkipEmptyParts)) {
                records += line.mid(line.indexOf(',')); // the counts, not the time
            }
        }
    }
    return records;
}

bool StepsCompleted(const TVideo& window, std::uint64_t count) {
    return QTest::qWaitFor([&] { return window.StepRunner().Completed() >= count; }, 20000);
}

class AutomaticStepTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Config.isValid() && Folder.isValid());
        QGuiApplication::clipboard()->clear();
        CreateConfigForm();
        MakeWindow();
    }
    void MakeWindow() {
        if (Window) {
            Window->close();
        }
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        Window->VariatLimitSpinBox->SetValue(20);
        Window->MinMoveSpinBox->SetValue(100);
        Window->CapSpeedSpinBox->SetValue(1000000); // the tests tick themselves
        ConfigForm->LogInAutoCheck->setChecked(false);
        ConfigForm->LogInAutoCheck->setChecked(true);
        ConfigForm->LogDirEdit->setText(Folder.path());
    }
    void TearDown() override {
        if (Window) {
            Window->close();
            Window.reset();
        }
        DestroyConfigForm();
        QGuiApplication::clipboard()->clear();
    }
    // Starts the test scene and waits for the engine's reference frame.
    bool StartedOnTheTestScene() {
        Window->StartVideo();
        return QTest::qWaitFor([&] { return !Window->Engine()->PreviousFrame().Empty(); }, 20000);
    }

    QTemporaryDir Config;
    QTemporaryDir Folder;
    TScopedEnv ConfigHome{"XDG_CONFIG_HOME", Config.path().toStdString()};
    std::unique_ptr<TVideo> Window;
};

// The frames of a recording, one per step: what each step shows and logs,
// and where its direction points, is the same whichever thread compared.
TEST_F(AutomaticStepTest, StepsOnTheWorkerCountAsStepsOnTheGuiThread) {
    const TBallClip clip{160, 120, 10, 4, 1, 3};
    struct TShown {
        QString Pixels;
        QString Percent;
        int DirectionX;
        int DirectionY;
        bool operator==(const TShown&) const = default;
    };
    const auto run = [&](bool automatic) {
        std::vector<TShown> shown;
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        for (int index = 0; index < clip.Fps * clip.Seconds; index += 2) {
            std::vector<unsigned char> pixels = BallFrame(clip, index);
            const QImage frame(pixels.data(), clip.Width, clip.Height, clip.Width * 3,
                               QImage::Format_BGR888);
            QGuiApplication::clipboard()->setImage(frame.copy());
            if (automatic) {
                const std::uint64_t before = Window->StepRunner().Completed();
                Window->StartAutomaticStep();
                EXPECT_TRUE(StepsCompleted(*Window, before + 1));
            } else {
                Window->EvolveOne();
            }
            shown.push_back({Window->PixNumLab->text(), Window->PercentLab->text(),
                             Window->LastDirection().X, Window->LastDirection().Y});
        }
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        return shown;
    };
    const std::vector<TShown> onTheGui = run(false);
    const QStringList guiLog = LogRecords(Folder.path());
    QDir(Folder.path()).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(Folder.path()));
    MakeWindow(); // a fresh engine: no previous frame, the first direction
    const std::vector<TShown> onTheWorker = run(true);
    EXPECT_EQ(Window->StepRunner().Skipped(), 0u);
    ASSERT_EQ(onTheWorker.size(), onTheGui.size());
    for (std::size_t i = 0; i < onTheGui.size(); ++i) {
        EXPECT_TRUE(onTheWorker[i] == onTheGui[i])
            << "step " << i << ": " << onTheWorker[i].Pixels.toStdString() << " against "
            << onTheGui[i].Pixels.toStdString();
    }
    EXPECT_EQ(LogRecords(Folder.path()), guiLog);
    // The ball moved in some steps: the comparison is not trivially equal.
    EXPECT_TRUE(std::any_of(onTheGui.begin(), onTheGui.end(),
                            [](const TShown& step) { return step.Pixels.toInt() > 100; }));
}

// A tick while the step before is on the worker (its result not yet back)
// starts nothing and is counted; a step of the user's and the end of the run
// report the step on its way first, so the run logs it.
TEST_F(AutomaticStepTest, TickWhileAStepIsOnItsWayIsSkippedAndTheStepIsReportedInOrder) {
    QGuiApplication::clipboard()->setImage(QImage(64, 48, QImage::Format_BGR888));
    QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
    Window->StartAutomaticStep();
    Window->StartAutomaticStep(); // no event processed: the first is still on its way
    EXPECT_EQ(Window->StepRunner().Skipped(), 1u);
    ASSERT_TRUE(StepsCompleted(*Window, 1));
    EXPECT_EQ(LogRecords(Folder.path()).size(), 1);

    QImage brighter(64, 48, QImage::Format_BGR888);
    brighter.fill(Qt::white);
    QGuiApplication::clipboard()->setImage(brighter);
    Window->StartAutomaticStep();
    Window->EvolveOne(); // the automatic step is reported first, then this one
    EXPECT_EQ(Window->StepRunner().Completed(), 2u);
    const QStringList records = LogRecords(Folder.path());
    ASSERT_EQ(records.size(), 3);
    EXPECT_EQ(records[0], ", 0, 0");
    EXPECT_NE(records[1], ", 0, 0"); // the automatic step, from black to white
    EXPECT_EQ(records[2], ", 0, 0"); // the user's, on the same white frame

    Window->StartAutomaticStep();
    QTest::mouseClick(Window->AutoBut, Qt::LeftButton); // Auto off: its last step is logged
    EXPECT_EQ(Window->StepRunner().Completed(), 3u);
    EXPECT_EQ(LogRecords(Folder.path()).size(), 4);
    EXPECT_EQ(Window->StepRunner().Skipped(), 1u);
}

// While a step is on the worker, the direction is the last reported step's
// (read on the GUI thread, not from the engine the worker is using); the
// step's own shows once it is reported. A skipped tick reports nothing.
TEST_F(AutomaticStepTest, DirectionAndReportsFollowTheStepsReportedNotTheTicks) {
    int reported = 0;
    QObject::connect(Window.get(), &TVideo::StepReported, Window.get(), [&] { ++reported; });
    const auto quadrantLit = [](int left) {
        QImage frame(64, 48, QImage::Format_BGR888);
        frame.fill(Qt::black);
        for (int y = 0; y < 24; ++y) {
            for (int x = left; x < left + 32; ++x) {
                frame.setPixelColor(x, y, Qt::white);
            }
        }
        return frame;
    };
    QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
    QGuiApplication::clipboard()->setImage(quadrantLit(0));
    Window->EvolveOne();
    EXPECT_EQ(reported, 1);
    const TPoint first = Window->LastDirection();

    // The lit quadrant moves right: darker on the left, brighter on the right.
    QGuiApplication::clipboard()->setImage(quadrantLit(32));
    Window->StartAutomaticStep();
    Window->StartAutomaticStep(); // skipped
    EXPECT_EQ(Window->LastDirection().X, first.X);
    EXPECT_EQ(Window->LastDirection().Y, first.Y);
    EXPECT_EQ(reported, 1);
    ASSERT_TRUE(StepsCompleted(*Window, 1));
    EXPECT_EQ(reported, 2);
    EXPECT_EQ(Window->LastDirection().X, Window->Engine()->LastDirection().X);
    EXPECT_EQ(Window->LastDirection().Y, Window->Engine()->LastDirection().Y);
    EXPECT_LT(Window->LastDirection().Y, first.Y) << "the change is in the upper half";
    QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
    EXPECT_EQ(reported, 2);
}

// With a camera the worker waits for the grab and converts it; the grab
// becomes the clipboard's frame when the step is back.
TEST_F(AutomaticStepTest, StepsOnACameraPutEachGrabOnTheClipboard) {
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    ASSERT_TRUE(StartedOnTheTestScene());
    QGuiApplication::clipboard()->clear();
    for (std::uint64_t step = 1; step <= 3; ++step) {
        Window->StartAutomaticStep();
        ASSERT_TRUE(StepsCompleted(*Window, step));
        QImage grabbed;
        ASSERT_TRUE(TakeGrabbedFrame(grabbed));
        ASSERT_FALSE(grabbed.isNull());
        const QImage onTheClipboard = QGuiApplication::clipboard()->image();
        EXPECT_EQ(onTheClipboard.size(), grabbed.size());
        EXPECT_EQ(onTheClipboard.constBits(), grabbed.constBits()) << "shared, not copied";
    }
    EXPECT_NE(Window->PixNumLab->text(), "");
    Window->StopVideo();
}

// A grab kept as decoded (I420 here) is saved as its 24-bit picture, the
// image the clipboard gives for the step.
TEST_F(AutomaticStepTest, AFrameSavedFromAYuvGrabIsItsColourPicture) {
    const TScopedEnv source("STIRWATCH_SOURCE",
                            "videotestsrc is-live=true pattern=ball ! "
                            "video/x-raw,format=I420,width=160,height=120,framerate=30/1");
    const TScopedCurrentFolder work(Folder.path().toStdString());
    ASSERT_TRUE(work.Changed);
    ASSERT_TRUE(QDir().mkdir("images"));
    ConfigForm->SaveOMBox->setChecked(true);
    Window->MinMoveSpinBox->SetValue(-1); // every step is movement
    ASSERT_TRUE(StartedOnTheTestScene());
    Window->StartAutomaticStep();
    ASSERT_TRUE(StepsCompleted(*Window, 1));
    const QStringList saved = QDir("images").entryList({"*.bmp"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    const QImage file(QDir("images").filePath(saved.front()));
    const QImage onTheClipboard = QGuiApplication::clipboard()->image();
    ASSERT_EQ(onTheClipboard.size(), QSize(160, 120));
    EXPECT_EQ(file.convertToFormat(QImage::Format_RGB32),
              onTheClipboard.convertToFormat(QImage::Format_RGB32));
    Window->StopVideo();
}

// Letting the source go, changing its frame size or closing the window while
// a step is on the worker: the step ends safely, a closed window gets no
// result, and the steps after a change of size go on at the new size.
TEST_F(AutomaticStepTest, SourceChangesAndClosingWhileAStepIsOnTheWorkerAreSafe) {
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    ASSERT_TRUE(StartedOnTheTestScene());
    Window->StartAutomaticStep();
    Window->StopVideo(); // the step is reported before the source goes
    EXPECT_FALSE(Window->StepRunner().InFlight());
    EXPECT_EQ(Window->StepRunner().Completed(), 1u);

    ASSERT_TRUE(StartedOnTheTestScene());
    TCaptureSession& session = TCaptureWindow::FromHandle(CaptureWindow)->Session();
    const TVideoFormat current = session.CurrentFormat();
    for (const TVideoFormat& format : session.Formats()) {
        if (format.Width != current.Width && format.Width > 0) {
            Window->StartAutomaticStep();
            session.SetFormat(format);
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    if (!Window->StepRunner().InFlight()) {
                        Window->StartAutomaticStep();
                    }
                    return Window->Engine()->PreviousFrame().Width() == format.Width;
                },
                20000));
            break;
        }
    }

    // The session lets its source go while the step waits for its frame.
    Window->StartAutomaticStep();
    session.Disconnect();
    ASSERT_TRUE(StepsCompleted(*Window, Window->StepRunner().Completed() + 1));

    ASSERT_TRUE(StartedOnTheTestScene());
    const std::uint64_t completed = Window->StepRunner().Completed();
    Window->StartAutomaticStep();
    Window->close(); // the step on the worker is dropped
    EXPECT_FALSE(Window->StepRunner().InFlight());
    QTest::qWait(0);
    EXPECT_EQ(Window->StepRunner().Completed(), completed);
    Window.reset();
}

} // namespace
