// The "Detection" tab of the configuration window: the options against false
// alarms, each off by default: the speckle filter, the light-change guard and
// the mask (in its text form; "Video > Edit Mask..." draws it).

#include "settings/ConfigUnit.h"

#include "engine/DetectionMask.h"
#include "settings/SheetLayout.h"
#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <algorithm>

namespace {

// The width of the tab's number fields.
constexpr int EditWidth = 81;

} // namespace

void TConfigForm::BuildDetectionSheet() {
    const int groupWidth = PageControl->width() - 4 * SheetMargin;
    FalseAlarmGroup = SheetGroup(DetectionSheet, "FalseAlarmGroup", "Fewer false alarms",
                                 SheetMargin, groupWidth, 94);
    SheetLabel(FalseAlarmGroup, "SpeckleLabel",
               "Speckle filter: changed neighbours a pixel needs (0 off):", 8, 22);
    SpeckleEdit = SheetEdit(FalseAlarmGroup, "SpeckleEdit", 360, 18, EditWidth, 0, 8, 0);
    LightGuardCheck = SheetCheck(FalseAlarmGroup, "LightGuardCheck",
                                 "Light change guard: ignore steps changing over", 8, 46);
    LightGuardEdit = SheetEdit(FalseAlarmGroup, "LightGuardEdit", 360, 44, EditWidth, 1, 100, 60);
    SheetLabel(FalseAlarmGroup, "LightGuardUnitLabel", "%", 446, 48);

    DetectionReadoutLabel = SheetLabel(FalseAlarmGroup, "DetectionReadoutLabel",
                                       "Latest step: none yet (Auto gives a live reading)", 8, 72);
    DetectionReadoutLabel->setMinimumWidth(groupWidth - 16);

    MaskGroup = SheetGroup(DetectionSheet, "MaskGroup", "Mask", SheetMargin + 94 + SheetMargin,
                           groupWidth, 134);
    SheetLabel(MaskGroup, "MaskHelpLabel",
               "\"ignore\" or \"watch\", then one polygon per line: x,y pairs from 0 to 1", 8, 18);
    MaskEdit = Placed(new QPlainTextEdit(MaskGroup), "MaskEdit", 8, 36, groupWidth - 16, 72);
    MaskStatusLabel = SheetLabel(MaskGroup, "MaskStatusLabel", "No mask", 8, 112);
    MaskStatusLabel->setMinimumWidth(groupWidth - 16);
    connect(MaskEdit, &QPlainTextEdit::textChanged, this, &TConfigForm::MaskEditChange);
}

// A mask text that cannot be read leaves the last good one in force and says
// why on the tab.
void TConfigForm::MaskEditChange() {
    const std::string text = MaskEdit->toPlainText().toStdString();
    try {
        const TDetectionMask mask = ParseMask(text);
        FValidMaskText = mask.Empty() ? std::string() : text;
        MaskStatusLabel->setText(
            mask.Empty()
                ? QString("No mask")
                : QString("%1 polygon(s), %2")
                      .arg(mask.Polygons.size())
                      .arg(mask.Mode == TMaskMode::Ignore ? "ignored" : "the only areas watched"));
    } catch (const std::exception& fault) {
        MaskStatusLabel->setText(QString::fromStdString(fault.what()));
    }
    emit DetectionChanged();
}

TDetectionSettings TConfigForm::DetectionSettings() const {
    TDetectionSettings settings;
    settings.SpeckleNeighbours = SpeckleEdit->Value();
    settings.LightGuard = LightGuardCheck->isChecked();
    settings.LightGuardPercent = LightGuardEdit->Value();
    settings.Mask = FValidMaskText;
    return settings;
}

void TConfigForm::SetDetectionSettings(const TDetectionSettings& settings) {
    SpeckleEdit->SetValue(settings.SpeckleNeighbours);
    LightGuardCheck->setChecked(settings.LightGuard);
    LightGuardEdit->SetValue(settings.LightGuardPercent);
    std::string text = settings.Mask;
    std::replace(text.begin(), text.end(), ';', '\n');
    MaskEdit->setPlainText(QString::fromStdString(text));
}

void TConfigForm::LoadDetectionSettings(TRegIniFile& store) {
    SetDetectionSettings(ReadDetectionSettings(store, SettingsSection));
}

void TConfigForm::SaveDetectionSettings(TRegIniFile& store) {
    WriteDetectionSettings(store, SettingsSection, DetectionSettings());
}

void TConfigForm::ConnectDetectionSheet() {
    connect(SpeckleEdit, &TSpinEdit::Change, this, &TConfigForm::DetectionChanged);
    connect(LightGuardCheck, &QCheckBox::toggled, this, &TConfigForm::DetectionChanged);
    connect(LightGuardEdit, &TSpinEdit::Change, this, &TConfigForm::DetectionChanged);
}

// What the latest step gave with the current settings, to tune them by.
void TConfigForm::ShowStepReadout(int changedPixels, int percent, bool movement, bool lightChange) {
    const QString verdict = lightChange ? "light change ignored"
                            : movement  ? "movement"
                                        : "no movement";
    DetectionReadoutLabel->setText(QString("Latest step: %1 changed pixels, %2 % of the "
                                           "watched pixels: %3")
                                       .arg(changedPixels)
                                       .arg(percent)
                                       .arg(verdict));
}
