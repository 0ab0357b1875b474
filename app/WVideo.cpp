#include "app/WVideo.h"

#include "app/ControlBuilders.h"
#include "app/EventRecording.h"
#include "app/MainWindowSettings.h"
#include "app/ReadoutHolder.h"
#include "app/TApplication.h"
#include "app/TTimer.h"
#include "capture/VideoCap.h"
#include "chart/TAreaSeries.h"
#include "chart/TChart.h"
#include "graph/RunningGraph.h"
#include "log/LoggingUnit.h"
#include "meter/Meter.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"
#include "windows/MaskEditor.h"
#include "windows/VideoFormUnit.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using namespace ControlBuilders;

// Runs one step of the window's creation; an error is shown and the creation
// goes on, so that no later command meets a missing part.
template <class Step> void CreationStep(Step&& step) {
    HandleEvent(std::forward<Step>(step));
}

} // namespace

TVideo::TVideo(QWidget* owner) : BaseForm(owner) {
    setObjectName("Video");
    setWindowTitle("Stirwatch");
    // Qt paints every widget through the window's backing store, so the
    // window is double-buffered as a whole.
    Timer1 = new TTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->SetEnabled(false);
    Timer1->SetInterval(250);
    CreateMenu();
    CreateControls();
    ConnectHandlers();
    CreateReactions();
    move(1, 105);
    SetClientSize(635, 238 + menuBar()->sizeHint().height());
}

TVideo::~TVideo() {}

// The reactions' parts are made in FormCreate; their words go to the status
// line.
void TVideo::CreateReactions() {
    FReactions = new TStepReactions(FStepSettings, *this, this);
    FReactions->setObjectName("Reactions");
    connect(FReactions, &TStepReactions::Status, StatusBar1,
            [this](const QString& text) { StatusBar1->showMessage(text); });
    connect(FReactions, &TStepReactions::SaveStatus, SaveStatusLabel, &QLabel::setText);
    connect(FReactions, &TStepReactions::RecordingChanged, EventStatusLabel, &QLabel::setText);
}

void TVideo::CreateMenu() {
    Video1 = menuBar()->addMenu("Video");
    Video1->setObjectName("Video1");
    VideoDisplay1 = MenuItem(Video1, "VideoDisplay1", "Video Display");
    VideoSource1 = MenuItem(Video1, "VideoSource1", "Video Source");
    VideoFormat1 = MenuItem(Video1, "VideoFormat1", "Video Format");
    EditMask1 = MenuItem(Video1, "EditMask1", "Edit Mask...");
    EditMask1->setCheckable(true);
    N3 = Separator(Video1, "N3");
    VideoWindow1 = Video1->addMenu("Video Window");
    VideoWindow1->setObjectName("VideoWindow1");
    VideoWindow1->menuAction()->setObjectName("VideoWindow1");
    Overlay1 = MenuItem(VideoWindow1, "Overlay1", "Overlay");
    Preview1 = MenuItem(VideoWindow1, "Preview1", "Preview");
    DisplayModeGroup = new QActionGroup(this);
    DisplayModeGroup->setExclusive(true);
    for (QAction* item : {Overlay1, Preview1}) {
        item->setCheckable(true);
        DisplayModeGroup->addAction(item);
    }
    Preview1->setChecked(true);
    N1 = Separator(Video1, "N1");
    Start1 = MenuItem(Video1, "Start1", "Start");
    Stop1 = MenuItem(Video1, "Stop1", "Stop");

    Window1 = menuBar()->addMenu("Window");
    Window1->setObjectName("Window1");
    LiveVideo1 = MenuItem(Window1, "LiveVideo1", "Live Video Window");
    Image1 = MenuItem(Window1, "Image1", "Movement Window");
    N2 = Separator(Window1, "N2");
    Configuration1 = MenuItem(Window1, "Configuration1", "Configuration");
    OpenEventsFolder1 = MenuItem(Window1, "OpenEventsFolder1", "Open Events Folder");
}

// The band bar: four rows filling the window above the status bar.
void TVideo::CreateControls() {
    auto* bandBar = new QWidget(this);
    bandBar->setObjectName("BandBar");
    auto* rows = new QVBoxLayout(bandBar);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(1);
    rows->addWidget(CreateFirstRow());
    rows->addWidget(CreateSecondRow());

    MovementChart = new TChart(bandBar);
    MovementChart->setObjectName("MovementChart");
    MovementChart->setFixedHeight(88);
    Series1 = MovementChart->Series1();
    Series1->setObjectName("Series1");
    rows->addWidget(MovementChart);

    VideoLabel = Label(bandBar, "VideoLabel", "Idle");
    VideoLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    rows->addWidget(VideoLabel);
    rows->addStretch(1);
    setCentralWidget(bandBar);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    setStatusBar(StatusBar1);
    SaveStatusLabel = Label(StatusBar1, "SaveStatusLabel", "");
    SaveStatusLabel->setTextFormat(Qt::PlainText);
    StatusBar1->addPermanentWidget(SaveStatusLabel);
    // Stays while an event is recorded: a menu's status tip cannot wipe it.
    EventStatusLabel = Label(StatusBar1, "EventStatusLabel", "");
    EventStatusLabel->setTextFormat(Qt::PlainText);
    QPalette recording = EventStatusLabel->palette();
    recording.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    EventStatusLabel->setPalette(recording);
    StatusBar1->addPermanentWidget(EventStatusLabel);
    // A message longer than the line is read whole in the tooltip.
    connect(StatusBar1, &QStatusBar::messageChanged, StatusBar1,
            [this](const QString& text) { StatusBar1->setToolTip(text); });
}

QWidget* TVideo::CreateFirstRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    QFrame* videoPanel = Panel(row, "Panel1");
    auto* videoButtons = new QHBoxLayout(videoPanel);
    videoButtons->setContentsMargins(2, 1, 2, 1);
    SpeedButton3 = FlatButton(videoPanel, "SpeedButton3", "Start Video", QStyle::SP_MediaPlay);
    SpeedButton7 = FlatButton(videoPanel, "SpeedButton7", "Stop Video", QStyle::SP_MediaStop);
    videoButtons->addWidget(SpeedButton3);
    videoButtons->addWidget(SpeedButton7);
    layout->addWidget(videoPanel);

    QFrame* stepPanel = Panel(row, "Panel2");
    auto* stepButtons = new QHBoxLayout(stepPanel);
    stepButtons->setContentsMargins(2, 1, 2, 1);
    SpeedButton12 =
        FlatButton(stepPanel, "SpeedButton12", "Evolve One", QStyle::SP_MediaSkipForward);
    AutoBut = FlatButton(stepPanel, "AutoBut", "Auto", QStyle::SP_BrowserReload);
    SetAutoButColor(AutoOffColor);
    stepButtons->addWidget(SpeedButton12);
    stepButtons->addWidget(AutoBut);
    layout->addWidget(stepPanel);

    PercentPanel = Panel(row, "PercentPanel");
    PercentPanel->setAutoFillBackground(true);
    QPalette black = PercentPanel->palette();
    black.setColor(QPalette::Window, Qt::black);
    PercentPanel->setPalette(black);
    auto* readouts = new QHBoxLayout(PercentPanel);
    readouts->setContentsMargins(6, 2, 6, 2);
    PercentLab = ReadoutLabel(PercentPanel, "PercentLab", "0", 19, false);
    PercentLab->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PercentLab->setMinimumWidth(40);
    Label5 = ReadoutLabel(PercentPanel, "Label5", "%", 19, false);
    PixNumLab = ReadoutLabel(PercentPanel, "PixNumLab", "0", 16, true);
    PixNumLab->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    PixNumLab->setMinimumWidth(80);
    // The count's widest text: the pixels of a 7680 x 4320 frame.
    readouts->addWidget(new TReadoutHolder(PercentLab, QStringLiteral("100"), PercentPanel));
    readouts->addWidget(Label5);
    readouts->addStretch(1);
    readouts->addWidget(new TReadoutHolder(PixNumLab, QStringLiteral("33177600"), PercentPanel));
    layout->addWidget(PercentPanel, 1);
    return row;
}

QWidget* TVideo::CreateSecondRow() {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    QFrame* detectionPanel = Panel(row, "Panel3");
    auto* detection = new QGridLayout(detectionPanel);
    detection->setContentsMargins(4, 1, 4, 1);
    detection->setVerticalSpacing(0);
    Label1 = Label(detectionPanel, "Label1", "Pixel Tolerance");
    VariatLimitSpinBox = SpinBox(detectionPanel, "VariatLimitSpinBox", 0, 255, 20);
    VariatLimitSpinBox->SetMaxLength(3);
    Label2 = Label(detectionPanel, "Label2", "Minimal Movement (px)");
    MinMoveSpinBox = SpinBox(detectionPanel, "MinMoveSpinBox", 0, 0, 400);
    detection->addWidget(Label1, 0, 0);
    detection->addWidget(VariatLimitSpinBox, 1, 0);
    detection->addWidget(Label2, 0, 1);
    detection->addWidget(MinMoveSpinBox, 1, 1);
    layout->addWidget(detectionPanel);

    QFrame* frequencyPanel = Panel(row, "Panel4");
    auto* frequency = new QVBoxLayout(frequencyPanel);
    frequency->setContentsMargins(4, 1, 4, 1);
    frequency->setSpacing(0);
    Label3 = Label(frequencyPanel, "Label3", "Capture frequency (ms)");
    CapSpeedSpinBox = SpinBox(frequencyPanel, "CapSpeedSpinBox", 0, 0, 250);
    frequency->addWidget(Label3);
    frequency->addWidget(CapSpeedSpinBox);
    layout->addWidget(frequencyPanel);

    // Small captions leave the meter room for its six lamps.
    for (QLabel* label : {Label1, Label2, Label3}) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        label->setFont(font);
    }
    for (TSpinEdit* box : {VariatLimitSpinBox, MinMoveSpinBox, CapSpeedSpinBox}) {
        box->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

    // The lamps are as high as the panel and H + 4 apart: this height lets
    // all six fit beside the boxes.
    MeterPanel = new QFrame(row);
    MeterPanel->setObjectName("MeterPanel");
    MeterPanel->setFixedHeight(MeterHeight);
    auto* meterLayout = new QHBoxLayout(MeterPanel);
    meterLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(MeterPanel, 1, Qt::AlignVCenter);
    return row;
}

// Every handler runs inside HandleEvent: an error ends the handler and is
// shown by the standard error display.
void TVideo::ConnectHandlers() {
    auto on = [this](auto* sender, auto signal, void (TVideo::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { HandleEvent([&] { (this->*handler)(); }); });
    };
    on(SpeedButton3, &QToolButton::clicked, &TVideo::SpeedButton3Click);
    on(SpeedButton7, &QToolButton::clicked, &TVideo::SpeedButton7Click);
    on(SpeedButton12, &QToolButton::clicked, &TVideo::SpeedButton12Click);
    on(AutoBut, &QToolButton::clicked, &TVideo::AutoButClick);
    on(CapSpeedSpinBox, &TSpinEdit::Change, &TVideo::CapSpeedSpinBoxChange);
    FollowStepSettings();
    connect(Timer1, &TTimer::OnTimer, this, [this] { HandleEvent([this] { RunTimerTick(); }); });
    on(VideoDisplay1, &QAction::triggered, &TVideo::VideoDisplay1Click);
    on(VideoSource1, &QAction::triggered, &TVideo::VideoSource1Click);
    on(VideoFormat1, &QAction::triggered, &TVideo::VideoFormat1Click);
    on(Overlay1, &QAction::triggered, &TVideo::Overlay1Click);
    on(Preview1, &QAction::triggered, &TVideo::Preview1Click);
    on(Configuration1, &QAction::triggered, &TVideo::Configuration1Click);
    on(Start1, &QAction::triggered, &TVideo::Start1Click);
    on(Stop1, &QAction::triggered, &TVideo::Stop1Click);
    on(LiveVideo1, &QAction::triggered, &TVideo::LiveVideo1Click);
    on(Image1, &QAction::triggered, &TVideo::Image1Click);
    on(OpenEventsFolder1, &QAction::triggered, &TVideo::OpenEventsFolder1Click);
    on(EditMask1, &QAction::triggered, &TVideo::EditMask1Click);
}

// The step reads its options from FStepSettings alone; the boxes of this
// window and the checks of the configuration window keep it current.
void TVideo::FollowStepSettings() {
    auto follow = [this](TSpinEdit* box, int TStepSettings::*value) {
        FStepSettings.*value = box->Value();
        connect(box, &TSpinEdit::Change, this,
                [this, box, value] { FStepSettings.*value = box->Value(); });
    };
    follow(VariatLimitSpinBox, &TStepSettings::PixelTolerance);
    follow(MinMoveSpinBox, &TStepSettings::MinimalMovement);
    follow(CapSpeedSpinBox, &TStepSettings::CaptureFrequency);
}

void TVideo::FollowConfiguration() {
    auto follow = [this](QCheckBox* check, bool TStepSettings::*value) {
        FStepSettings.*value = check->isChecked();
        connect(check, &QCheckBox::toggled, this,
                [this, value](bool checked) { FStepSettings.*value = checked; });
    };
    follow(ConfigForm->BeepOMBox, &TStepSettings::BeepOnMove);
    follow(ConfigForm->SaveOMBox, &TStepSettings::SaveOnMove);
    follow(ConfigForm->LogInAutoCheck, &TStepSettings::LogInAuto);
    FStepSettings.Detection = ConfigForm->DetectionSettings();
    connect(ConfigForm, &TConfigForm::DetectionChanged, this, &TVideo::DetectionChanged);
}

void TVideo::DetectionChanged() {
    FStepSettings.Detection = ConfigForm->DetectionSettings();
    if (ImageForm) {
        ImageForm->Image->SetHatching(FStepSettings.Detection.Mask.empty()
                                          ? QPainterPath()
                                          : UnwatchedArea(ParseMask(FStepSettings.Detection.Mask)));
        ImageForm->Image->update();
    }
}

void TVideo::EditMask1Click() {
    FStepRunner->Settle(); // the engine's frame is not being replaced
    const TBitmap none;
    EditMask1->setChecked(FMaskEditing.Toggle(FEngine ? FEngine->PreviousFrame() : none,
                                              FStepSettings.Detection.Mask));
}

void TVideo::SetAutoButColor(const QColor& color) {
    QPalette palette = AutoBut->palette();
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::WindowText, color);
    AutoBut->setPalette(palette);
}

void TVideo::FormCreate() {
    CreationStep([this] { BaseForm::FormCreate(); });
    CreationStep([this] { LoadSettings(ApplicationKey); });
    CreationStep([this] {
        ConfigForm->LoadSettings(ApplicationKey);
        ConfigForm->SetMainWindow(this, MovementChart);
        FollowConfiguration();
    });
    CreationStep([this] {
        FMeter = std::make_unique<TMovementMeter>(MeterPanel);
        FMeter->setObjectName("Meter");
        MeterPanel->layout()->addWidget(FMeter.get());
    });
    CreationStep([this] {
        FGraph = std::make_unique<RunningGraph>(Series1, GraphPointCount);
        FGraph->SetMeter(FMeter.get());
    });
    CreationStep([this] { FReactions->CreateLog(); });
    CreationStep([this] { FEngine = std::make_unique<TMotionEngine>(); });
    CreationStep([this] { FReactions->CreateEvents(*ConfigForm); });
    CreationStep([this] {
        FReactions->CreateIntegration(*ConfigForm, [this] { return Timer1->Enabled(); });
    });
    CreateAuxiliaryWindows();
    CreationStep([this] { DetectionChanged(); }); // the stored mask's hatching
}

void TVideo::CreateAuxiliaryWindows() {
    CreationStep([this] { ::VideoForm = BaseForm::CreateForm<TVideoForm>(this); });
    CreationStep([this] { ::ImageForm = BaseForm::CreateForm<TImageForm>(this); });
    CreationStep([this] {
        DirectionForm = BaseForm::CreateForm<TDirectionForm>(this);
        FReactions->SetDirectionForm(DirectionForm);
    });
    BaseForm* windows[] = {::VideoForm, ::ImageForm, DirectionForm};
    for (BaseForm* window : windows) {
        CreationStep([window] {
            if (window) {
                window->LoadSettings(ApplicationKey);
            }
        });
    }
    for (BaseForm* window : windows) {
        CreationStep([window] {
            if (window) {
                window->show();
            }
        });
    }
}

void TVideo::LoadSettings(const std::string& applicationKey) {
    BaseForm::LoadSettings(applicationKey);
    LoadMainWindowSettings(SettingsSection, DetectionBoxes());
}

void TVideo::SaveSettings() {
    BaseForm::SaveSettings();
    SaveMainWindowSettings(SettingsSection, DetectionBoxes());
}

TDetectionBoxes TVideo::DetectionBoxes() const {
    return {VariatLimitSpinBox, MinMoveSpinBox, CapSpeedSpinBox};
}

// Automatic mode is left as it is; the timer is stopped only so that no
// tick can reach a step after the window's parts are gone.
void TVideo::FormClose() {
    BaseForm::FormClose();
    FStepRunner->Cancel(); // a step on the worker is not reported to a closed window
    DisconnectCamera();
    FReactions->Stop();
    FEngine.reset();
    if (FGraph) {
        FGraph->SetMeter(nullptr);
    }
    FMeter.reset();
    BaseForm::DestroyForm(::VideoForm);
    BaseForm::DestroyForm(::ImageForm);
    BaseForm::DestroyForm(DirectionForm);
    Timer1->SetEnabled(false);
}

void TVideo::FormDestroy() {
    BaseForm::FormDestroy();
    FReactions->ReleaseLog();
}

void TVideo::changeEvent(QEvent* event) {
    BaseForm::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        HandleEvent([this] { FormActivate(); });
    }
}

void TVideo::FormActivate() {
    MovementChart->setVisible(ConfigForm->GraphCheck->isChecked());
}

void TVideo::SpeedButton3Click() {
    StartVideo();
}
void TVideo::SpeedButton7Click() {
    StopVideo();
}
void TVideo::SpeedButton12Click() {
    EvolveOne();
}
void TVideo::Timer1Timer() {
    StartAutomaticStep();
}

// The first error of a tick in a run is shown in a box, its repeats are
// counted on the status line: a step failing on every tick would otherwise
// reopen its box right after each OK, and no click could reach "Auto".
void TVideo::RunTimerTick() {
    RunTick([this] { Timer1Timer(); });
}

void TVideo::RunTick(const std::function<void()>& tick) {
    FTickErrors.Run(
        tick,
        [](const std::string& text) { TApplication::ShowException(QString::fromStdString(text)); },
        [this](const std::string& text) { StatusBar1->showMessage(QString::fromStdString(text)); });
}

void TVideo::StartVideo() {
    FStepRunner->Settle();
    if (FCapture.ConnectVideo(::VideoForm ? ::VideoForm->VideoArea : nullptr, VideoLabel,
                              VideoFrameLimit) &&
        Events()) {
        Events()->AttachToCapture();
    }
    // The source connects in the background: the reference frame is its first frame.
    WhenFrameReady(this, [this] { HandleEvent([this] { TakeReferenceFrame(); }); });
}

void TVideo::StopVideo() {
    FStepRunner->Settle(); // a step of this source is reported before it goes
    FCapture.DisconnectVideo(VideoLabel);
}

void TVideo::AutoButClick() {
    FStepRunner->Settle(); // the run's last step is logged in the run
    if (!Timer1->Enabled()) {
        FTickErrors.Reset();
        StatusBar1->clearMessage();
        SetAutoButColor(AutoOnColor);
        Log()->StartSession(ConfigForm->LogDirEdit->text().toStdString());
        FGraph->Reset();
    } else {
        SetAutoButColor(AutoOffColor);
        Log()->StopSession();
    }
    FMeter->SetRunningSize(
        RunningSizeFor(ConfigForm->RunningWindowSizeEdit->Value(), CapSpeedSpinBox->Value()));
    FMeter->SetThresholdValue1(ConfigForm->BarThEdit1->Value());
    FMeter->SetThresholdValue2(ConfigForm->BarThEdit2->Value());
    FMeter->SetThresholdValue3(ConfigForm->BarThEdit3->Value());
    FMeter->SetThresholdValue4(ConfigForm->BarThEdit4->Value());
    FMeter->SetThresholdValue5(ConfigForm->BarThEdit5->Value());
    FMeter->SetThresholdValue6(ConfigForm->BarThEdit6->Value());
    Timer1->SetInterval(CapSpeedSpinBox->Value());
    Timer1->SetEnabled(!Timer1->Enabled());
}

void TVideo::CapSpeedSpinBoxChange() {
    Timer1->SetInterval(CapSpeedSpinBox->Value());
}

void TVideo::VideoDisplay1Click() {
    ShowDisplayDialog();
}
void TVideo::VideoSource1Click() {
    ShowSourceDialog();
}
void TVideo::VideoFormat1Click() {
    ShowFormatDialog();
}

void TVideo::Overlay1Click() {
    Overlay1->setChecked(true);
    MakeItOverlay();
}

void TVideo::Preview1Click() {
    Preview1->setChecked(true);
    MakeItPreview();
}

void TVideo::MakeItOverlay() {
    SetOverlayMode();
}
void TVideo::MakeItPreview() {
    SetPreviewMode();
}

void TVideo::Configuration1Click() {
    ConfigForm->exec();
    FReactions->Apply(*ConfigForm);
}

// Streaming capture of the connected camera to the capture file; without a
// camera these do nothing.
void TVideo::Start1Click() {
    StartCapture();
}

void TVideo::Stop1Click() {
    StopCapture();
}

namespace {

// Closing an auxiliary window only hides it; these bring it back.
void ShowAgain(QWidget* window) {
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
}

} // namespace

void TVideo::LiveVideo1Click() {
    ShowAgain(::VideoForm);
}

void TVideo::Image1Click() {
    ShowAgain(::ImageForm);
}

void TVideo::OpenEventsFolder1Click() {
    if (Events()) {
        Events()->OpenFolder();
    }
}

void TVideo::ShowReadouts(const TStepResult& result) {
    PixNumLab->setText(QString::number(result.ChangedPixels));
    if (ConfigForm && ConfigForm->isVisible()) {
        ConfigForm->ShowStepReadout(result.ChangedPixels, result.Percent, result.Movement,
                                    result.LightChange);
    }
    const int percent = result.Percent;
    PercentLab->setText(QString::number(percent));
    FMeter->SetValue(percent);
    if (MovementChart->isVisibleTo(this)) {
        if (result.LightChange) {
            FGraph->AddValue(percent, RunningGraph::LightChangeColor);
        } else {
            FGraph->AddValue(percent);
        }
    }
}

void TVideo::ResumeDisplay() {
    FCapture.ResumeDisplay();
}
