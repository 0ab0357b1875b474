#pragma once
// The files a scan writes for one recording: the movement log in the CSV
// format of automatic mode, and the events list as CSV and JSON. Each file is
// written beside its final name and renamed over it when complete.

#include "scan/FileScan.h"

#include <string>

// One log record per step, "yyyy-mm-dd hh:nn:ss:zzz, pixels, percent": the
// local wall-clock time of the frame when the recording says when it was
// made, otherwise the frame's time in the video on day 0 of year 0
// ("0000-00-00 00:00:05:250"; days count on past 24 hours).
std::string MovementLogText(const std::vector<TStepRecord>& steps, const TCreationTime& creation);

// Writes the text to the path; throws EScanFileError naming the file and the
// cause. A failed write leaves an existing file as it was.
void WriteWholeFile(const std::string& path, const std::string& text);

struct TOutputNames {
    std::string Log;
    std::string EventsCsv;
    std::string EventsJson;
    std::string Plot;
    // Clips are named this, "-event-001" and the container's extension.
    std::string ClipStem;
};

// "<folder>/<file name without extension>.<kind>..."
TOutputNames OutputNamesFor(const std::string& folder, const std::string& inputPath);
