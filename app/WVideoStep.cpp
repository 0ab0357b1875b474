// The main window's frame steps and reference grab: a frame from the capture,
// compared by the engine, reported to the step's reactions. A step of the
// user's, and the reference grab, run on this thread; the step of a timer
// tick runs on the step runner's worker and is reported here when it is back.

#include "app/TTimer.h"
#include "app/WVideo.h"

#include <memory>

TPoint TVideo::LastDirection() const {
    return FEngine ? FLastDirection : TMotionEngine::InitialDirection;
}

void TVideo::TakeReferenceFrame() {
    if (!FEngine) {
        return; // the window has closed
    }
    FStepRunner->Settle();
    std::shared_ptr<const TFrameCopy> grabbed;
    FEngine->TakeReference(FCapture.TakeFrame(grabbed));
    FCapture.ResumeDisplay();
}

// One frame step. An error ends it where it happens (see the failure notes
// of each stage); the engine keeps its images for the next step.
void TVideo::EvolveOne() {
    if (!FEngine) {
        return; // the window has closed
    }
    FStepRunner->Settle();                     // an automatic step on its way is reported first
    std::shared_ptr<const TFrameCopy> grabbed; // holds the grab until the step ends
    const TFrameView frame = FCapture.TakeFrame(grabbed);
    const TStepResult result = AnalyseFrame(frame);
    ReportStep(frame, result, Timer1->Enabled());
}

// The direction is taken before the reactions run, so that it follows the
// engine even when one of them fails.
void TVideo::ReportStep(const TFrameView& frame, const TStepResult& result, bool automatic) {
    FLastDirection = result.Difference.Direction;
    FReactions->Report(frame, result, FEngine->DifferenceImage(), automatic);
    emit StepReported();
}

// When the comparison declines (a frame is missing, or the frame size
// changed) the step counts no changed pixels, has an empty difference image
// and keeps the previous direction.
TStepResult TVideo::AnalyseFrame(const TFrameView& frame) {
    return FEngine->Step(frame, StepOptions());
}

TEngineOptions TVideo::StepOptions() {
    TEngineOptions options{FStepSettings.PixelTolerance, FStepSettings.MinimalMovement, true};
    FDetectionOptions.Apply(FStepSettings.Detection, options);
    return options;
}

// The options are read here, when the tick comes, as a step on this thread
// reads them; the worker touches nothing but the engine and the grab.
void TVideo::StartAutomaticStep() {
    if (!FEngine || !FStepRunner->TakeTick()) {
        return;
    }
    FAutoOptions = StepOptions();
    FCapture.PrepareFrame();
    FStepRunner->Start(
        [this] {
            FAutoFrame = FCapture.TakePreparedFrame();
            FAutoResult = FEngine->Step(FAutoFrame, FAutoOptions);
        },
        [this](const std::exception_ptr& error) { FinishAutomaticStep(error); });
}

// The grab becomes the clipboard's frame and the step is reported, as a step
// on this thread is; an error of the step goes where the tick's errors go.
void TVideo::FinishAutomaticStep(const std::exception_ptr& error) {
    RunTick([this, &error] {
        FCapture.FinishFrame();
        if (error) {
            std::rethrow_exception(error);
        }
        ReportStep(FAutoFrame, FAutoResult, true);
    });
}
