#pragma once
// A small chart control: a white panel inside a bevelled frame, a fixed left
// axis from 0 to 100 with labels, and one area series. No bottom axis, no
// legend, no title.

#include <QFrame>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int LabelStep(int plotHeight) const;
    int AxisLabelWidth() const;
    double MapY(double y, const QRect& plot) const;
    void DrawBevel(QPainter& painter) const;
    void DrawLeftAxis(QPainter& painter, const QRect& plot) const;
    void DrawSeries(QPainter& painter, const QRect& plot) const;

    TAreaSeries* FSeries1;
};
