#include "settings/StepSettings.h"

#include "settings/TRegIniFile.h"

#include <algorithm>

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
    settings.Detection = ReadDetectionSettings(store, applicationKey);
    return settings;
}

namespace {
// The store keeps one line per value: the mask's lines are joined by ';',
// which its text form reads as line ends.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n') {
            c = ';';
        }
    }
    return text;
}
} // namespace

TDetectionSettings ReadDetectionSettings(TRegIniFile& store, const std::string& applicationKey) {
    TDetectionSettings settings;
    const std::string section = applicationKey + "\\Detection";
    settings.SpeckleNeighbours =
        std::clamp(store.ReadInteger(section, "SpeckleNeighbours", 0), 0, 8);
    settings.LightGuard = store.ReadBool(section, "LightGuard", false);
    settings.LightGuardPercent =
        std::clamp(store.ReadInteger(section, "LightGuardPercent", 60), 1, 100);
    settings.Mask = store.ReadString(section, "Mask", "");
    return settings;
}

void WriteDetectionSettings(TRegIniFile& store, const std::string& applicationKey,
                            const TDetectionSettings& settings) {
    // All off, and nothing else stored: the store stays as it was without
    // these options.
    if (settings == TDetectionSettings{} &&
        ReadDetectionSettings(store, applicationKey) == settings) {
        return;
    }
    const std::string section = applicationKey + "\\Detection";
    store.WriteInteger(section, "SpeckleNeighbours", settings.SpeckleNeighbours);
    store.WriteBool(section, "LightGuard", settings.LightGuard);
    store.WriteInteger(section, "LightGuardPercent", settings.LightGuardPercent);
    store.WriteString(section, "Mask", OneLine(settings.Mask));
}
