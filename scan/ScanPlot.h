#pragma once
// The plot of a scan: the movement percentage over the video's time, with
// the events shaded, as a PNG file. Drawn with QtGui on an image, without a
// display.

#include "scan/ScanEvents.h"

#include <memory>
#include <string>
#include <vector>

struct TPlotData {
    std::string Title;
    std::string Subtitle;
    std::vector<TStepRecord> Steps;
    std::vector<TScanEvent> Events;
    std::int64_t VideoEndNs = 0;
};

// Fonts need a QtGui application object; this makes one on the offscreen
// platform for as long as it lives (unless one exists). Made on the main
// thread before any plot is drawn.
class TPlotSupport {
public:
    TPlotSupport();
    ~TPlotSupport();
    TPlotSupport(const TPlotSupport&) = delete;
    TPlotSupport& operator=(const TPlotSupport&) = delete;

private:
    struct TState;
    std::unique_ptr<TState> State;
};

// Writes the plot; throws EScanFileError naming the file and the cause. Safe
// to call from several threads: the drawing takes turns.
void WritePlot(const std::string& path, const TPlotData& data);
