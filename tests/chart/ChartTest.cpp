#include "chart/TAreaSeries.h"
#include "chart/TChart.h"

#include "types/Exception.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

class ChartTest : public ::testing::Test {
protected:
    ChartTest() {
        QObject::connect(Series, &TAreaSeries::Refreshed, Series, [this] { ++Refreshes; });
    }

    TChart Chart;
    TAreaSeries* Series = Chart.Series1();
    int Refreshes = 0;
};

TEST_F(ChartTest, AppendedPointsTakeTheirIndexAsX) {
    EXPECT_EQ(Series->ParentChart(), &Chart);
    EXPECT_EQ(Chart.findChild<TAreaSeries*>("Series1"), Series);
    EXPECT_EQ(Series->AddY(12.5, "a", 0x0000FF), 0);
    EXPECT_EQ(Series->AddY(40, "", 0xFF0000), 1);
    ASSERT_EQ(Series->Count(), 2);
    EXPECT_EQ(Series->XValue(0), 0.0);
    EXPECT_EQ(Series->XValue(1), 1.0);
    EXPECT_EQ(Series->YValue(0), 12.5);
    EXPECT_EQ(Series->Label(0), "a");
    EXPECT_EQ(Series->PointColor(1), 0xFF0000u);

    Series->SetYValue(0, 70);
    Series->SetPointColor(0, 0x00FF00);
    EXPECT_EQ(Series->XValue(0), 0.0);
    EXPECT_EQ(Series->YValue(0), 70.0);
    EXPECT_EQ(Series->PointColor(0), 0x00FF00u);

    Series->Clear();
    EXPECT_EQ(Series->Count(), 0);
    Series->AddY(1, "", 0);
    EXPECT_EQ(Series->XValue(0), 0.0);
}

TEST_F(ChartTest, IndexesOutsideThePointsAreRefused) {
    Series->AddY(1, "", 0);
    EXPECT_THROW(Series->SetYValue(1, 5), EListError);
    EXPECT_THROW(Series->SetPointColor(-1, 0), EListError);
    EXPECT_THROW(Series->YValue(1), EListError);
    EXPECT_EQ(Series->YValue(0), 1.0);
}

TEST_F(ChartTest, EveryChangeOutsideABatchRefreshes) {
    Series->AddY(1, "", 0);
    Series->SetYValue(0, 2);
    Series->SetPointColor(0, 3);
    Series->Clear();
    EXPECT_EQ(Refreshes, 4);
}

TEST_F(ChartTest, NestedBatchesRefreshOnceWhenTheOutermostEnds) {
    Series->BeginUpdate();
    Series->BeginUpdate();
    for (int i = 0; i < 10; ++i) {
        Series->AddY(i, "", 0);
        Series->SetPointColor(i, 0x123456);
    }
    Series->EndUpdate();
    EXPECT_EQ(Refreshes, 0);
    EXPECT_TRUE(Series->Updating());
    Series->EndUpdate();
    EXPECT_EQ(Refreshes, 1);
    EXPECT_FALSE(Series->Updating());
}

TEST_F(ChartTest, AStrayEndUpdateDoesNotSwallowTheNextBatch) {
    Series->EndUpdate();
    EXPECT_EQ(Refreshes, 0);
    Series->BeginUpdate();
    Series->AddY(5, "", 0);
    Series->EndUpdate();
    EXPECT_EQ(Refreshes, 1);
}

class ChartPicture : public ChartTest {
protected:
    QImage Render() {
        Chart.resize(300, 200);
        return Chart.grab().toImage();
    }
    QRgb PixelAt(const QImage& image, double x, double y) {
        return image.pixel(static_cast<int>(x), static_cast<int>(y));
    }
};

TEST_F(ChartPicture, EachStretchIsFilledInTheColourOfItsRightHandPoint) {
    Series->AddY(50, "", 0x0000FF);  // red, never shown: no stretch leads to it
    Series->AddY(50, "", 0x00FF00);  // green
    Series->AddY(100, "", 0xFF0000); // blue
    const QImage picture = Render();
    const QPointF p0 = Chart.PointPosition(0);
    const QPointF p1 = Chart.PointPosition(1);
    const QPointF p2 = Chart.PointPosition(2);
    const double base = Chart.PlotRect().bottom();
    const double belowHalf = (p1.y() + base) / 2;

    EXPECT_EQ(PixelAt(picture, (p0.x() + p1.x()) / 2, belowHalf), qRgb(0, 255, 0));
    EXPECT_EQ(PixelAt(picture, (p1.x() + p2.x()) / 2, belowHalf), qRgb(0, 0, 255));
    // Above the first stretch the chart is white.
    EXPECT_EQ(PixelAt(picture, (p0.x() + p1.x()) / 2, p1.y() - 10), qRgb(255, 255, 255));
}

TEST_F(ChartPicture, TheAxisRunsFromZeroAtTheBottomToHundredAtTheTop) {
    Series->AddY(0, "", 0);
    Series->AddY(100, "", 0);
    const QRect plot = Chart.PlotRect();
    EXPECT_NEAR(Chart.PointPosition(0).y(), plot.bottom() + 1, 0.5);
    EXPECT_NEAR(Chart.PointPosition(1).y(), plot.top(), 0.5);
    EXPECT_EQ(Chart.PointPosition(0).x(), plot.left());
    EXPECT_NEAR(Chart.PointPosition(1).x(), plot.right() + 1, 0.5);
}

TEST_F(ChartPicture, APanelOfWhiteInsideABevelledFrame) {
    EXPECT_EQ(Chart.lineWidth(), TChart::BevelWidth);
    EXPECT_EQ(Chart.frameShape(), QFrame::Panel);
    const QImage picture = Render();
    const QRgb shadow = picture.pixel(picture.width() - 1, picture.height() - 1);
    EXPECT_NE(shadow, qRgb(255, 255, 255));
    EXPECT_EQ(picture.pixel(picture.width() - 1 - (TChart::BevelWidth - 1), picture.height() / 2),
              shadow);
    EXPECT_NE(picture.pixel(picture.width() - 1 - TChart::BevelWidth, picture.height() / 2),
              shadow);
    EXPECT_EQ(picture.pixel(Chart.PlotRect().center()), qRgb(255, 255, 255));
}

} // namespace
