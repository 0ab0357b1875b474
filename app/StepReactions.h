#pragma once
// What a frame step sets off once its frame is compared: the difference
// image and the direction for their windows, the status line's word on a
// light change, the motion event, the beep and the saved frame of a step
// with movement, the read-outs (through the view), the CSV log line of an
// automatic run, and what other programs are told. The step reports each
// result here once; this object runs the reactions in their fixed order, so
// that a failing one ends the step where it always has: a failed save
// before the read-outs, a failed log line after the graph.

#include "engine/FrameView.h"
#include "engine/MotionEngine.h"
#include "settings/StepSettings.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class MovementLog;
class TBitmap;
class TConfigForm;
class TDirectionForm;
class TEventRecording;
class TIntegration;

// The part of the main window that shows a step: its read-outs, meter and
// graph, and the live display that a grab paused.
class TStepView {
public:
    virtual ~TStepView() = default;
    virtual void ShowReadouts(const TStepResult& result) = 0;
    virtual void ResumeDisplay() = 0;
};

class TStepReactions : public QObject {
    Q_OBJECT

public:
    // Reads the beep, save and log options from `settings` at every step.
    TStepReactions(const TStepSettings& settings, TStepView& view, QObject* parent = nullptr);
    ~TStepReactions() override;

    // The parts, each made in a creation step of its own so that one failing
    // leaves the others working; a part that is missing is skipped.
    void CreateLog();
    // Motion events as video files, while "Record On Move" is on.
    void CreateEvents(const TConfigForm& options);
    // Events told to other programs; `watching` says whether an automatic
    // run is going on.
    void CreateIntegration(const TConfigForm& options, std::function<bool()> watching);
    // The window that draws the direction line (the main window owns it).
    void SetDirectionForm(TDirectionForm* form);

    MovementLog* Log() const { return FLog.get(); }
    TEventRecording* Events() const { return FEvents; }
    TIntegration* Integration() const { return FIntegration; }

    // The options of the configuration window, after it closed.
    void Apply(const TConfigForm& options);
    // The program ends: a running event's clip is finished and its end told.
    void Stop();
    // The log is released (the main window's end).
    void ReleaseLog();

    // One compared frame. `difference` is the step's difference image, handed
    // to its window by swapping (the caller gets storage to reuse back).
    // `automatic`: automatic mode is on. Throws what a failing reaction
    // throws; the reactions after it do not run.
    void Report(const TFrameView& frame, const TStepResult& result, TBitmap& difference,
                bool automatic);

signals:
    // A text for the status line.
    void Status(const QString& text);
    // Why saving movement images has stopped; empty once it goes on.
    void SaveStatus(const QString& text);
    // While an event is recorded: "Recording event <file> ..."; empty once
    // none is.
    void RecordingChanged(const QString& text);

private:
    void ShowComparison(const TStepResult& result, TBitmap& difference);
    void ReactToMovement(const TFrameView& frame, bool automatic);
    void SaveMovementImage(const TFrameView& frame);
    TFrameView ColourFrame(const TFrameView& frame);
    void LogStep(const TStepResult& result, bool automatic);
    void RepaintDifference();
    void OpenEventsFolder();

    const TStepSettings& FSettings;
    TStepView& FView;
    std::unique_ptr<MovementLog> FLog;
    TEventRecording* FEvents = nullptr;
    TIntegration* FIntegration = nullptr;
    QPointer<TDirectionForm> FDirectionForm;
    QImage FSavedColours; // a saved frame that came in another format than 24 bits
};
