#pragma once
// The options of the frame step as typed values: what the main window's
// boxes and the configuration window's checks hold while the program runs,
// and what the settings store keeps between runs.

#include <string>

// The options against false alarms (section "<applicationKey>\Detection"),
// each off by default.
struct TDetectionSettings {
    int SpeckleNeighbours = 0; // 0 off .. 8
    bool LightGuard = false;
    int LightGuardPercent = 60;
    std::string Mask; // the mask's text form; empty: no mask

    bool operator==(const TDetectionSettings&) const = default;
};

struct TStepSettings {
    int PixelTolerance = 20;
    int MinimalMovement = 400;
    int CaptureFrequency = 250; // milliseconds between automatic steps
    bool BeepOnMove = false;
    bool SaveOnMove = false;
    bool LogInAuto = false;
    TDetectionSettings Detection;
};

// The stored values (the main window's section "<applicationKey>\Video" and
// the configuration's section "<applicationKey>"), each value missing or
// unreadable in the store taking its default above.
TStepSettings ReadStepSettings(const std::string& applicationKey);

class TRegIniFile;
TDetectionSettings ReadDetectionSettings(TRegIniFile& store, const std::string& applicationKey);
void WriteDetectionSettings(TRegIniFile& store, const std::string& applicationKey,
                            const TDetectionSettings& settings);
