#pragma once
// A small chart control: a white panel inside a bevelled frame, a fixed left
// axis from 0 to 100 with labels, and one area series. No bottom axis, no
// legend, no title.

#include "types/TColor.h"

#include <QFrame>
#include <QPixmap>

#include <vector>

class TAreaSeries;

class TChart : public QFrame {
    Q_OBJECT
public:
    static constexpr double LeftAxisMinimum = 0;
    static constexpr double LeftAxisMaximum = 100;
    static constexpr int TickLength = 2;
    static constexpr int BevelWidth = 3;

    explicit TChart(QWidget* parent = nullptr);

    TAreaSeries* Series1() const { return FSeries1; }

    // The rectangle the series is drawn in, in widget coordinates.
    QRect PlotRect() const;
    // Where point i of the series lies on the widget; i must be a point of the series.
    QPointF PointPosition(int i) const;

    // Schedules a repaint of the part of the plot whose points changed since
    // the last call (all of it when the number of points changed); nothing
    // when no point changed.
    void RepaintChangedPoints();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int LabelStep(int plotHeight) const;
    int AxisLabelWidth() const;
    double MapY(double y, const QRect& plot) const;
    // PointPosition within a plot rectangle already known: the rectangle
    // measures the axis labels' text, too dear to repeat for every point.
    QPointF PointPosition(int i, const QRect& plot) const;
    void DrawBevel(QPainter& painter) const;
    void DrawLeftAxis(QPainter& painter, const QRect& plot) const;
    void DrawSeries(QPainter& painter, const QRect& plot, int left, int right) const;
    const QPixmap& Background();

    TAreaSeries* FSeries1;
    // The frame, the panel and the axis, drawn once per size, font and palette.
    QPixmap FBackground;
    // The widest axis label's width in the current font; -1 until measured.
    // Every step places its points by it, and measuring text is dear.
    mutable int FAxisLabelWidth = -1;
    // The points as they were when a repaint was last scheduled.
    struct TShownPoint {
        double Y = 0;
        TColor Color = 0;
    };
    std::vector<TShownPoint> FScheduled;
};
