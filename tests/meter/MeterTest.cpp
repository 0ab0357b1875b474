#include "meter/Meter.h"
#include "tests/PaintCounter.h"

#include "types/Exception.h"

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QWindow>
#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A widget paints only once its window is on the (offscreen) screen.
void WaitUntilExposed(QWidget& window) {
    for (int i = 0; i < 1000 && !(window.windowHandle() && window.windowHandle()->isExposed());
         ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ASSERT_TRUE(window.windowHandle()->isExposed());
    QCoreApplication::processEvents();
}

const QColor PanelColor(10, 20, 30);
const QRgb Outline = qRgb(242, 242, 242);
const QRgb Unlit = qRgb(255, 255, 255);
const QRgb Green = qRgb(155, 187, 89);
const QRgb Orange = qRgb(247, 150, 70);
const QRgb Red = qRgb(192, 80, 77);

class MeterTest : public ::testing::Test {
protected:
    MeterTest() : Panel(std::make_unique<QWidget>()), Meter(new TMovementMeter(Panel.get())) {
        QPalette palette = Panel->palette();
        palette.setColor(QPalette::Window, PanelColor);
        Panel->setPalette(palette);
        Panel->resize(300, 60);
        Panel->show();
        WaitUntilExposed(*Panel);
        Meter->installEventFilter(&Counter);
    }

    void UseConfiguredThresholds() {
        Meter->SetThresholdValue1(2);
        Meter->SetThresholdValue2(4);
        Meter->SetThresholdValue3(8);
        Meter->SetThresholdValue4(16);
        Meter->SetThresholdValue5(32);
        Meter->SetThresholdValue6(64);
    }

    std::vector<int> ValuesAfterWriting(const std::vector<int>& values) {
        std::vector<int> shown;
        for (int v : values) {
            Meter->SetValue(v);
            shown.push_back(Meter->Value());
        }
        return shown;
    }

    int PaintsDuring(const std::function<void()>& action) {
        const int before = Counter.Paints;
        action();
        return Counter.Paints - before;
    }

    std::unique_ptr<QWidget> Panel;
    TMovementMeter* Meter;
    PaintCounter Counter;
};

TEST_F(MeterTest, StartsWithTheBuiltInSettings) {
    EXPECT_EQ(Meter->parentWidget(), Panel.get());
    EXPECT_TRUE(Meter->testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(Meter->size(), QSize(100, 100));
    EXPECT_EQ(Meter->MinValue(), 0);
    EXPECT_EQ(Meter->MaxValue(), 100);
    EXPECT_EQ(Meter->Value(), 0);
    EXPECT_EQ(Meter->RunningSize(), 1);
    EXPECT_EQ((std::vector<int>{Meter->ThresholdValue1(), Meter->ThresholdValue2(),
                                Meter->ThresholdValue3(), Meter->ThresholdValue4(),
                                Meter->ThresholdValue5(), Meter->ThresholdValue6()}),
              (std::vector<int>{10, 20, 30, 40, 50, 60}));
    EXPECT_TRUE(Meter->ShowText());
    EXPECT_EQ(Meter->BorderStyle(), TMovementMeter::TBorderStyle::bsSingle);
    EXPECT_EQ(Meter->ForeColor(), 0x000000u);
    EXPECT_EQ(Meter->BackColor(), 0xFFFFFFu);
}

TEST_F(MeterTest, ValuesOutsideTheRangeAreClampedBeforeTheyEnterTheWindow) {
    Meter->SetRunningSize(2);
    EXPECT_EQ(ValuesAfterWriting({150, 0}), (std::vector<int>{100, 100}));
    Meter->SetRunningSize(1);
    EXPECT_EQ(ValuesAfterWriting({-5, 37}), (std::vector<int>{0, 37}));
}

TEST_F(MeterTest, RunningSizeHoldsTheBurstForThatManySteps) {
    Meter->SetRunningSize(3);
    EXPECT_EQ(ValuesAfterWriting({50, 0, 0, 0}), (std::vector<int>{50, 50, 50, 0}));
    Meter->SetRunningSize(0);
    EXPECT_EQ(Meter->RunningSize(), 1);
    EXPECT_EQ(ValuesAfterWriting({50, 0}), (std::vector<int>{50, 0}));
}

TEST_F(MeterTest, RepaintsOnlyWhenTheShownValueChanges) {
    EXPECT_EQ(PaintsDuring([&] { Meter->SetValue(40); }), 1);
    EXPECT_EQ(PaintsDuring([&] {
                  Meter->SetThresholdValue1(50);
                  Meter->SetValue(40);
              }),
              0);
    EXPECT_EQ(PaintsDuring([&] { Meter->SetRunningSize(5); }), 0);
    EXPECT_EQ(PaintsDuring([&] { Meter->SetValue(41); }), 1);
}

TEST_F(MeterTest, RewritingTheShownValueIsStillRecordedInTheWindow) {
    Meter->SetRunningSize(3);
    // The second 40 keeps the burst alive one step longer than the first alone would.
    EXPECT_EQ(ValuesAfterWriting({40, 0, 40, 0, 0}), (std::vector<int>{40, 40, 40, 40, 40}));
}

TEST_F(MeterTest, DisplayPropertiesRepaintOnlyWhenChanged) {
    EXPECT_EQ(PaintsDuring([&] {
                  Meter->SetShowText(true);
                  Meter->SetBorderStyle(TMovementMeter::TBorderStyle::bsSingle);
                  Meter->SetForeColor(0);
                  Meter->SetBackColor(0xFFFFFF);
                  Meter->SetMinValue(0);
                  Meter->SetMaxValue(100);
              }),
              0);
    EXPECT_EQ(PaintsDuring([&] {
                  Meter->SetShowText(false);
                  Meter->SetBorderStyle(TMovementMeter::TBorderStyle::bsNone);
                  Meter->SetForeColor(0x123456);
                  Meter->SetBackColor(0);
              }),
              4);
}

TEST_F(MeterTest, RangeErrorsNameTheAllowedBoundsAndChangeNothing) {
    try {
        Meter->SetMaxValue(-1);
        FAIL() << "no error";
    } catch (const EInvalidOperation& error) {
        EXPECT_EQ(error.Message(), "Value must be between 1 and 2147483647");
    }
    try {
        Meter->SetMinValue(101);
        FAIL() << "no error";
    } catch (const EInvalidOperation& error) {
        EXPECT_EQ(error.Message(), "Value must be between -2147483647 and 99");
    }
    EXPECT_EQ(Meter->MinValue(), 0);
    EXPECT_EQ(Meter->MaxValue(), 100);
}

TEST_F(MeterTest, NarrowingTheRangePullsTheValueInAndRepaints) {
    Meter->SetValue(80);
    EXPECT_EQ(PaintsDuring([&] { Meter->SetMaxValue(50); }), 1);
    EXPECT_EQ(Meter->Value(), 50);
    EXPECT_EQ(PaintsDuring([&] { Meter->SetMinValue(50); }), 1);
    EXPECT_EQ(Meter->MinValue(), 50);
    EXPECT_EQ(Meter->MaxValue(), 50);
    EXPECT_EQ(Meter->PercentOfRange(), 0);
}

TEST_F(MeterTest, PercentOfRangeTruncates) {
    Meter->SetMaxValue(3);
    Meter->SetValue(2);
    EXPECT_EQ(Meter->PercentOfRange(), 66);
}

TEST_F(MeterTest, PercentOfRangeCopesWithTheWidestRange) {
    Meter->SetMinValue(-2147483647);
    Meter->SetMaxValue(2147483647);
    Meter->SetValue(0);
    EXPECT_EQ(Meter->PercentOfRange(), 50);
}

TEST_F(MeterTest, BoundsAtTheEndsOfTheIntegerRangeAreReportedUnwrapped) {
    Meter->SetMinValue(INT_MIN);
    Meter->SetMaxValue(INT_MIN);
    try {
        Meter->SetMinValue(0);
        FAIL() << "no error";
    } catch (const EInvalidOperation& error) {
        EXPECT_EQ(error.Message(), "Value must be between -2147483647 and -2147483649");
    }
}

TEST_F(MeterTest, PercentOfRangeStaysAnIntegerWhenAHeldPeakLiesFarOutsideTheRange) {
    Meter->SetRunningSize(2);
    Meter->SetMinValue(-2147483647);
    Meter->SetValue(100);
    Meter->SetMaxValue(-2147483646);
    // The window still holds 100, so the next peak brings it back.
    Meter->SetValue(0);
    EXPECT_EQ(Meter->Value(), 100);
    EXPECT_EQ(Meter->PercentOfRange(), INT_MAX);
}

TEST_F(MeterTest, BandColorIsTheHighestExceededThreshold) {
    UseConfiguredThresholds();
    const std::vector<std::pair<int, TColor>> table = {
        {0, 0xFFFFFF},  {2, 0xFFFFFF},  {3, 0x59BB9B},   {8, 0x59BB9B},   {9, 0x4696F7},
        {32, 0x4696F7}, {33, 0x4D50C0}, {100, 0x4D50C0}, {-50, 0xFFFFFF}, {1000, 0x4D50C0}};
    for (auto [v, color] : table) {
        EXPECT_EQ(Meter->BandColor(v), color) << v;
    }
}

TEST_F(MeterTest, BandColorTestsEveryBarOnItsOwn) {
    Meter->SetThresholdValue5(5); // bars 5 and 6 below bar 4
    Meter->SetThresholdValue6(90);
    EXPECT_EQ(Meter->BandColor(45), 0x4D50C0u);
    EXPECT_EQ(Meter->BandColor(95), 0x4D50C0u);
}

class MeterPicture : public MeterTest {
protected:
    QImage Render(int width, int value) {
        Meter->setGeometry(0, 0, width, 40);
        UseConfiguredThresholds();
        Meter->SetValue(value);
        return Meter->grab().toImage();
    }
    static constexpr int Centres[6] = {20, 64, 108, 152, 196, 240};
};

TEST_F(MeterPicture, ValueOnAThresholdLightsOnlyTheBarsBelowIt) {
    const QImage picture = Render(300, 8);
    const std::vector<QRgb> expected = {Green, Green, Unlit, Unlit, Unlit, Unlit};
    for (int bar = 0; bar < 6; ++bar) {
        EXPECT_EQ(picture.pixel(Centres[bar], 20), expected[bar]) << bar;
    }
}

TEST_F(MeterPicture, CirclesLieAtTheirCentresWithAFourPixelOutline) {
    const QImage picture = Render(300, 65);
    const std::vector<QRgb> lit = {Green, Green, Orange, Orange, Red, Red};
    for (int bar = 0; bar < 6; ++bar) {
        const int x = Centres[bar];
        EXPECT_EQ(picture.pixel(x, 20), lit[bar]) << bar;
        // The 4-pixel pen straddles the 18-pixel radius.
        EXPECT_EQ(picture.pixel(x - 18, 20), Outline) << bar;
        EXPECT_EQ(picture.pixel(x + 17, 20), Outline) << bar;
        EXPECT_EQ(picture.pixel(x, 2), Outline) << bar;
        EXPECT_EQ(picture.pixel(x, 37), Outline) << bar;
        EXPECT_EQ(picture.pixel(x - 14, 20), lit[bar]) << bar;
    }
    // Between the circles and in the corners the panel shows.
    EXPECT_EQ(picture.pixelColor(42, 20), PanelColor);
    EXPECT_EQ(picture.pixelColor(0, 0), PanelColor);
    EXPECT_EQ(picture.pixelColor(290, 20), PanelColor);
}

TEST_F(MeterPicture, ANarrowMeterClipsTheLastCircle) {
    const QImage picture = Render(255, 65);
    ASSERT_EQ(picture.width(), 255);
    EXPECT_EQ(picture.pixel(240, 20), Red);
    EXPECT_EQ(picture.pixel(254, 20), Red);
    EXPECT_EQ(picture.pixel(222, 20), Outline);
    EXPECT_EQ(picture.pixel(196, 20), Red);
}

} // namespace
