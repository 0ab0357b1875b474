// The "Recording" tab of the configuration window: record motion events as
// video files, with their pre-roll, post-roll, folder and the folder's size
// limit. Off by default.

#include "settings/ConfigUnit.h"

#include "settings/SheetLayout.h"
#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>

namespace {

// The width of the tab's number fields.
constexpr int EditWidth = 121;

} // namespace

QString DefaultEventsFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return (videos.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                             : videos) +
           "/Stirwatch";
}

void TConfigForm::BuildRecordingSheet() {
    const int groupWidth = PageControl->width() - 4 * SheetMargin;
    RecordingGroup =
        SheetGroup(RecordingSheet, "RecordingGroup", "Motion events", SheetMargin, groupWidth, 96);
    RecordOnMoveCheck = SheetCheck(RecordingGroup, "RecordOnMoveCheck", "Record On Move", 8, 18);
    SheetLabel(RecordingGroup, "PreRollLabel", "Seconds before the first movement:", 8, 46);
    PreRollEdit = SheetEdit(RecordingGroup, "PreRollEdit", 260, 42, EditWidth, 0, 30, 3);
    SheetLabel(RecordingGroup, "PostRollLabel", "Seconds after the last movement:", 8, 70);
    PostRollEdit = SheetEdit(RecordingGroup, "PostRollEdit", 260, 66, EditWidth, 0, 60, 5);

    EventsFolderGroup = SheetGroup(RecordingSheet, "EventsFolderGroup", "Events folder",
                                   SheetMargin + 96 + SheetMargin, groupWidth, 96);
    SheetLabel(EventsFolderGroup, "EventsDirLabel",
               "One video file per event, named with its start Date/Time", 8, 20);
    EventsDirEdit = Placed(new QLineEdit(EventsFolderGroup), "EventsDirEdit", 8, 38, 418, 21);
    EventsDirEdit->setReadOnly(true);
    EventsDirBtn = Placed(new QPushButton("Browse", EventsFolderGroup), "EventsDirBtn", 8 + 418 + 6,
                          38, 75, 21);
    EventsDirBtn->setAutoDefault(false);
    SheetLabel(EventsFolderGroup, "EventsLimitLabel",
               "Size limit (MB; the oldest events are deleted first):", 8, 70);
    EventsLimitEdit =
        SheetEdit(EventsFolderGroup, "EventsLimitEdit", 330, 66, EditWidth, 1, 1 << 20, 2048);
    EventsDirEdit->setText(DefaultEventsFolder());
    connect(EventsDirBtn, &QPushButton::clicked, this, &TConfigForm::EventsDirBtnClick);
}

void TConfigForm::LoadRecordingSettings(TRegIniFile& store) {
    const std::string& section = SettingsSection;
    RecordOnMoveCheck->setChecked(
        store.ReadBool(section, "RecordOnMove", RecordOnMoveCheck->isChecked()));
    PreRollEdit->SetValue(store.ReadInteger(section, "PreRoll", PreRollEdit->Value()));
    PostRollEdit->SetValue(store.ReadInteger(section, "PostRoll", PostRollEdit->Value()));
    EventsDirEdit->setText(QString::fromStdString(
        store.ReadString(section, "EventsFolder", EventsDirEdit->text().toStdString())));
    EventsLimitEdit->SetValue(
        store.ReadInteger(section, "EventsLimitMB", EventsLimitEdit->Value()));
}

void TConfigForm::SaveRecordingSettings(TRegIniFile& store) {
    const std::string& section = SettingsSection;
    store.WriteBool(section, "RecordOnMove", RecordOnMoveCheck->isChecked());
    store.WriteInteger(section, "PreRoll", PreRollEdit->Value());
    store.WriteInteger(section, "PostRoll", PostRollEdit->Value());
    store.WriteString(section, "EventsFolder", EventsDirEdit->text().toStdString());
    store.WriteInteger(section, "EventsLimitMB", EventsLimitEdit->Value());
}

// The events folder need not exist yet (it is created when the first event
// is recorded): the chooser starts at it, or at its parent.
void TConfigForm::EventsDirBtnClick() {
    QString start = EventsDirEdit->text();
    if (!QFileInfo(start).isDir()) {
        start = QFileInfo(start).absolutePath();
        if (!QFileInfo(start).isDir()) {
            start.clear();
        }
    }
    const QString chosen = FolderChooser(this, "Select folder to store event videos", start);
    if (!chosen.isEmpty()) {
        EventsDirEdit->setText(chosen);
    }
}
