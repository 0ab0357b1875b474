#pragma once
// An area series: points with an X value, a Y value, a label and a colour of
// their own, shown by its chart as the area under the points, each stretch
// filled in the colour of the point it leads to.

#include "types/TColor.h"

#include <QObject>
#include <string>
#include <vector>

class TChart;

class TAreaSeries : public QObject {
    Q_OBJECT
public:
    explicit TAreaSeries(TChart* chart);

    TChart* ParentChart() const { return FChart; }

    // Removes every point with its values and colour.
    void Clear();
    // Batches nest; while any is open, changes do not refresh the series one
    // by one. The outermost EndUpdate refreshes once.
    void BeginUpdate();
    void EndUpdate();
    bool Updating() const { return FUpdateDepth > 0; }

    // Appends a point whose X value is the number of points held before.
    // Returns its index.
    int AddY(double y, const std::string& label, TColor color);
    void SetYValue(int i, double y);
    void SetPointColor(int i, TColor color);

    int Count() const { return static_cast<int>(FPoints.size()); }
    double XValue(int i) const { return At(i).X; }
    double YValue(int i) const { return At(i).Y; }
    TColor PointColor(int i) const { return At(i).Color; }
    const std::string& Label(int i) const { return At(i).Label; }

    // Asks the chart to redraw itself.
    void Repaint();

signals:
    // The series has refreshed: a change outside a batch, or the end of the
    // outermost batch.
    void Refreshed();

private:
    struct TSeriesPoint {
        double X = 0;
        double Y = 0;
        std::string Label;
        TColor Color = 0;
    };

    void CheckIndex(int i) const;
    const TSeriesPoint& At(int i) const;
    TSeriesPoint& At(int i);
    void Changed();
    void Refresh();

    TChart* FChart;
    std::vector<TSeriesPoint> FPoints;
    int FUpdateDepth = 0;
};
