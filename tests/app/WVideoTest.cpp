// The main window driven as a user drives it: its controls and their
// names, its creation and end, its stored values, its menu and its commands
// (video, automatic mode, the capture frequency).

#include "tests/app/MainWindowFixture.h"

namespace {

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

TEST_F(MainWindowTest, StepsOnTheTestSceneReportChangedPixels) {
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    Click(Window->SpeedButton3);
    // The source connects in the background; its first frame becomes the reference.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Window->Engine()->PreviousFrame().Empty(); }, 30000));
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

} // namespace
