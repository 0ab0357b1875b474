// The main window's frame step and reference grab: a frame from the capture,
// compared by the engine, reported to the step's reactions.

#include "app/TTimer.h"
#include "app/WVideo.h"

#include <QImage>

TPoint TVideo::LastDirection() const {
    return FEngine ? FEngine->LastDirection() : TMotionEngine::InitialDirection;
}

void TVideo::TakeReferenceFrame() {
    if (!FEngine) {
        return; // the window has closed
    }
    QImage grabbed;
    FEngine->TakeReference(FCapture.TakeFrame(grabbed));
    FCapture.ResumeDisplay();
}

// One frame step. An error ends it where it happens (see the failure notes
// of each stage); the engine keeps its images for the next step.
void TVideo::EvolveOne() {
    if (!FEngine) {
        return; // the window has closed
    }
    QImage grabbed; // shares the grab's pixels until the step ends
    const TFrameView frame = FCapture.TakeFrame(grabbed);
    const TStepResult result = AnalyseFrame(frame);
    FReactions->Report(frame, result, FEngine->DifferenceImage(), Timer1->Enabled());
}

// When the comparison declines (a frame is missing, or the frame size
// changed) the step counts no changed pixels, has an empty difference image
// and keeps the previous direction.
TStepResult TVideo::AnalyseFrame(const TFrameView& frame) {
    TEngineOptions options{FStepSettings.PixelTolerance, FStepSettings.MinimalMovement, true};
    FDetectionOptions.Apply(FStepSettings.Detection, options);
    return FEngine->Step(frame, options);
}
