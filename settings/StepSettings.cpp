#include "settings/StepSettings.h"

#include "settings/TRegIniFile.h"

namespace {
// The store's base key, shared by every window of the program.
constexpr const char* BaseKey = "Software\\Quellor";
} // namespace

TStepSettings ReadStepSettings(const std::string& applicationKey) {
    TStepSettings settings;
    TRegIniFile store(BaseKey);
    const std::string window = applicationKey + "\\Video";
    settings.PixelTolerance = store.ReadInteger(window, "PixelTolerance", settings.PixelTolerance);
    settings.MinimalMovement =
        store.ReadInteger(window, "MinimalMovement", settings.MinimalMovement);
    settings.CaptureFrequency =
        store.ReadInteger(window, "CaptureFrequency", settings.CaptureFrequency);
    settings.BeepOnMove = store.ReadBool(applicationKey, "BeepOnMove", settings.BeepOnMove);
    settings.SaveOnMove = store.ReadBool(applicationKey, "SaveOnMove", settings.SaveOnMove);
    settings.LogInAuto = store.ReadBool(applicationKey, "LogInAuto", settings.LogInAuto);
    return settings;
}
