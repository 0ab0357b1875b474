// The "Recording" tab of the configuration window: record motion events as
// video files, with their pre-roll, post-roll, folder and the folder's size
// limit. Off by default.

#include "settings/ConfigUnit.h"

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

constexpr int Margin = 4;

QLabel* SheetLabel(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->move(x, y);
    label->adjustSize();
    return label;
}

TSpinEdit* SheetEdit(QWidget* parent, const char* name, int x, int y, int minValue, int maxValue,
                     int value) {
    auto* edit = new TSpinEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, 121, 22);
    edit->SetMinValue(minValue);
    edit->SetMaxValue(maxValue);
    edit->SetValue(value);
    return edit;
}

} // namespace

QString DefaultEventsFolder() {
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return (videos.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::HomeLocation)
                             : videos) +
           "/Stirwatch";
}

void TConfigForm::BuildRecordingSheet() {
    const int groupWidth = PageControl->width() - 4 * Margin;
    RecordingGroup = new QGroupBox("Motion events", RecordingSheet);
    RecordingGroup->setObjectName("RecordingGroup");
    RecordingGroup->setGeometry(Margin, Margin, groupWidth, 96);
    RecordOnMoveCheck = new QCheckBox("Record On Move", RecordingGroup);
    RecordOnMoveCheck->setObjectName("RecordOnMoveCheck");
    RecordOnMoveCheck->move(8, 18);
    RecordOnMoveCheck->adjustSize();
    SheetLabel(RecordingGroup, "PreRollLabel", "Seconds before the first movement:", 8, 46);
    PreRollEdit = SheetEdit(RecordingGroup, "PreRollEdit", 260, 42, 0, 30, 3);
    SheetLabel(RecordingGroup, "PostRollLabel", "Seconds after the last movement:", 8, 70);
    PostRollEdit = SheetEdit(RecordingGroup, "PostRollEdit", 260, 66, 0, 60, 5);

    EventsFolderGroup = new QGroupBox("Events folder", RecordingSheet);
    EventsFolderGroup->setObjectName("EventsFolderGroup");
    EventsFolderGroup->setGeometry(Margin, Margin + 96 + Margin, groupWidth, 96);
    SheetLabel(EventsFolderGroup, "EventsDirLabel",
               "One video file per event, named with its start Date/Time", 8, 20);
    EventsDirEdit = new QLineEdit(EventsFolderGroup);
    EventsDirEdit->setObjectName("EventsDirEdit");
    EventsDirEdit->setReadOnly(true);
    EventsDirEdit->setGeometry(8, 38, 418, 21);
    EventsDirBtn = new QPushButton("Browse", EventsFolderGroup);
    EventsDirBtn->setObjectName("EventsDirBtn");
    EventsDirBtn->setAutoDefault(false);
    EventsDirBtn->setGeometry(8 + 418 + 6, 38, 75, 21);
    SheetLabel(EventsFolderGroup, "EventsLimitLabel",
               "Size limit (MB; the oldest events are deleted first):", 8, 70);
    EventsLimitEdit = SheetEdit(EventsFolderGroup, "EventsLimitEdit", 330, 66, 1, 1 << 20, 2048);
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
