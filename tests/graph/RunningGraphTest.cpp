#include "graph/RunningGraph.h"
#include "tests/PaintCounter.h"

#include "chart/TAreaSeries.h"
#include "chart/TChart.h"
#include "meter/Meter.h"
#include "types/Exception.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <iterator>

namespace {

class RunningGraphTest : public ::testing::Test {
protected:
    RunningGraphTest() {
        Meter.SetThresholdValue1(2);
        Meter.SetThresholdValue2(4);
        Meter.SetThresholdValue3(8);
        Meter.SetThresholdValue4(16);
        Meter.SetThresholdValue5(32);
        Meter.SetThresholdValue6(64);
        QObject::connect(Series, &TAreaSeries::Refreshed, Series, [this] { ++Refreshes; });
    }

    TChart Chart;
    TAreaSeries* Series = Chart.Series1();
    TMovementMeter Meter{nullptr};
    int Refreshes = 0;
};

TEST_F(RunningGraphTest, StartsWithZeroPointsInTheDefaultColour) {
    RunningGraph graph(Series, 100);
    EXPECT_EQ(graph.Meter, nullptr);
    ASSERT_EQ(Series->Count(), 100);
    ASSERT_EQ(graph.Elements.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(Series->XValue(i), i);
        EXPECT_EQ(Series->YValue(i), 0.0);
        EXPECT_EQ(Series->PointColor(i), 0xFF0000u);
        EXPECT_EQ(graph.Elements[i].Value, 0);
        EXPECT_EQ(graph.Elements[i].Color, 0u);
    }
    EXPECT_FALSE(Series->Updating());
}

TEST_F(RunningGraphTest, ANewValueEntersOnTheRightInItsBandColour) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    graph.AddValue(30);
    ASSERT_EQ(Series->Count(), 100);
    EXPECT_EQ(Series->YValue(99), 30.0);
    EXPECT_EQ(Series->PointColor(99), 0x4696F7u);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(Series->XValue(i), i);
        EXPECT_EQ(Series->YValue(i), 0.0);
        EXPECT_EQ(Series->PointColor(i), 0u);
    }
    EXPECT_EQ(graph.Elements.size(), 100u);
}

TEST_F(RunningGraphTest, ValuesAtAndJustAboveTheFirstThreshold) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    graph.AddValue(2);
    EXPECT_EQ(Series->PointColor(99), 0xFFFFFFu);
    graph.AddValue(3);
    EXPECT_EQ(Series->PointColor(99), 0x59BB9Bu);
    EXPECT_EQ(Series->PointColor(98), 0xFFFFFFu);
    EXPECT_EQ(Series->YValue(98), 2.0);
}

TEST_F(RunningGraphTest, PointsKeepTheColourTheyWereGiven) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    graph.AddValue(30);
    Meter.SetThresholdValue3(50);
    Meter.SetThresholdValue4(50);
    graph.AddValue(30);
    EXPECT_EQ(Series->PointColor(98), 0x4696F7u);
    EXPECT_EQ(Series->PointColor(99), 0x59BB9Bu);
}

TEST_F(RunningGraphTest, AHundredValuesPushOutEveryZeroPoint) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    for (int v = 1; v <= 100; ++v) {
        graph.AddValue(v);
    }
    ASSERT_EQ(Series->Count(), 100);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(Series->XValue(i), i);
        EXPECT_EQ(Series->YValue(i), i + 1.0);
        EXPECT_EQ(Series->PointColor(i), Meter.BandColor(i + 1));
    }
}

TEST_F(RunningGraphTest, WithoutAMeterEveryPointTakesTheDefaultColour) {
    RunningGraph graph(Series, 100);
    graph.AddValue(70);
    graph.AddValue(0);
    EXPECT_EQ(Series->PointColor(98), 0xFF0000u);
    EXPECT_EQ(Series->PointColor(99), 0xFF0000u);
}

TEST_F(RunningGraphTest, ResetStartsAfresh) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    graph.AddValue(80);
    graph.Reset();
    ASSERT_EQ(Series->Count(), 100);
    EXPECT_EQ(Series->YValue(99), 0.0);
    EXPECT_EQ(Series->PointColor(99), 0xFF0000u);
    EXPECT_EQ(Series->XValue(99), 99.0);
    EXPECT_EQ(graph.Elements.size(), 100u);
}

TEST_F(RunningGraphTest, AGraphOfNoPointsStaysEmpty) {
    RunningGraph graph(Series, 0);
    graph.SetMeter(&Meter);
    graph.AddValue(40);
    graph.AddValue(5);
    EXPECT_EQ(Series->Count(), 0);
    EXPECT_TRUE(graph.Elements.empty());
}

TEST_F(RunningGraphTest, EachNewValueRefreshesTheSeriesOnce) {
    RunningGraph graph(Series, 100);
    Refreshes = 0;
    graph.AddValue(12);
    EXPECT_EQ(Refreshes, 1);
}

TEST_F(RunningGraphTest, EachNewValuePaintsTheChartOnce) {
    RunningGraph graph(Series, 100);
    Chart.resize(300, 150);
    Chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Chart));
    QCoreApplication::processEvents();
    PaintCounter counter;
    Chart.installEventFilter(&counter);
    graph.AddValue(12);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.Paints, 1);
}

TEST_F(RunningGraphTest, AFailedRedrawDoesNotLeaveTheSeriesInABatch) {
    RunningGraph graph(Series, 100);
    Series->Clear();
    EXPECT_THROW(graph.AddValue(10), EListError);
    EXPECT_FALSE(Series->Updating());
    graph.Reset();
    Refreshes = 0;
    graph.AddValue(10);
    EXPECT_EQ(Refreshes, 1);
    EXPECT_EQ(Series->YValue(99), 10.0);
}

} // namespace

class RunningGraphOnScreen : public RunningGraphTest {
protected:
    void Show() {
        Chart.resize(300, 150);
        Chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Chart));
        QCoreApplication::processEvents();
    }
    // What the window shows now: the backing store, which keeps what earlier
    // partial repaints left.
    QImage Shown() {
        return Chart.screen()
            ->grabWindow(Chart.winId())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }
};

// A graph fed step by step, each step repainting only what changed, shows
// the same picture as one painted whole from the same points.
TEST_F(RunningGraphOnScreen, StepwiseRepaintsShowTheSamePictureAsAWholePaint) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    Show();
    const int values[] = {0, 3, 3, 30, 100, 7, 7, 7, 0, 65, 12, 12, 0, 0, 1, 99, 40, 5};
    for (int step = 0; step < 160; ++step) {
        graph.AddValue(values[step % std::size(values)] * (step / 20 % 2));
        QCoreApplication::processEvents();
        if (step % 40 == 39) {
            const QImage whole = Chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(Shown(), whole) << "after step " << step;
        }
    }
}

TEST_F(RunningGraphOnScreen, AValueThatChangesNoPointPaintsNothing) {
    RunningGraph graph(Series, 100);
    graph.SetMeter(&Meter);
    Show();
    for (int i = 0; i < 100; ++i) {
        graph.AddValue(1);
    }
    QCoreApplication::processEvents();
    PaintCounter counter;
    Chart.installEventFilter(&counter);
    graph.AddValue(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.Paints, 0);
    graph.AddValue(2);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.Paints, 1);
}
