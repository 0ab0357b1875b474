#pragma once
// The scrolling movement graph: the percentages of the latest frame steps,
// newest at the right, each point coloured by the meter's band for its own
// value.

#include "types/TColor.h"

#include <vector>

class TAreaSeries;
class TMovementMeter;

struct RunningElement {
    int Value = 0;
    TColor Color = 0;
};

class RunningGraph {
public:
    static constexpr TColor DefaultPointColor = 0xFF0000;
    // Steps taken for a change of light rather than movement.
    static constexpr TColor LightChangeColor = 0x808080;

    // Neither the series nor the meter is owned.
    RunningGraph(TAreaSeries* series, int pointCount);
    virtual ~RunningGraph() = default;

    void SetMeter(TMovementMeter* meter) { Meter = meter; }

    // Refills the list and the series with PointCount zero points.
    void Reset();
    // Appends a point coloured for v, drops the oldest one and redraws.
    void AddValue(int v);
    // Appends a point in the given colour instead of the meter's.
    void AddValue(int v, TColor color);
    // Copies every element into its series point in one batch.
    void Redraw();

    int PointCount;
    TAreaSeries* Series;
    TMovementMeter* Meter = nullptr;
    std::vector<RunningElement> Elements;
};
