#pragma once
// The options of the frame step as typed values: what the main window's
// boxes and the configuration window's checks hold while the program runs,
// and what the settings store keeps between runs.

#include <string>

struct TStepSettings {
    int PixelTolerance = 20;
    int MinimalMovement = 400;
    int CaptureFrequency = 250; // milliseconds between automatic steps
    bool BeepOnMove = false;
    bool SaveOnMove = false;
    bool LogInAuto = false;
};

// The stored values (the main window's section "<applicationKey>\Video" and
// the configuration's section "<applicationKey>"), each value missing or
// unreadable in the store taking its default above.
TStepSettings ReadStepSettings(const std::string& applicationKey);
