// The "Integration" tab of the configuration window: the camera's name, the
// tray icon with its notification, the commands run on events and the MQTT
// broker to publish to. Everything is off by default.

#include "settings/ConfigUnit.h"

#include "settings/SheetLayout.h"
#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>

namespace {

// A caption level with the text of the field it stands beside.
void Caption(QWidget* parent, const char* name, const QString& text, int x, int y) {
    SheetLabel(parent, name, text, x, y + 3);
}

QLineEdit* Edit(QWidget* parent, const char* name, int x, int y, int width) {
    return Placed(new QLineEdit(parent), name, x, y, width, 21);
}

} // namespace

void TConfigForm::BuildIntegrationSheet() {
    const int groupWidth = PageControl->width() - 4 * SheetMargin;
    QWidget* sheet = IntegrationSheet;
    CameraGroup = SheetGroup(sheet, "CameraGroup", "Camera", SheetMargin, groupWidth, 46);
    Caption(CameraGroup, "CameraNameLabel", "Name:", 8, 18);
    CameraNameEdit = Edit(CameraGroup, "CameraNameEdit", 56, 18, 170);
    CameraNameEdit->setPlaceholderText("the source's name");
    TrayCheck = SheetCheck(CameraGroup, "TrayCheck", "Tray icon, and a notification on each event",
                           240, 20);

    CommandsGroup =
        SheetGroup(sheet, "CommandsGroup", "Commands (run without a shell)", 54, groupWidth, 118);
    Caption(CommandsGroup, "StartCmdLabel", "On event start:", 8, 18);
    StartCmdEdit = Edit(CommandsGroup, "StartCmdEdit", 144, 18, groupWidth - 154);
    Caption(CommandsGroup, "EndCmdLabel", "On event end:", 8, 42);
    EndCmdEdit = Edit(CommandsGroup, "EndCmdEdit", 144, 42, groupWidth - 154);
    Caption(CommandsGroup, "CameraCmdLabel", "On camera lost/back:", 8, 66);
    CameraCmdEdit = Edit(CommandsGroup, "CameraCmdEdit", 144, 66, groupWidth - 154);
    Caption(CommandsGroup, "PlaceholdersLabel",
            "{camera} {start} {end} {peak} {clip} {state} {reason}", 8, 91);
    Caption(CommandsGroup, "CmdLimitLabel", "Time limit (s):", 360, 91);
    CmdLimitEdit = SheetEdit(CommandsGroup, "CmdLimitEdit", 450, 91, 80, 1, 3600, 60);

    MqttGroup = SheetGroup(sheet, "MqttGroup", "MQTT", 172, groupWidth, 64);
    MqttCheck = SheetCheck(MqttGroup, "MqttCheck", "Publish events", 8, 20);
    Caption(MqttGroup, "MqttHostLabel", "Host:", 140, 18);
    MqttHostEdit = Edit(MqttGroup, "MqttHostEdit", 200, 18, 160);
    MqttHostEdit->setText("localhost");
    Caption(MqttGroup, "MqttPortLabel", "Port:", 372, 18);
    MqttPortEdit = SheetEdit(MqttGroup, "MqttPortEdit", 404, 18, 70, 1, 65535, 1883);
    MqttTlsCheck = SheetCheck(MqttGroup, "MqttTlsCheck", "TLS", 484, 20);
    Caption(MqttGroup, "MqttUserLabel", "User:", 140, 42);
    MqttUserEdit = Edit(MqttGroup, "MqttUserEdit", 200, 42, 160);
    Caption(MqttGroup, "MqttPasswordLabel", "Password:", 372, 42);
    MqttPasswordEdit = Edit(MqttGroup, "MqttPasswordEdit", 436, 42, groupWidth - 446);
    MqttPasswordEdit->setEchoMode(QLineEdit::Password);
}

void TConfigForm::LoadIntegrationSettings(TRegIniFile& store) {
    const std::string& section = SettingsSection;
    const auto text = [&](QLineEdit* edit, const char* name) {
        edit->setText(
            QString::fromStdString(store.ReadString(section, name, edit->text().toStdString())));
    };
    text(CameraNameEdit, "CameraName");
    TrayCheck->setChecked(store.ReadBool(section, "TrayNotify", TrayCheck->isChecked()));
    text(StartCmdEdit, "CommandOnEventStart");
    text(EndCmdEdit, "CommandOnEventEnd");
    text(CameraCmdEdit, "CommandOnCameraLostBack");
    CmdLimitEdit->SetValue(store.ReadInteger(section, "CommandTimeLimit", CmdLimitEdit->Value()));
    MqttCheck->setChecked(store.ReadBool(section, "MqttPublish", MqttCheck->isChecked()));
    text(MqttHostEdit, "MqttHost");
    MqttPortEdit->SetValue(store.ReadInteger(section, "MqttPort", MqttPortEdit->Value()));
    MqttTlsCheck->setChecked(store.ReadBool(section, "MqttTls", MqttTlsCheck->isChecked()));
    text(MqttUserEdit, "MqttUser");
    text(MqttPasswordEdit, "MqttPassword");
}

// A stored password makes the settings file readable by its owner alone.
void TConfigForm::SaveIntegrationSettings(TRegIniFile& store) {
    const std::string& section = SettingsSection;
    const auto text = [&](QLineEdit* edit, const char* name) {
        store.WriteString(section, name, edit->text().toStdString());
    };
    text(CameraNameEdit, "CameraName");
    store.WriteBool(section, "TrayNotify", TrayCheck->isChecked());
    text(StartCmdEdit, "CommandOnEventStart");
    text(EndCmdEdit, "CommandOnEventEnd");
    text(CameraCmdEdit, "CommandOnCameraLostBack");
    store.WriteInteger(section, "CommandTimeLimit", CmdLimitEdit->Value());
    store.WriteBool(section, "MqttPublish", MqttCheck->isChecked());
    text(MqttHostEdit, "MqttHost");
    store.WriteInteger(section, "MqttPort", MqttPortEdit->Value());
    store.WriteBool(section, "MqttTls", MqttTlsCheck->isChecked());
    text(MqttUserEdit, "MqttUser");
    if (!MqttPasswordEdit->text().isEmpty()) {
        store.KeepOwnerOnly();
    }
    text(MqttPasswordEdit, "MqttPassword");
}
