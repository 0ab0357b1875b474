#include "graph/RunningGraph.h"

#include "chart/TAreaSeries.h"
#include "meter/Meter.h"

namespace {

// Closes the batch even when a point write fails, so that the series does not
// stay in a batch for good and stop refreshing.
class TBatchUpdate {
public:
    explicit TBatchUpdate(TAreaSeries* series) : FSeries(series) { FSeries->BeginUpdate(); }
    ~TBatchUpdate() { FSeries->EndUpdate(); }
    TBatchUpdate(const TBatchUpdate&) = delete;
    TBatchUpdate& operator=(const TBatchUpdate&) = delete;

private:
    TAreaSeries* FSeries;
};

} // namespace

RunningGraph::RunningGraph(TAreaSeries* series, int pointCount)
    : PointCount(pointCount), Series(series) {
    Reset();
}

void RunningGraph::Reset() {
    Series->Clear();
    Elements.clear();
    TBatchUpdate batch(Series);
    for (int i = 0; i < PointCount; ++i) {
        Elements.push_back({0, 0});
        Series->AddY(0.0, "", DefaultPointColor);
    }
}

void RunningGraph::AddValue(int v) {
    AddValue(v, Meter ? Meter->BandColor(v) : DefaultPointColor);
}

void RunningGraph::AddValue(int v, TColor color) {
    Elements.push_back({v, color});
    if (static_cast<int>(Elements.size()) >= PointCount) {
        Elements.erase(Elements.begin());
    }
    Redraw();
}

void RunningGraph::Redraw() {
    {
        TBatchUpdate batch(Series);
        for (int i = 0; i < PointCount; ++i) {
            const RunningElement& element = Elements.at(static_cast<std::size_t>(i));
            Series->SetYValue(i, static_cast<double>(element.Value));
            Series->SetPointColor(i, element.Color);
        }
    }
    Series->Repaint();
}
