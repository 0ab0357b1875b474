#pragma once
// The stored options against false alarms as the engine takes them. The
// mask's text is parsed once per change, so that steps share one mask.

#include "engine/MotionEngine.h"
#include "settings/StepSettings.h"

#include <memory>
#include <string>

class TDetectionOptions {
public:
    // Sets the speckle filter, the light guard and the mask of `options`.
    // Throws EInvalidOperation for a mask text that cannot be read.
    void Apply(const TDetectionSettings& settings, TEngineOptions& options);

private:
    std::string FMaskText;
    std::shared_ptr<const TDetectionMask> FMask;
};
