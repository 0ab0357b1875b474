#pragma once
// The main window "Video": the buttons that start and stop video, take one
// frame step or run them automatically, the read-outs of the latest step, the
// detection values, the movement meter and graph, and the menu of driver
// dialogs, display modes and the configuration window. It also runs the frame
// step, which hands each compared frame to the step's reactions (beep, saved
// frame, log, events) and shows it through this window's read-outs.

#include "app/CaptureCommands.h"
#include "app/MainWindowSettings.h"
#include "app/MaskEditing.h"
#include "app/RunningSize.h"
#include "app/StepReactions.h"
#include "app/StepRunner.h"
#include "app/TickErrors.h"
#include "engine/MotionEngine.h"
#include "settings/DetectionOptions.h"
#include "settings/StepSettings.h"
#include "windows/BaseFormUnit.h"

#include <QColor>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QFrame;
class QLabel;
class QMenu;
class QStatusBar;
class QToolButton;
class QWidget;
class RunningGraph;
class MovementLog;
class TAreaSeries;
class TChart;
class TDirectionForm;
class TMovementMeter;
class TSpinEdit;
class TTimer;

class TVideo : public BaseForm, public TStepView {
    Q_OBJECT

public:
    static constexpr const char* ApplicationKey = "Stirwatch";
    static constexpr int GraphPointCount = 100;
    static constexpr int VideoFrameLimit = 45;
    static constexpr int MeterHeight = 40;
    static inline const QColor AutoOnColor = Qt::red;
    static inline const QColor AutoOffColor = Qt::black;

    explicit TVideo(QWidget* owner = nullptr);
    ~TVideo() override;

    // Controls, by their component names.
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton7;
    QToolButton* SpeedButton12;
    QToolButton* AutoBut;
    QFrame* PercentPanel;
    QLabel* PercentLab;
    QLabel* Label5;
    QLabel* PixNumLab;
    QLabel* Label1;
    TSpinEdit* VariatLimitSpinBox;
    QLabel* Label2;
    TSpinEdit* MinMoveSpinBox;
    QLabel* Label3;
    TSpinEdit* CapSpeedSpinBox;
    QFrame* MeterPanel;
    TChart* MovementChart;
    TAreaSeries* Series1;
    QLabel* VideoLabel;
    QStatusBar* StatusBar1;
    // On the status line's right: why saving movement images has stopped.
    QLabel* SaveStatusLabel;
    // On the status line's right while a motion event is recorded.
    QLabel* EventStatusLabel;
    TTimer* Timer1;

    QMenu* Video1;
    QAction* VideoDisplay1;
    QAction* VideoSource1;
    QAction* VideoFormat1;
    QAction* EditMask1; // "Edit Mask...": the mask editor on the Live Video window
    QAction* N3;
    QMenu* VideoWindow1;
    QAction* Overlay1;
    QAction* Preview1;
    QActionGroup* DisplayModeGroup;
    QAction* N1;
    QAction* Start1;
    QAction* Stop1;
    QMenu* Window1;
    QAction* LiveVideo1;
    QAction* Image1;
    QAction* N2;
    QAction* Configuration1;
    QAction* OpenEventsFolder1;

    // Objects the window owns, created by FormCreate.
    TMovementMeter* Meter() const { return FMeter.get(); }
    RunningGraph* Graph() const { return FGraph.get(); }
    TDirectionForm* DirectionForm = nullptr;
    // What the steps set off: the log, the motion events and what other
    // programs are told.
    TStepReactions* Reactions() const { return FReactions; }
    MovementLog* Log() const { return FReactions->Log(); }
    // Motion events as video files, while "Record On Move" is on.
    TEventRecording* Events() const { return FReactions->Events(); }
    // Events told to other programs (commands, MQTT, tray), as configured.
    TIntegration* Integration() const { return FReactions->Integration(); }

    // The frame step and the reference grab, on this thread.
    void EvolveOne();
    void TakeReferenceFrame();
    // The step of a timer tick: the frame is taken and compared on the step
    // runner's worker, and the step's reactions run here once it is back. A
    // tick while the step before is still on the worker is skipped.
    void StartAutomaticStep();
    const TStepRunner& StepRunner() const { return *FStepRunner; }

    // Commands.
    void StartVideo();
    void StopVideo();
    void MakeItOverlay();
    void MakeItPreview();

    void FormCreate() override;
    void FormClose() override;
    void FormDestroy() override;
    void LoadSettings(const std::string& applicationKey) override;
    void SaveSettings() override;

    // Event handlers.
    void FormActivate();
    void SpeedButton3Click();
    void SpeedButton7Click();
    void SpeedButton12Click();
    void AutoButClick();
    void CapSpeedSpinBoxChange();
    void Timer1Timer();
    void VideoDisplay1Click();
    void VideoSource1Click();
    void VideoFormat1Click();
    void Overlay1Click();
    void Preview1Click();
    void Configuration1Click();
    void Start1Click();
    void Stop1Click();
    void LiveVideo1Click();
    void Image1Click();
    void OpenEventsFolder1Click();
    void EditMask1Click();

    // The point handed to the direction window by the latest step reported
    // (kept here, so it is read while a step is still on the worker).
    TPoint LastDirection() const;
    // The analysis of the frame steps, holding the previous step's gray frame.
    // Exists from the window's creation until it closes.
    const TMotionEngine* Engine() const { return FEngine.get(); }
    // The options the step runs with, kept by the boxes and checks that show them.
    const TStepSettings& StepSettings() const { return FStepSettings; }

signals:
    // A frame step, the user's or a tick's, has been reported to the step's
    // reactions (log, events, read-outs). A tick that was skipped, or a step
    // that failed, emits nothing.
    void StepReported();

protected:
    void changeEvent(QEvent* event) override;

private:
    void CreateControls();
    void CreateMenu();
    QWidget* CreateFirstRow();
    QWidget* CreateSecondRow();
    void ConnectHandlers();
    void SetAutoButColor(const QColor& color);
    void CreateAuxiliaryWindows();
    void CreateReactions();
    TDetectionBoxes DetectionBoxes() const;
    void FollowStepSettings();
    void FollowConfiguration();
    // The Detection tab changed: the steps' options and the hatching.
    void DetectionChanged();
    TStepResult AnalyseFrame(const TFrameView& frame);
    TEngineOptions StepOptions();
    void ReportStep(const TFrameView& frame, const TStepResult& result, bool automatic);
    void FinishAutomaticStep(const std::exception_ptr& error);
    void RunTimerTick();
    // Runs a tick's work with the tick's error handling (see TTickErrors).
    void RunTick(const std::function<void()>& tick);

    // How a step shows: the read-outs, the meter and the graph; then the
    // live display goes on.
    void ShowReadouts(const TStepResult& result) override;
    void ResumeDisplay() override;

    std::unique_ptr<TMovementMeter> FMeter;
    std::unique_ptr<RunningGraph> FGraph;
    TStepReactions* FReactions = nullptr;
    std::unique_ptr<TMotionEngine> FEngine;
    TStepSettings FStepSettings;
    TDetectionOptions FDetectionOptions;
    TMaskEditing FMaskEditing;
    TCaptureCommands FCapture;
    TTickErrors FTickErrors;
    TPoint FLastDirection = TMotionEngine::InitialDirection;
    // The automatic step on the worker: its options, frame and result.
    TEngineOptions FAutoOptions;
    TFrameView FAutoFrame;
    TStepResult FAutoResult;
    // Declared last: its worker, which uses the engine and the capture
    // commands, ends before they go.
    std::unique_ptr<TStepRunner> FStepRunner = std::make_unique<TStepRunner>();
};
