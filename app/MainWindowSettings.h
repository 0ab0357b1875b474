#pragma once
// The values the main window keeps in its own settings section besides its
// placement: those of its three detection boxes.

#include <string>

class TSpinEdit;

struct TDetectionBoxes {
    TSpinEdit* PixelTolerance = nullptr;
    TSpinEdit* MinimalMovement = nullptr;
    TSpinEdit* CaptureFrequency = nullptr;
};

// Reads "PixelTolerance", "MinimalMovement" and "CaptureFrequency", in this
// order, each with its box's current value as the default, and sets it into
// the box (under the box's rules). A value the store refuses ends the load
// there: the boxes before it keep what they were given.
void LoadMainWindowSettings(const std::string& section, const TDetectionBoxes& boxes);

// Writes the three box values under the same names in the same order; with
// no section (the window never loaded its settings) nothing is written.
void SaveMainWindowSettings(const std::string& section, const TDetectionBoxes& boxes);
