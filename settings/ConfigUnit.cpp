#include "settings/ConfigUnit.h"

#include "settings/SheetLayout.h"
#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"
#include "types/ErrorRoute.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <exception>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

// The log folder when none is stored: the documents folder, else the home
// folder (never the root of the file system, where no log belongs).
std::string DefaultLogFolder() {
    std::string documents = ReadDocumentsFolder();
    if (!documents.empty()) {
        return documents;
    }
    const QString home = QDir::homePath();
    return QDir(home).isRoot() ? std::string() : home.toStdString();
}

const char* const BaseKey = "Software\\Quellor";
constexpr int ClientWidth = 563;
constexpr int ClientHeight = 384;
constexpr int Margin = 4;
constexpr int BottomStripHeight = 39;

template <class T> T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// The folder chooser of the platform: existing folders only, starting at the
// given folder, and without a button to make a new one where the dialog has it.
QString ChooseExistingFolder(QWidget* parent, const QString& title, const QString& startFolder) {
    QFileDialog dialog(parent, title, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    if (auto* newFolder = dialog.findChild<QToolButton*>("newFolderButton")) {
        newFolder->hide();
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

std::unique_ptr<TConfigForm> ConfigFormOwner;

} // namespace

TConfigForm* ConfigForm = nullptr;

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent), FolderChooser(ChooseExistingFolder) {
    setObjectName("ConfigForm");
    setWindowTitle("Stirwatch Configuration");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);

    PageControl = Named(new QTabWidget(this), "PageControl");
    PageControl->setGeometry(Margin, Margin, ClientWidth - 2 * Margin,
                             ClientHeight - 2 * Margin - BottomStripHeight);
    EventsSheet = Named(new QWidget, "EventsSheet");
    MeterSheet = Named(new QWidget, "MeterSheet");
    PageControl->addTab(EventsSheet, "Events");
    PageControl->addTab(MeterSheet, "Meter");
    RecordingSheet = Named(new QWidget, "RecordingSheet");
    PageControl->addTab(RecordingSheet, "Recording");
    IntegrationSheet = Named(new QWidget, "IntegrationSheet");
    PageControl->addTab(IntegrationSheet, "Integration");
    DetectionSheet = Named(new QWidget, "DetectionSheet");
    PageControl->addTab(DetectionSheet, "Detection");
    BuildEventsSheet();
    BuildMeterSheet();
    BuildRecordingSheet();
    BuildIntegrationSheet();
    BuildDetectionSheet();
    ConnectDetectionSheet();

    // On the dialog itself, in front of the tabs: visible whichever tab is shown.
    GraphCheck = SheetCheck(this, "GraphCheck", "Show movement graph", 24, 272);
    GraphCheck->setChecked(true);
    GraphCheck->raise();

    // The dialog has no default button: Enter typed in a field does not close it.
    CloseBtn = Named(new QPushButton("Close", this), "CloseBtn");
    CloseBtn->setAutoDefault(false);
    CloseBtn->setGeometry(Margin + 450, ClientHeight - Margin - BottomStripHeight + 6, 97, 25);
    PageControl->setCurrentWidget(MeterSheet);

    // The handlers are connected after the design values are in place, so the
    // thresholds' minimums stay 0 until the linkage first runs.
    connect(CloseBtn, &QPushButton::clicked, this, &TConfigForm::CloseBtnClick);
    connect(LogDirBtn, &QPushButton::clicked, this, &TConfigForm::LogDirBtnClick);
    connect(GraphCheck, &QCheckBox::toggled, this, &TConfigForm::GraphCheckClick);
    connect(BarThEdit1, &TSpinEdit::Change, this, &TConfigForm::BarThEdit1Change);
    connect(BarThEdit2, &TSpinEdit::Change, this, &TConfigForm::BarThEdit2Change);
    connect(BarThEdit3, &TSpinEdit::Change, this, &TConfigForm::BarThEdit3Change);
    connect(BarThEdit4, &TSpinEdit::Change, this, &TConfigForm::BarThEdit4Change);
    connect(BarThEdit5, &TSpinEdit::Change, this, &TConfigForm::BarThEdit5Change);
}

TConfigForm::~TConfigForm() = default;

void TConfigForm::BuildEventsSheet() {
    const int groupWidth = PageControl->width() - 4 * Margin;
    MovementGroup = Named(new QGroupBox("Movement", EventsSheet), "MovementGroup");
    MovementGroup->setGeometry(Margin, Margin, groupWidth, 61);
    BeepOMBox = SheetCheck(MovementGroup, "BeepOMBox", "Beep On Move", 8, 18);
    SaveOMBox = SheetCheck(MovementGroup, "SaveOMBox", "Save On Move", 8, 38);

    LogFileGroup = Named(new QGroupBox("Log file", EventsSheet), "LogFileGroup");
    LogFileGroup->setGeometry(Margin, Margin + 61 + Margin, groupWidth, 96);
    LogInAutoCheck =
        SheetCheck(LogFileGroup, "LogInAutoCheck", "Log movement to a file  in Auto mode", 8, 18);
    DownloadDirLabel = Named(new QLabel("Log file folder (each auto session will produce new Log "
                                        "file named with Date/Time)",
                                        LogFileGroup),
                             "DownloadDirLabel");
    DownloadDirLabel->move(8, 42);
    DownloadDirLabel->adjustSize();
    LogDirEdit = Named(new QLineEdit(LogFileGroup), "LogDirEdit");
    LogDirEdit->setReadOnly(true);
    LogDirEdit->setGeometry(8, 62, 418, 21);
    // Not a default button: Enter typed in a field must not open the browser.
    LogDirBtn = Named(new QPushButton("Browse", LogFileGroup), "LogDirBtn");
    LogDirBtn->setAutoDefault(false);
    LogDirBtn->setGeometry(8 + 418 + 6, 62, 75, 21);
}

void TConfigForm::BuildMeterSheet() {
    struct TRow {
        const char* Label;
        const char* LabelName;
        const char* EditName;
        TSpinEdit** Edit;
        int Top;
        int Value;
    };
    const TRow rows[] = {
        {"Bar #1 Threshold (%):", "Label1", "BarThEdit1", &BarThEdit1, 16, 2},
        {"Bar #2 Threshold (%):", "Label2", "BarThEdit2", &BarThEdit2, 44, 4},
        {"Bar #3 Threshold (%):", "Label3", "BarThEdit3", &BarThEdit3, 72, 8},
        {"Bar #4 Threshold (%):", "Label4", "BarThEdit4", &BarThEdit4, 100, 16},
        {"Bar #5 Threshold (%):", "Label5", "BarThEdit5", &BarThEdit5, 128, 32},
        {"Bar #6 Threshold (%):", "Label6", "BarThEdit6", &BarThEdit6, 156, 64},
        {"Running window size (ms):", "Label7", "RunningWindowSizeEdit", &RunningWindowSizeEdit,
         200, 250},
    };
    for (const TRow& row : rows) {
        auto* label = Named(new QLabel(row.Label, MeterSheet), row.LabelName);
        label->move(16, row.Top + 4);
        label->adjustSize();
        auto* edit = Named(new TSpinEdit(MeterSheet), row.EditName);
        edit->setGeometry(189, row.Top, 121, 22);
        *row.Edit = edit;
    }
    for (TSpinEdit* edit : Thresholds()) {
        edit->SetMaxValue(100);
    }
    for (const TRow& row : rows) {
        (*row.Edit)->SetValue(row.Value);
    }
}

std::array<TSpinEdit*, 6> TConfigForm::Thresholds() const {
    return {BarThEdit1, BarThEdit2, BarThEdit3, BarThEdit4, BarThEdit5, BarThEdit6};
}

// Threshold N raises the minimum of threshold N + 1 to its own value + 1 and
// re-clamps it; a change of that text runs the rule for the next one. No value
// is ever lowered here.
void TConfigForm::RaiseNextThreshold(int index) {
    const auto thresholds = Thresholds();
    const int value = thresholds[index]->Value();
    TSpinEdit* next = thresholds[index + 1];
    next->SetMinValue(value == std::numeric_limits<int>::max() ? value : value + 1);
    next->SetValue(next->Value());
}

void TConfigForm::BarThEdit1Change() {
    RaiseNextThreshold(0);
}
void TConfigForm::BarThEdit2Change() {
    RaiseNextThreshold(1);
}
void TConfigForm::BarThEdit3Change() {
    RaiseNextThreshold(2);
}
void TConfigForm::BarThEdit4Change() {
    RaiseNextThreshold(3);
}
void TConfigForm::BarThEdit5Change() {
    RaiseNextThreshold(4);
}

void TConfigForm::LoadSettings(const std::string& applicationKey) {
    SettingsSection = applicationKey;
    TRegIniFile store(BaseKey);
    const std::string& section = SettingsSection;
    BeepOMBox->setChecked(store.ReadBool(section, "BeepOnMove", BeepOMBox->isChecked()));
    SaveOMBox->setChecked(store.ReadBool(section, "SaveOnMove", SaveOMBox->isChecked()));
    LogInAutoCheck->setChecked(store.ReadBool(section, "LogInAuto", LogInAutoCheck->isChecked()));
    LogDirEdit->setText(
        QString::fromStdString(store.ReadString(section, "LogFolder", DefaultLogFolder())));
    RunningWindowSizeEdit->SetValue(
        store.ReadInteger(section, "RunningWindowSize", RunningWindowSizeEdit->Value()));
    int bar = 1;
    for (TSpinEdit* edit : Thresholds()) {
        const std::string name = "ThresholdBar" + std::to_string(bar++);
        edit->SetValue(store.ReadInteger(section, name, edit->Value()));
    }
    GraphCheck->setChecked(store.ReadBool(section, "ShowGraph", GraphCheck->isChecked()));
    LoadRecordingSettings(store);
    LoadIntegrationSettings(store);
    LoadDetectionSettings(store);
}

void TConfigForm::SaveSettings() {
    if (SettingsSection.empty()) {
        return;
    }
    TRegIniFile store(BaseKey);
    const std::string& section = SettingsSection;
    store.WriteBool(section, "BeepOnMove", BeepOMBox->isChecked());
    store.WriteBool(section, "SaveOnMove", SaveOMBox->isChecked());
    store.WriteBool(section, "LogInAuto", LogInAutoCheck->isChecked());
    store.WriteString(section, "LogFolder", LogDirEdit->text().toStdString());
    store.WriteInteger(section, "RunningWindowSize", RunningWindowSizeEdit->Value());
    int bar = 1;
    for (TSpinEdit* edit : Thresholds()) {
        store.WriteInteger(section, "ThresholdBar" + std::to_string(bar++), edit->Value());
    }
    store.WriteBool(section, "ShowGraph", GraphCheck->isChecked());
    SaveRecordingSettings(store);
    SaveIntegrationSettings(store);
    SaveDetectionSettings(store);
    store.UpdateFile();
}

void TConfigForm::SetMainWindow(QWidget* mainWindow, QWidget* movementChart) {
    MainWindow = mainWindow;
    MovementChart = movementChart;
}

void TConfigForm::SetFolderChooser(TFolderChooser chooser) {
    FolderChooser = chooser ? std::move(chooser) : TFolderChooser(ChooseExistingFolder);
}

void TConfigForm::FormClose() {
    SaveSettings();
}

void TConfigForm::CloseBtnClick() {
    close();
}

void TConfigForm::GraphCheckClick() {
    if (MainWindow && MainWindow->isVisible() && MovementChart) {
        MovementChart->setVisible(GraphCheck->isChecked());
    }
}

void TConfigForm::LogDirBtnClick() {
    QString folder = LogDirEdit->text();
    if (!QFileInfo(folder).isDir()) {
        folder.clear();
    }
    const QString chosen = FolderChooser(this, "Select folder to store Log files", folder);
    if (!chosen.isEmpty()) {
        folder = chosen;
    }
    LogDirEdit->setText(folder);
}

// The dialog is hidden and its modal run ends even when the save fails; the
// error is shown once the dialog is gone.
void TConfigForm::done(int result) {
    std::exception_ptr failure;
    try {
        FormClose();
    } catch (...) {
        failure = std::current_exception();
    }
    QDialog::done(result);
    if (!failure) {
        return;
    }
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& error) {
        ReportError(error);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error"));
    }
}

void CreateConfigForm() {
    ConfigFormOwner = std::make_unique<TConfigForm>();
    ConfigForm = ConfigFormOwner.get();
}

void DestroyConfigForm() {
    ConfigForm = nullptr;
    ConfigFormOwner.reset();
}
