#include "chart/TAreaSeries.h"

#include "chart/TChart.h"
#include "types/Exception.h"

TAreaSeries::TAreaSeries(TChart* chart) : QObject(chart), FChart(chart) {}

void TAreaSeries::CheckIndex(int i) const {
    if (i < 0 || i >= Count()) {
        throw EListError("List index out of bounds (" + std::to_string(i) + ")");
    }
}

const TAreaSeries::TSeriesPoint& TAreaSeries::At(int i) const {
    CheckIndex(i);
    return FPoints[static_cast<std::size_t>(i)];
}

TAreaSeries::TSeriesPoint& TAreaSeries::At(int i) {
    CheckIndex(i);
    return FPoints[static_cast<std::size_t>(i)];
}

void TAreaSeries::Clear() {
    FPoints.clear();
    Changed();
}

void TAreaSeries::BeginUpdate() {
    ++FUpdateDepth;
}

void TAreaSeries::EndUpdate() {
    // An EndUpdate without its BeginUpdate is ignored rather than leaving the
    // series stuck in a batch.
    if (FUpdateDepth == 0) {
        return;
    }
    if (--FUpdateDepth == 0) {
        Refresh();
    }
}

int TAreaSeries::AddY(double y, const std::string& label, TColor color) {
    const double x = static_cast<double>(FPoints.size());
    FPoints.push_back({x, y, label, color});
    Changed();
    return Count() - 1;
}

void TAreaSeries::SetYValue(int i, double y) {
    At(i).Y = y;
    Changed();
}

void TAreaSeries::SetPointColor(int i, TColor color) {
    At(i).Color = color;
    Changed();
}

void TAreaSeries::Repaint() {
    if (FChart) {
        FChart->RepaintChangedPoints();
    }
}

void TAreaSeries::Changed() {
    if (!Updating()) {
        Refresh();
    }
}

void TAreaSeries::Refresh() {
    emit Refreshed();
    Repaint();
}
