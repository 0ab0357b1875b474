#include "app/StepReactions.h"

#include "analysis/BmpWriter.h"
#include "analysis/FrameStep.h"
#include "app/EventRecording.h"
#include "app/Integration.h"
#include "app/SaveSpace.h"
#include "capture/FrameConversion.h"
#include "log/LoggingUnit.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTime>

namespace {

char DecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.front().unicode() < 0x80) {
        return static_cast<char>(point.front().unicode());
    }
    return '.';
}

} // namespace

TStepReactions::TStepReactions(const TStepSettings& settings, TStepView& view, QObject* parent)
    : QObject(parent), FSettings(settings), FView(view) {}

TStepReactions::~TStepReactions() = default;

void TStepReactions::CreateLog() {
    FLog = std::make_unique<MovementLog>();
}

void TStepReactions::CreateEvents(const TConfigForm& options) {
    FEvents = new TEventRecording(this);
    connect(FEvents, &TEventRecording::Status, this, &TStepReactions::Status);
    connect(FEvents, &TEventRecording::RecordingChanged, this, &TStepReactions::RecordingChanged);
    FEvents->Apply(options);
}

void TStepReactions::CreateIntegration(const TConfigForm& options, std::function<bool()> watching) {
    FIntegration = new TIntegration(this);
    FIntegration->SetWatching(std::move(watching));
    connect(FIntegration, &TIntegration::Status, this, &TStepReactions::Status);
    connect(FIntegration, &TIntegration::OpenFolderRequested, this,
            &TStepReactions::OpenEventsFolder);
    if (FEvents) {
        connect(FEvents, &TEventRecording::ClipStarted, FIntegration, &TIntegration::ClipStarted);
        connect(FEvents, &TEventRecording::ClipFinished, FIntegration, &TIntegration::ClipFinished);
    }
    FIntegration->Apply(options);
}

void TStepReactions::SetDirectionForm(TDirectionForm* form) {
    FDirectionForm = form;
}

void TStepReactions::Apply(const TConfigForm& options) {
    if (FEvents) {
        FEvents->Apply(options);
    }
    if (FIntegration) {
        FIntegration->Apply(options);
    }
}

void TStepReactions::Stop() {
    if (FEvents) {
        FEvents->Stop(); // a running event's file is finished
    }
    if (FIntegration) {
        FIntegration->Stop(); // a running event's end is told
    }
}

void TStepReactions::ReleaseLog() {
    FLog.reset();
}

void TStepReactions::OpenEventsFolder() {
    if (FEvents) {
        FEvents->OpenFolder();
    }
}

void TStepReactions::Report(const TFrameView& frame, const TStepResult& result, TBitmap& difference,
                            bool automatic) {
    ShowComparison(result, difference);
    if (result.LightChange) {
        // Not movement: no beep, no saved frame, no event; the next step
        // compares with this frame.
        emit Status(QStringLiteral("Light change ignored"));
    }
    if (result.Movement) {
        ReactToMovement(frame, automatic);
    }
    FView.ShowReadouts(result);
    LogStep(result, automatic);
    RepaintDifference();
    FView.ResumeDisplay();
    if (FIntegration) {
        FIntegration->FrameStep(automatic, result.Movement, result.Percent);
    }
}

// The difference image and the direction go to their windows at once; they
// are painted at the step's end (the direction window draws its line now).
// When the comparison declined, the image is empty and the direction is the
// previous point.
void TStepReactions::ShowComparison(const TStepResult& result, TBitmap& difference) {
    if (ImageForm) {
        ImageForm->Image->TakePicture(difference);
    }
    if (FDirectionForm) {
        FDirectionForm->ShowDirection(result.Difference.Direction.X, result.Difference.Direction.Y);
    }
}

void TStepReactions::ReactToMovement(const TFrameView& frame, bool automatic) {
    if (FEvents) {
        FEvents->Movement(automatic);
    }
    if (FSettings.BeepOnMove) {
        QApplication::beep();
    }
    if (FSettings.SaveOnMove) {
        SaveMovementImage(frame);
    }
}

// Below the volume's free-space floor the frame is not saved and the status
// line says why; saving resumes, and the notice goes, once space is back.
// Without a folder to measure, the save goes ahead and reports its failure.
void TStepReactions::SaveMovementImage(const TFrameView& frame) {
    const TDiskSpace space = DiskSpaceOf(SavedImagesFolder);
    if (space.Known && !RoomToSave(space, BmpFileBytes(frame.Width, frame.Height))) {
        emit SaveStatus(QString::fromStdString(
            SavingStoppedText(QDir(SavedImagesFolder).absolutePath().toStdString(), space)));
        return;
    }
    emit SaveStatus(QString());
    const QTime now = QTime::currentTime();
    const TFrameView colour = ColourFrame(frame);
    SaveRowsToFile(
        colour.Plane[0], static_cast<std::size_t>(colour.Stride[0]), pf24bit, colour.Width,
        colour.Height,
        SavedImageName(now.hour(), now.minute(), now.second(), now.msec(), DecimalSeparator()));
}

// The saved frame is the 24-bit colour frame: a grab kept as it was decoded
// is converted (into storage kept for the next save).
TFrameView TStepReactions::ColourFrame(const TFrameView& frame) {
    if (frame.Format == TFrameFormat::Bgr24) {
        return frame;
    }
    FrameToBgrImage(frame, FSavedColours);
    return BgrImageView(FSavedColours);
}

// A line for every step while automatic mode runs, whatever started the step.
void TStepReactions::LogStep(const TStepResult& result, bool automatic) {
    if (!automatic || !FSettings.LogInAuto || !FLog) {
        return;
    }
    try {
        FLog->LogMovement(result.ChangedPixels, result.Percent);
    } catch (...) {
        // The step ends here, but its difference image is shown: a log that
        // fails on every step must not leave that window blank.
        RepaintDifference();
        throw;
    }
}

void TStepReactions::RepaintDifference() {
    if (ImageForm) {
        ImageForm->Image->Repaint();
    }
}
