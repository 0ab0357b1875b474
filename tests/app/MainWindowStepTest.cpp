// The main window's frame step driven as a user drives it, on frames put on
// the real clipboard: the read-outs, the saved frame, the light change
// guard, the log of an automatic run, the failures that end a step, the
// errors of automatic mode's ticks, and the mask.

#include "tests/app/MainWindowFixture.h"

namespace {

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
