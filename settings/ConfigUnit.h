#pragma once
// The configuration window: the one dialog that holds the options of the
// detection cycle. It has no OK and no Cancel: its controls are the live
// option values, read directly by the main window, and it writes them to the
// settings store (section "Stirwatch") each time it is closed, never at exit.

#include "settings/StepSettings.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <array>
#include <exception>
#include <functional>
#include <string>

class QCheckBox;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class TRegIniFile;
class TSpinEdit;

// The default events folder: the user's videos folder and "Stirwatch" in it.
QString DefaultEventsFolder();

class TConfigForm : public QDialog {
    Q_OBJECT

public:
    // Shows a folder chooser; returns the chosen folder, or empty text when cancelled.
    using TFolderChooser =
        std::function<QString(QWidget* parent, const QString& title, const QString& startFolder)>;

    explicit TConfigForm(QWidget* parent = nullptr);
    ~TConfigForm() override;

    QTabWidget* PageControl;
    QWidget* EventsSheet;
    QWidget* MeterSheet;
    QGroupBox* MovementGroup;
    QCheckBox* BeepOMBox;
    QCheckBox* SaveOMBox;
    QGroupBox* LogFileGroup;
    QCheckBox* LogInAutoCheck;
    QLabel* DownloadDirLabel;
    QLineEdit* LogDirEdit;
    QPushButton* LogDirBtn;
    TSpinEdit* BarThEdit1;
    TSpinEdit* BarThEdit2;
    TSpinEdit* BarThEdit3;
    TSpinEdit* BarThEdit4;
    TSpinEdit* BarThEdit5;
    TSpinEdit* BarThEdit6;
    TSpinEdit* RunningWindowSizeEdit;
    QCheckBox* GraphCheck;
    QPushButton* CloseBtn;
    // Tab "Recording": motion events as video files (off by default).
    QWidget* RecordingSheet;
    QGroupBox* RecordingGroup;
    QCheckBox* RecordOnMoveCheck;
    TSpinEdit* PreRollEdit;
    TSpinEdit* PostRollEdit;
    QGroupBox* EventsFolderGroup;
    QLineEdit* EventsDirEdit;
    QPushButton* EventsDirBtn;
    TSpinEdit* EventsLimitEdit;
    // Tab "Integration": telling other programs about events (all off by
    // default): a camera name, commands, MQTT and a tray notification.
    QWidget* IntegrationSheet;
    QGroupBox* CameraGroup;
    QLineEdit* CameraNameEdit; // empty: the source's name
    QCheckBox* TrayCheck;
    QGroupBox* CommandsGroup;
    QLineEdit* StartCmdEdit;
    QLineEdit* EndCmdEdit;
    QLineEdit* CameraCmdEdit;
    TSpinEdit* CmdLimitEdit;
    QGroupBox* MqttGroup;
    QCheckBox* MqttCheck;
    QLineEdit* MqttHostEdit;
    TSpinEdit* MqttPortEdit;
    QCheckBox* MqttTlsCheck;
    QLineEdit* MqttUserEdit;
    QLineEdit* MqttPasswordEdit;
    // Tab "Detection": fewer false alarms (all off by default).
    QWidget* DetectionSheet;
    QGroupBox* FalseAlarmGroup;
    TSpinEdit* SpeckleEdit;
    QCheckBox* LightGuardCheck;
    TSpinEdit* LightGuardEdit;
    QGroupBox* MaskGroup;
    QPlainTextEdit* MaskEdit;
    QLabel* MaskStatusLabel;
    QLabel* DetectionReadoutLabel; // the latest step's figures, for tuning

    // The section of the settings store this window reads and writes; empty
    // until LoadSettings has run.
    std::string SettingsSection;

    void LoadSettings(const std::string& applicationKey);
    void SaveSettings();

    // The main window and its chart, shown or hidden by GraphCheckClick while
    // the main window is visible.
    void SetMainWindow(QWidget* mainWindow, QWidget* movementChart);
    void SetFolderChooser(TFolderChooser chooser);

    void FormClose();
    void CloseBtnClick();
    void BarThEdit1Change();
    void BarThEdit2Change();
    void BarThEdit3Change();
    void BarThEdit4Change();
    void BarThEdit5Change();
    void GraphCheckClick();
    void LogDirBtnClick();
    void EventsDirBtnClick();
    void MaskEditChange();

    // The Detection tab's options; the mask is the last one that could be read.
    TDetectionSettings DetectionSettings() const;
    void SetDetectionSettings(const TDetectionSettings& settings);
    void ShowStepReadout(int changedPixels, int percent, bool movement, bool lightChange);

signals:
    // An option of the Detection tab changed.
    void DetectionChanged();

public:
    // Every way the dialog closes (the Close button, the title bar, Escape,
    // the end of a modal run) passes here and saves. The dialog closes even
    // when the save fails; the error goes to ReportError (types/ErrorRoute.h),
    // never out of here,
    // since this runs inside the toolkit's own event handling.
    void done(int result) override;

private:
    QPointer<QWidget> MainWindow;
    QPointer<QWidget> MovementChart;
    TFolderChooser FolderChooser;

    std::array<TSpinEdit*, 6> Thresholds() const;
    void RaiseNextThreshold(int index);
    void BuildEventsSheet();
    void BuildMeterSheet();
    void BuildRecordingSheet();
    void LoadRecordingSettings(TRegIniFile& store);
    void SaveRecordingSettings(TRegIniFile& store);
    void BuildIntegrationSheet();
    void LoadIntegrationSettings(TRegIniFile& store);
    void SaveIntegrationSettings(TRegIniFile& store);
    void BuildDetectionSheet();
    void ConnectDetectionSheet();
    void LoadDetectionSettings(TRegIniFile& store);
    void SaveDetectionSettings(TRegIniFile& store);
    std::string FValidMaskText;
};

// The program-wide configuration window: created hidden and without an owner
// at module initialisation, destroyed (without saving) at finalisation, which
// must come before the application object is gone.
extern TConfigForm* ConfigForm;
void CreateConfigForm();
void DestroyConfigForm();
