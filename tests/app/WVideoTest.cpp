// The main window driven as a user drives it: its buttons, boxes and menu,
// with frames that the tests put on the real clipboard, or that the capture
// layer grabs from its test scene.

#include "app/WVideo.h"
#include "app/SaveSpace.h"
#include "app/TApplication.h"
#include "app/TTimer.h"

#include "chart/TAreaSeries.h"
#include "chart/TChart.h"
#include "graph/RunningGraph.h"
#include "log/LoggingUnit.h"
#include "meter/Meter.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "tests/PaintCounter.h"
#include "tests/SmallVolume.h"
#include "tests/TestGuards.h"
#include "types/Exception.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"
#include "windows/MaskEditor.h"
#include "windows/VideoFormUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

// A frame of the given size in one gray level, with optional brighter pixels.
QImage Frame(int width, int height, int level = 0) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(level, level, level));
    return image;
}

QImage WithBrightPixels(QImage image, int count) {
    for (int i = 0; i < count; ++i) {
        image.setPixelColor(i % image.width(), i / image.width(), Qt::white);
    }
    return image;
}

void PutOnClipboard(const QImage& frame) {
    QGuiApplication::clipboard()->setImage(frame);
}

int CountFiles(const QString& folder, const QString& pattern) {
    return static_cast<int>(QDir(folder).entryList({pattern}, QDir::Files).size());
}

QStringList LogLines(const QString& folder) {
    QStringList lines;
    for (const QString& name : QDir(folder).entryList({"movement_*.csv"}, QDir::Files)) {
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::ReadOnly)) {
            const QString text = QString::fromLatin1(file.readAll());
            lines += text.split("\r\n", Qt::SkipEmptyParts);
        }
    }
    return lines;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid() && WorkFolder.isValid() && LogFolder.isValid());
        ConfigHomeEnv.emplace("XDG_CONFIG_HOME", ConfigHome.path().toStdString());
        CurrentFolder.emplace(WorkFolder.path().toStdString());
        TApplication::SetMessageSink(
            [this](const QString&, const QString& text) { Errors.push_back(text); });
        QGuiApplication::clipboard()->clear();
        CreateConfigForm();
        Open();
    }

    void TearDown() override {
        Close();
        DestroyConfigForm();
        TApplication::SetMessageSink(nullptr);
        QGuiApplication::clipboard()->clear();
    }

    void Open() {
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        Window->activateWindow();
        QCoreApplication::processEvents();
    }

    // Closes the window as the user does and destroys it as the program's
    // end does.
    void Close() {
        if (Window) {
            Window->close();
            Window.reset();
        }
    }

    void Click(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // One "Evolve One" press on the given frame.
    void StepOn(const QImage& frame) {
        PutOnClipboard(frame);
        Click(Window->SpeedButton12);
    }

    QTemporaryDir ConfigHome;
    QTemporaryDir WorkFolder;
    QTemporaryDir LogFolder;
    std::optional<TScopedEnv> ConfigHomeEnv;
    std::optional<TScopedCurrentFolder> CurrentFolder;
    std::unique_ptr<TVideo> Window;
    std::vector<QString> Errors;
};

TEST_F(MainWindowTest, FirstStartShowsTheDesignedDefaults) {
    EXPECT_EQ(Window->windowTitle(), "Stirwatch");
    EXPECT_EQ(Window->objectName(), "Video");
    EXPECT_EQ(Window->VariatLimitSpinBox->Value(), 20);
    EXPECT_EQ(Window->MinMoveSpinBox->Value(), 400);
    EXPECT_EQ(Window->CapSpeedSpinBox->Value(), 250);
    EXPECT_EQ(Window->Timer1->Interval(), 250);
    EXPECT_FALSE(Window->Timer1->Enabled());
    EXPECT_TRUE(Window->MovementChart->isVisible());
    EXPECT_EQ(Window->MovementChart->height(), 88);
    EXPECT_EQ(Window->PercentLab->text(), "0");
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    EXPECT_EQ(Window->VideoLabel->text(), "Idle");
    EXPECT_TRUE(Window->Preview1->isChecked());
    EXPECT_FALSE(Window->Overlay1->isChecked());
    EXPECT_TRUE(Window->StatusBar1->isVisible());
    EXPECT_TRUE(Errors.empty());

    // The auxiliary windows were created, loaded and shown.
    ASSERT_NE(VideoForm, nullptr);
    ASSERT_NE(ImageForm, nullptr);
    ASSERT_NE(Window->DirectionForm, nullptr);
    EXPECT_TRUE(VideoForm->isVisible());
    EXPECT_TRUE(ImageForm->isVisible());
    EXPECT_TRUE(Window->DirectionForm->isVisible());
    EXPECT_EQ(Window->Graph()->Series->Count(), TVideo::GraphPointCount);
    EXPECT_EQ(Window->Meter()->parentWidget(), Window->MeterPanel);
}

TEST_F(MainWindowTest, EveryControlIsFoundByItsNameWithItsCaption) {
    const std::pair<const char*, const char*> buttons[] = {{"SpeedButton3", "Start Video"},
                                                           {"SpeedButton7", "Stop Video"},
                                                           {"SpeedButton12", "Evolve One"},
                                                           {"AutoBut", "Auto"}};
    for (const auto& [name, caption] : buttons) {
        auto* button = Window->findChild<QToolButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), caption);
    }
    const std::pair<const char*, const char*> labels[] = {{"Label1", "Pixel Tolerance"},
                                                          {"Label2", "Minimal Movement (px)"},
                                                          {"Label3", "Capture frequency (ms)"},
                                                          {"Label5", "%"}};
    for (const auto& [name, caption] : labels) {
        auto* label = Window->findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), caption);
    }
    const std::pair<const char*, const char*> items[] = {{"VideoDisplay1", "Video Display"},
                                                         {"VideoSource1", "Video Source"},
                                                         {"VideoFormat1", "Video Format"},
                                                         {"Overlay1", "Overlay"},
                                                         {"Preview1", "Preview"},
                                                         {"Start1", "Start"},
                                                         {"Stop1", "Stop"},
                                                         {"LiveVideo1", "Live Video Window"},
                                                         {"Image1", "Movement Window"},
                                                         {"Configuration1", "Configuration"}};
    for (const auto& [name, caption] : items) {
        auto* item = Window->findChild<QAction*>(name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_EQ(item->text(), caption);
    }
    EXPECT_EQ(Window->Video1->title(), "Video");
    EXPECT_EQ(Window->Window1->title(), "Window");
    EXPECT_EQ(Window->VideoWindow1->title(), "Video Window");
    for (const char* name :
         {"PercentPanel", "MeterPanel", "MovementChart", "VideoLabel", "StatusBar1",
          "VariatLimitSpinBox", "MinMoveSpinBox", "CapSpeedSpinBox"}) {
        EXPECT_NE(Window->findChild<QWidget*>(name), nullptr) << name;
    }
    EXPECT_NE(Window->findChild<TTimer*>("Timer1"), nullptr);
}

TEST_F(MainWindowTest, DisplayModeItemsFormOneRadioGroup) {
    Window->Overlay1->trigger();
    EXPECT_TRUE(Window->Overlay1->isChecked());
    EXPECT_FALSE(Window->Preview1->isChecked());
    Window->Preview1->trigger();
    EXPECT_TRUE(Window->Preview1->isChecked());
    EXPECT_FALSE(Window->Overlay1->isChecked());
    // Without a capture window the modes and the driver dialogs do nothing.
    Window->VideoDisplay1->trigger();
    Window->VideoSource1->trigger();
    Window->VideoFormat1->trigger();
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, ErrorInsideCreationIsShownAndTheLaterStepsStillRun) {
    Window->VariatLimitSpinBox->SetValue(30);
    Close();
    // A stored value of a kind the settings store refuses.
    QFile store(ConfigHome.path() + "/Quellor/Stirwatch.conf");
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    QByteArray text = store.readAll();
    store.close();
    ASSERT_TRUE(text.contains("MinimalMovement=400"));
    text.replace("MinimalMovement=400", "MinimalMovement=@Variant(\\0\\0\\0\\x1)");
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write(text);
    store.close();
    Errors.clear();
    Open();
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].toStdString(),
              "Invalid data type for 'MinimalMovement'"); // no period after a quote
    // The values before the failing one were loaded, the later ones not.
    EXPECT_EQ(Window->VariatLimitSpinBox->Value(), 30);
    EXPECT_EQ(Window->MinMoveSpinBox->Value(), 400);
    ASSERT_NE(Window->Meter(), nullptr);
    ASSERT_NE(Window->Graph(), nullptr);
    ASSERT_NE(Window->Log(), nullptr);
    ASSERT_NE(Window->Engine(), nullptr);
    ASSERT_NE(Window->DirectionForm, nullptr);
    EXPECT_TRUE(ImageForm->isVisible());
    StepOn(Frame(4, 4));
    EXPECT_EQ(Errors.size(), 1u);
}

TEST_F(MainWindowTest, ToleranceTypedOutOfRangeCountsWithItsLowEightBits) {
    Window->MinMoveSpinBox->SetValue(1000);
    Window->VariatLimitSpinBox->SetText("300"); // still being typed: not clamped yet
    StepOn(Frame(2, 2, 0));
    StepOn(Frame(2, 2, 50)); // 50 > 44 = 300 mod 256
    EXPECT_EQ(Window->PixNumLab->text(), "4");
    Window->VariatLimitSpinBox->SetText("301");
    StepOn(Frame(2, 2, 95)); // a change of 45 is not above 45
    EXPECT_EQ(Window->PixNumLab->text(), "0");
}

TEST_F(MainWindowTest, StoredValuesAreLoadedWithTheBoxesRules) {
    Close();
    QFile store(ConfigHome.path() + "/Quellor/Stirwatch.conf");
    ASSERT_TRUE(store.open(QIODevice::ReadOnly));
    QByteArray text = store.readAll();
    store.close();
    text.replace("PixelTolerance=20", "PixelTolerance=300");
    text.replace("CaptureFrequency=250", "CaptureFrequency=-40");
    ASSERT_TRUE(store.open(QIODevice::WriteOnly));
    store.write(text);
    store.close();
    Open();
    EXPECT_EQ(Window->VariatLimitSpinBox->Value(), 255);
    EXPECT_EQ(Window->CapSpeedSpinBox->Value(), -40);
    EXPECT_EQ(Window->Timer1->Interval(), -40); // a timer that never ticks
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, WindowMenuShowsAClosedAuxiliaryWindowAgain) {
    VideoForm->close();
    ImageForm->close();
    ASSERT_FALSE(VideoForm->isVisible());
    Window->LiveVideo1->trigger();
    EXPECT_TRUE(VideoForm->isVisible());
    EXPECT_FALSE(ImageForm->isVisible());
    Window->Image1->trigger();
    EXPECT_TRUE(ImageForm->isVisible());
    // Without a camera the capture items do nothing.
    Window->Start1->trigger();
    Window->Stop1->trigger();
    EXPECT_TRUE(Errors.empty());
}

TEST(RunningSize, RoundsHalfToEven) {
    EXPECT_EQ(RunningSizeFor(250, 250), 1);
    EXPECT_EQ(RunningSizeFor(250, 100), 2);
    EXPECT_EQ(RunningSizeFor(350, 100), 4);
    EXPECT_EQ(RunningSizeFor(450, 100), 4);
    EXPECT_EQ(RunningSizeFor(260, 100), 3);
    EXPECT_EQ(RunningSizeFor(250, -100), -2);
    EXPECT_THROW(RunningSizeFor(250, 0), EZeroDivide);
    EXPECT_THROW(RunningSizeFor(0, 0), EInvalidOp);
}

TEST_F(MainWindowTest, AutoHandsTheConfigurationToTheMeterAndStartsTheTimer) {
    ConfigForm->RunningWindowSizeEdit->SetValue(350);
    Window->CapSpeedSpinBox->SetValue(100);
    ConfigForm->BarThEdit6->SetValue(70);
    Click(Window->AutoBut);
    EXPECT_TRUE(Window->Timer1->Enabled());
    EXPECT_EQ(Window->Timer1->Interval(), 100);
    EXPECT_EQ(Window->Meter()->RunningSize(), 4);
    EXPECT_EQ(Window->Meter()->ThresholdValue1(), 2);
    EXPECT_EQ(Window->Meter()->ThresholdValue6(), 70);
    EXPECT_EQ(Window->AutoBut->palette().color(QPalette::ButtonText), TVideo::AutoOnColor);

    ConfigForm->RunningWindowSizeEdit->SetValue(250);
    Click(Window->AutoBut);
    EXPECT_FALSE(Window->Timer1->Enabled());
    EXPECT_EQ(Window->Meter()->RunningSize(), 2);
    EXPECT_EQ(Window->AutoBut->palette().color(QPalette::ButtonText), TVideo::AutoOffColor);
    EXPECT_EQ(Window->AutoBut->text(), "Auto");
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, AutoWithCaptureFrequencyZeroFailsAfterItsFirstStep) {
    Window->CapSpeedSpinBox->SetText("");
    Click(Window->AutoBut);
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0], "Floating point division by zero.");
    EXPECT_FALSE(Window->Timer1->Enabled());
    EXPECT_EQ(Window->AutoBut->palette().color(QPalette::ButtonText), TVideo::AutoOnColor);
    EXPECT_FALSE(Window->Log()->FileName().empty());
    EXPECT_EQ(Window->Meter()->ThresholdValue1(), 10);

    ConfigForm->RunningWindowSizeEdit->SetValue(0);
    Click(Window->AutoBut);
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Errors[1], "Invalid floating point operation.");
}

TEST_F(MainWindowTest, EveryKeystrokeInTheFrequencyBoxReArmsTheTimer) {
    Click(Window->AutoBut);
    ASSERT_TRUE(Window->Timer1->Enabled());
    std::vector<int> intervals;
    QObject::connect(Window->CapSpeedSpinBox, &TSpinEdit::Change, Window.get(),
                     [&] { intervals.push_back(Window->Timer1->Interval()); });
    auto* edit = Window->CapSpeedSpinBox->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "1000");
    EXPECT_EQ(intervals, (std::vector<int>{1, 10, 100, 1000}));
    EXPECT_TRUE(Window->Timer1->Enabled());
    // Running size is recomputed only at the next press of "Auto".
    EXPECT_EQ(Window->Meter()->RunningSize(), 1);
}

TEST_F(MainWindowTest, StepReportsChangedPixelsAndTruncatedPercent) {
    Window->MinMoveSpinBox->SetValue(0);
    StepOn(Frame(3, 1));
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    StepOn(WithBrightPixels(Frame(3, 1), 1));
    EXPECT_EQ(Window->PixNumLab->text(), "1");
    EXPECT_EQ(Window->PercentLab->text(), "33");
    EXPECT_EQ(Window->Meter()->Value(), 33);
    StepOn(Frame(3, 1));
    EXPECT_EQ(Window->PixNumLab->text(), "1");
    StepOn(WithBrightPixels(Frame(3, 1), 2));
    EXPECT_EQ(Window->PercentLab->text(), "66");
    EXPECT_EQ(Window->Graph()->Series->YValue(TVideo::GraphPointCount - 1), 66);
    EXPECT_EQ(Window->Engine()->PreviousFrame().Width(), 3);
    EXPECT_EQ(Window->Engine()->PreviousFrame().PixelFormat(), pf8bit);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, SavesTheFrameOnlyWhenChangedPixelsExceedTheMinimalMovement) {
    ASSERT_TRUE(QDir().mkdir("images"));
    ConfigForm->SaveOMBox->setChecked(true);
    Window->MinMoveSpinBox->SetValue(2);
    StepOn(Frame(40, 30));
    StepOn(WithBrightPixels(Frame(40, 30), 2));
    EXPECT_EQ(CountFiles("images", "*.bmp"), 0);
    StepOn(WithBrightPixels(Frame(40, 30), 5));
    EXPECT_EQ(Window->PixNumLab->text(), "3");
    EXPECT_EQ(CountFiles("images", "*.bmp"), 1);
    EXPECT_TRUE(Errors.empty());
}

void SaveShot(QWidget* window, const char* name);

TEST_F(MainWindowTest, LightChangeIsNeitherSavedNorMovementAndShowsGray) {
    ASSERT_TRUE(QDir().mkdir("images"));
    ConfigForm->SaveOMBox->setChecked(true);
    ConfigForm->LightGuardCheck->setChecked(true); // at 60 %
    ConfigForm->show();
    Window->MinMoveSpinBox->SetValue(2);
    StepOn(Frame(40, 30, 40));
    StepOn(Frame(40, 30, 160)); // the light goes on
    EXPECT_EQ(Window->PercentLab->text(), "100");
    EXPECT_EQ(Window->StatusBar1->currentMessage(), "Light change ignored");
    EXPECT_TRUE(ConfigForm->DetectionReadoutLabel->text().contains("light change ignored"));
    ConfigForm->PageControl->setCurrentWidget(ConfigForm->DetectionSheet);
    SaveShot(ConfigForm, "configuration-detection.png");
    ConfigForm->hide();
    EXPECT_EQ(Window->Graph()->Elements.back().Color, RunningGraph::LightChangeColor);
    EXPECT_EQ(CountFiles("images", "*.bmp"), 0);
    StepOn(WithBrightPixels(Frame(40, 30, 160), 5)); // movement in the lit room
    EXPECT_EQ(Window->PixNumLab->text(), "5");
    EXPECT_EQ(CountFiles("images", "*.bmp"), 1);
    EXPECT_NE(Window->Graph()->Elements.back().Color, RunningGraph::LightChangeColor);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, FailedSaveLeavesTheReadoutsButKeepsTheNewFrame) {
    ConfigForm->SaveOMBox->setChecked(true);
    Window->MinMoveSpinBox->SetValue(-1);
    StepOn(Frame(40, 30));
    ASSERT_EQ(Errors.size(), 1u); // every completed step counts as movement
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    EXPECT_TRUE(Errors[0].startsWith("Cannot create file")) << Errors[0].toStdString();

    StepOn(WithBrightPixels(Frame(40, 30), 7));
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    EXPECT_EQ(Window->Meter()->Value(), 0);
    // The analysis stage completed: the gray frame and difference image are new.
    EXPECT_EQ(Window->Engine()->PreviousFrame().Width(), 40);
    EXPECT_EQ(ImageForm->Image->Picture().width(), 40);
}

TEST_F(MainWindowTest, DeclinedComparisonCountsNothingAndKeepsTheDirection) {
    Click(Window->SpeedButton12); // nothing on the clipboard
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    EXPECT_EQ(Window->PercentLab->text(), "0");
    EXPECT_TRUE(Window->Engine()->PreviousFrame().Empty());
    EXPECT_EQ(Window->LastDirection().X, 50);
    EXPECT_EQ(Window->LastDirection().Y, 50);

    StepOn(Frame(64, 48));
    StepOn(WithBrightPixels(Frame(32, 24), 100)); // the format changed
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    EXPECT_EQ(Window->Engine()->PreviousFrame().Width(), 32);
    StepOn(Frame(32, 24));
    EXPECT_EQ(Window->PixNumLab->text(), "100");
    EXPECT_EQ(Window->LastDirection().X, 50); // only darker pixels: no direction
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, AutoModeLogsEveryStepIncludingManualOnesAndEndsItsSession) {
    ConfigForm->LogInAutoCheck->setChecked(true);
    ConfigForm->LogDirEdit->setText(LogFolder.path());
    Window->CapSpeedSpinBox->SetValue(1000000); // no tick during the test
    Click(Window->AutoBut);
    ASSERT_TRUE(Window->Timer1->Enabled());
    EXPECT_EQ(QString::fromStdString(Window->Log()->FileName()).left(LogFolder.path().size()),
              LogFolder.path());
    StepOn(Frame(10, 10));
    StepOn(WithBrightPixels(Frame(10, 10), 4));
    QStringList lines = LogLines(LogFolder.path());
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(", 4, 4")) << lines[1].toStdString();

    Click(Window->AutoBut);
    EXPECT_TRUE(Window->Log()->FileName().empty());
    StepOn(Frame(10, 10));
    EXPECT_EQ(LogLines(LogFolder.path()).size(), 2);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, LogFailureEndsTheStepAfterTheGraphUpdate) {
    ConfigForm->LogInAutoCheck->setChecked(true);
    ConfigForm->LogDirEdit->setText(LogFolder.path() + "/missing");
    Window->CapSpeedSpinBox->SetValue(1000000); // no tick during the test
    Click(Window->AutoBut);
    StepOn(Frame(2, 2));
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_TRUE(Errors[0].startsWith("Cannot create file")) << Errors[0].toStdString();
    // The failing step still shows its difference image.
    PaintCounter paints;
    ImageForm->Image->installEventFilter(&paints);
    StepOn(WithBrightPixels(Frame(2, 2), 2));
    ImageForm->Image->removeEventFilter(&paints);
    EXPECT_GT(paints.Paints, 0);
    ASSERT_EQ(Errors.size(), 2u);
    EXPECT_EQ(Window->PixNumLab->text(), "2");
    EXPECT_EQ(Window->PercentLab->text(), "50");
    EXPECT_EQ(Window->Meter()->Value(), 50);
    EXPECT_EQ(Window->Graph()->Series->YValue(TVideo::GraphPointCount - 1), 50);
    EXPECT_TRUE(Window->Timer1->Enabled());
    Click(Window->AutoBut);
}

TEST_F(MainWindowTest, HiddenChartGetsNoPoints) {
    ConfigForm->GraphCheck->setChecked(false);
    Window->FormActivate();
    EXPECT_FALSE(Window->MovementChart->isVisible());
    StepOn(Frame(2, 2));
    StepOn(WithBrightPixels(Frame(2, 2), 2));
    EXPECT_EQ(Window->Graph()->Series->YValue(TVideo::GraphPointCount - 1), 0);
    ConfigForm->GraphCheck->setChecked(true);
    Window->FormActivate();
    StepOn(WithBrightPixels(Frame(2, 2), 4));
    EXPECT_EQ(Window->Graph()->Series->YValue(TVideo::GraphPointCount - 1), 50);
}

namespace {

// Counts the real error boxes that open and closes each one as soon as its
// modal loop runs, as a user pressing OK at once would.
class BoxCloser : public QObject {
public:
    BoxCloser() { qApp->installEventFilter(this); }
    ~BoxCloser() override { qApp->removeEventFilter(this); }
    int Boxes = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                ++Boxes;
                QTimer::singleShot(0, box, &QMessageBox::accept);
            }
        }
        return false;
    }
};

} // namespace

// A step failing on every tick (save on move without an images folder) shows
// its error box once per automatic run; the repeats are counted on the status
// line, the timer keeps running, and one click on "Auto" stops the run.
TEST_F(MainWindowTest, FailingTicksShowOneBoxPerRunAndOneClickStopsAuto) {
    TApplication::SetMessageSink(nullptr); // the real box
    BoxCloser closer;
    ConfigForm->SaveOMBox->setChecked(true);
    Window->MinMoveSpinBox->SetValue(-1);
    Window->CapSpeedSpinBox->SetValue(10);
    PutOnClipboard(Frame(8, 8));
    Click(Window->AutoBut);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Window->StatusBar1->currentMessage().startsWith("5 more times: "); }, 20000));
    EXPECT_TRUE(Window->StatusBar1->currentMessage().contains(": Cannot create file"))
        << Window->StatusBar1->currentMessage().toStdString();
    // However narrow the line, the whole text is the tooltip.
    EXPECT_EQ(Window->StatusBar1->toolTip(), Window->StatusBar1->currentMessage());
    EXPECT_EQ(closer.Boxes, 1);
    EXPECT_TRUE(Window->Timer1->Enabled());
    Click(Window->AutoBut);
    EXPECT_FALSE(Window->Timer1->Enabled());

    // A new run shows the error once again.
    Click(Window->AutoBut);
    ASSERT_TRUE(QTest::qWaitFor([&] { return closer.Boxes == 2; }, 20000));
    Click(Window->AutoBut);
    EXPECT_FALSE(Window->Timer1->Enabled());
}

// Saving stops while the images' volume is short of its free-space floor
// (here 5 % of a 4 MiB volume), says why on the status line, and resumes
// when space is back.
TEST_F(MainWindowTest, SavingStopsBelowTheFreeSpaceFloorAndResumes) {
    ASSERT_TRUE(QDir().mkdir("images"));
    TSmallVolume volume(QDir("images").absolutePath().toStdString(), 4 << 20);
    if (!volume.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    ConfigForm->SaveOMBox->setChecked(true);
    Window->MinMoveSpinBox->SetValue(-1);
    StepOn(Frame(40, 30));
    EXPECT_EQ(CountFiles("images", "*.bmp"), 1);
    EXPECT_TRUE(Window->SaveStatusLabel->text().isEmpty());

    volume.FillLeaving(FreeSpaceFloor(4 << 20) + 2000); // less than floor + one frame
    StepOn(Frame(40, 30));
    EXPECT_EQ(CountFiles("images", "*.bmp"), 1);
    EXPECT_TRUE(Window->SaveStatusLabel->text().startsWith("Saving images stopped: "))
        << Window->SaveStatusLabel->text().toStdString();
    EXPECT_TRUE(Window->SaveStatusLabel->text().contains(QDir("images").absolutePath()));
    EXPECT_EQ(Window->PixNumLab->text(), "0") << "the step itself completed";

    ASSERT_TRUE(QFile::remove("images/filler"));
    QTest::qWait(2); // another millisecond: another file name
    StepOn(Frame(40, 30));
    EXPECT_EQ(CountFiles("images", "*.bmp"), 2);
    EXPECT_TRUE(Window->SaveStatusLabel->text().isEmpty());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MainWindowTest, StepsOnTheTestSceneReportChangedPixels) {
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    Click(Window->SpeedButton3);
    // The source connects in the background; its first frame becomes the reference.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Engine()->PreviousFrame().Empty(); }, 10000));
    EXPECT_EQ(Window->Engine()->PreviousFrame().PixelFormat(), pf8bit);
    // The scene moves with every new frame; a loaded machine may take a while.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QTest::qWait(50);
            Click(Window->SpeedButton12);
            return Window->PixNumLab->text().toInt() > 0;
        },
        30000));
    EXPECT_FALSE(ImageForm->Image->Picture().isNull());
    EXPECT_TRUE(Window->VideoLabel->text().startsWith("Connected to"))
        << Window->VideoLabel->text().toStdString();
    Click(Window->SpeedButton7);
    // Nothing is connected any more, and the line says no otherwise.
    EXPECT_EQ(Window->VideoLabel->text(), "Idle");
    QTest::qWait(0);
    EXPECT_EQ(Window->VideoLabel->text(), "Idle");
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

// The step's options follow the boxes and checks as they change, and read
// back from the store as the windows saved them.
TEST_F(MainWindowTest, StepSettingsFollowTheControlsAndReadBackAsStored) {
    Window->VariatLimitSpinBox->SetValue(33);
    Window->MinMoveSpinBox->SetValue(12);
    Window->CapSpeedSpinBox->SetValue(120);
    ConfigForm->SaveOMBox->setChecked(true);
    ConfigForm->LogInAutoCheck->setChecked(true);
    const TStepSettings live = Window->StepSettings();
    EXPECT_EQ(live.PixelTolerance, 33);
    EXPECT_EQ(live.MinimalMovement, 12);
    EXPECT_EQ(live.CaptureFrequency, 120);
    EXPECT_FALSE(live.BeepOnMove);
    EXPECT_TRUE(live.SaveOnMove);
    EXPECT_TRUE(live.LogInAuto);

    Close();
    ConfigForm->done(QDialog::Rejected); // the configuration saves as it closes
    const TStepSettings stored = ReadStepSettings(TVideo::ApplicationKey);
    EXPECT_EQ(stored.PixelTolerance, 33);
    EXPECT_EQ(stored.MinimalMovement, 12);
    EXPECT_EQ(stored.CaptureFrequency, 120);
    EXPECT_FALSE(stored.BeepOnMove);
    EXPECT_TRUE(stored.SaveOnMove);
    EXPECT_TRUE(stored.LogInAuto);
}

TEST_F(MainWindowTest, ClosingReleasesThePartsAndTheEndSavesTheDetectionValues) {
    Window->VariatLimitSpinBox->SetValue(33);
    Window->MinMoveSpinBox->SetValue(-7);
    Window->CapSpeedSpinBox->SetValue(120);
    Close();
    EXPECT_EQ(VideoForm, nullptr);
    EXPECT_EQ(ImageForm, nullptr);

    Open();
    EXPECT_EQ(Window->VariatLimitSpinBox->Value(), 33);
    EXPECT_EQ(Window->MinMoveSpinBox->Value(), -7);
    EXPECT_EQ(Window->CapSpeedSpinBox->Value(), 120);
    EXPECT_EQ(Window->Timer1->Interval(), 120);
    EXPECT_TRUE(Errors.empty());
}

// The meter's six lamps, read back from a screenshot of the whole window:
// centres H + 4 apart at mid = H div 2, lit in their band colours, all six
// in view at the designed window size.
TEST_F(MainWindowTest, ScreenshotShowsTheMeterLampsAtTheirCentres) {
    QCoreApplication::processEvents();
    TMovementMeter* meter = Window->Meter();
    meter->SetValue(25); // built-in thresholds 10, 20, 30: two lamps lit
    const QImage shot = Window->grab().toImage();
    const int height = meter->height();
    const int mid = height / 2;
    const int radius = (height - 4) / 2;
    ASSERT_GT(radius, 6);
    for (int bar = 0; bar < 6; ++bar) {
        const QPoint centre(mid + bar * (height + 4), mid);
        ASSERT_LT(centre.x() + radius, meter->width()) << "bar " << bar + 1 << " is cut off";
        const QPoint at = meter->mapTo(Window.get(), centre) * shot.devicePixelRatio();
        const QColor expected = bar < 2 ? QColor(155, 187, 89) : QColor(Qt::white);
        EXPECT_EQ(shot.pixelColor(at), expected) << "bar " << bar + 1;
        const QPoint outline = meter->mapTo(Window.get(), centre + QPoint(radius - 1, 0));
        EXPECT_EQ(shot.pixelColor(outline * shot.devicePixelRatio()), QColor(242, 242, 242))
            << "bar " << bar + 1;
    }
}

// A room with a window and a lamp, and a person at `x`.
QImage Room(int x) {
    QImage image(320, 240, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient wall(0, 0, 0, 240);
    wall.setColorAt(0, QColor(150, 140, 120));
    wall.setColorAt(1, QColor(70, 60, 50));
    painter.fillRect(image.rect(), wall);
    painter.fillRect(QRect(200, 20, 90, 70), QColor(180, 210, 240));
    painter.fillRect(QRect(20, 150, 120, 60), QColor(90, 50, 30));
    painter.setBrush(QColor(40, 40, 120));
    painter.drawEllipse(QPoint(x, 110), 18, 40);
    return image;
}

void SaveShot(QWidget* window, const char* name) {
    if (const QByteArray folder = qgetenv("STIRWATCH_SCREENSHOT_DIR"); !folder.isEmpty()) {
        window->grab().save(QString::fromUtf8(folder) + "/" + name);
    }
}

TEST_F(MainWindowTest, MaskEditorDrawsMovesAndDeletesPolygonsAndTheStepsUseThem) {
    ASSERT_NE(VideoForm, nullptr);
    VideoForm->resize(320, 240);
    Window->MinMoveSpinBox->SetValue(10);
    StepOn(Room(60));
    StepOn(Room(60));
    Window->EditMask1->trigger();
    auto* editor = VideoForm->VideoArea->findChild<TMaskEditor*>("MaskEditor");
    ASSERT_NE(editor, nullptr);
    QCoreApplication::processEvents();
    const QSize area = editor->size();
    auto at = [&](double x, double y) {
        return QPoint(int(x * area.width()), int(y * area.height()));
    };
    // A polygon around the window, the last point closed by a double-click.
    QTest::mouseClick(editor, Qt::LeftButton, {}, at(0.6, 0.05));
    QTest::mouseClick(editor, Qt::LeftButton, {}, at(0.95, 0.05));
    QTest::mouseClick(editor, Qt::LeftButton, {}, at(0.95, 0.45));
    QTest::mouseClick(editor, Qt::LeftButton, {}, at(0.6, 0.45));
    QTest::mouseDClick(editor, Qt::LeftButton, {}, at(0.6, 0.45));
    ASSERT_EQ(editor->Mask().Polygons.size(), 1u);
    EXPECT_EQ(editor->Mask().Polygons[0].size(), 4u);
    EXPECT_EQ(ConfigForm->DetectionSettings().Mask, MaskText(editor->Mask()));
    // Dragging the bottom left corner moves it.
    QTest::mousePress(editor, Qt::LeftButton, {}, at(0.6, 0.45));
    QTest::mouseMove(editor, at(0.5, 0.6));
    QTest::mouseRelease(editor, Qt::LeftButton, {}, at(0.5, 0.6));
    EXPECT_NEAR(editor->Mask().Polygons[0][3].X, 0.5, 0.01);
    EXPECT_NEAR(editor->Mask().Polygons[0][3].Y, 0.6, 0.01);
    // A second polygon over the person's path, then removed with Delete.
    for (auto [x, y] : {std::pair{0.05, 0.2}, {0.45, 0.2}, {0.45, 0.75}, {0.05, 0.75}}) {
        QTest::mouseClick(editor, Qt::LeftButton, {}, at(x, y));
    }
    QTest::mouseDClick(editor, Qt::LeftButton, {}, at(0.05, 0.75));
    ASSERT_EQ(editor->Mask().Polygons.size(), 2u);
    StepOn(Room(100)); // the person moves inside the ignored area
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    SaveShot(VideoForm, "mask-editor.png");
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_EQ(editor->Mask().Polygons.size(), 1u);
    StepOn(Room(60)); // outside the mask now
    EXPECT_NE(Window->PixNumLab->text(), "0");
    // Watching only the window's area: the person is ignored again.
    editor->WatchOnlyCheck->setChecked(true);
    EXPECT_EQ(ParseMask(ConfigForm->DetectionSettings().Mask).Mode, TMaskMode::WatchOnly);
    StepOn(Room(100));
    EXPECT_EQ(Window->PixNumLab->text(), "0");
    editor->WatchOnlyCheck->setChecked(false);
    Window->EditMask1->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(VideoForm->VideoArea->findChild<TMaskEditor*>("MaskEditor"), nullptr);
    ImageForm->show();
    StepOn(Room(140));
    SaveShot(ImageForm, "differential-image-mask.png");
    EXPECT_TRUE(Errors.empty());
}

} // namespace
