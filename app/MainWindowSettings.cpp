#include "app/MainWindowSettings.h"

#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"
#include "windows/BaseFormUnit.h"

#include <array>

namespace {

struct TNamedBox {
    const char* Name;
    TSpinEdit* Box;
};

// The values in the order they are read and written.
std::array<TNamedBox, 3> NamedBoxes(const TDetectionBoxes& boxes) {
    return {{{"PixelTolerance", boxes.PixelTolerance},
             {"MinimalMovement", boxes.MinimalMovement},
             {"CaptureFrequency", boxes.CaptureFrequency}}};
}

} // namespace

void LoadMainWindowSettings(const std::string& section, const TDetectionBoxes& boxes) {
    TRegIniFile settings(BaseForm::SettingsBaseKey);
    for (const TNamedBox& named : NamedBoxes(boxes)) {
        named.Box->SetValue(settings.ReadInteger(section, named.Name, named.Box->Value()));
    }
}

void SaveMainWindowSettings(const std::string& section, const TDetectionBoxes& boxes) {
    if (section.empty()) {
        return;
    }
    TRegIniFile settings(BaseForm::SettingsBaseKey);
    for (const TNamedBox& named : NamedBoxes(boxes)) {
        settings.WriteInteger(section, named.Name, named.Box->Value());
    }
    settings.UpdateFile();
}
