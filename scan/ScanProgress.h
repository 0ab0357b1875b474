#pragma once
// What a running scan shows on the standard error: on a terminal, a bar per
// file being scanned and one for all files, redrawn in place; otherwise plain
// lines as each file starts, passes each tenth and ends.

#include "scan/FileScan.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

class TProgressDisplay {
public:
    TProgressDisplay(std::FILE* out, bool terminal, std::vector<std::string> names,
                     std::deque<TScanProgress>& progress);

    // Shows the current state; called a few times a second.
    void Update();
    // Clears the bars so that later lines start on a clean line.
    void Finish();

private:
    using TClock = std::chrono::steady_clock;
    struct TFileState {
        TClock::time_point Start;
        bool Seen = false;
        bool Reported = false;
        int Tenth = -1;
    };

    std::FILE* Out;
    bool Terminal;
    std::vector<std::string> Names;
    std::deque<TScanProgress>& Progress;
    std::vector<TFileState> States;
    TClock::time_point Start;
    int LinesDrawn = 0;

    std::string FileFigures(std::size_t index, TClock::time_point now) const;
    std::string FileLine(std::size_t index, TClock::time_point now) const;
    std::string OverallLine(TClock::time_point now) const;
    void DrawBars(TClock::time_point now);
    void WritePlainLines(TClock::time_point now);
};

// "1:02:03" or "2:03".
std::string DurationText(double seconds);
