#pragma once
// What the main window asks of the capture layer: connecting the camera in
// the live video panel, letting it go, and taking the frame of a step.

#include "analysis/TBitmap.h"
#include "capture/CaptureSession.h"
#include "engine/FrameView.h"

#include <QImage>
#include <QPointer>

#include <memory>

class QLabel;
class QWidget;

class TCaptureCommands {
public:
    // Connects the camera in `panel`, its status texts going to
    // `statusLabel`; once connected, live video runs with at most
    // `frameLimit` frames to a capture file. True when it connected.
    bool ConnectVideo(QWidget* panel, QLabel* statusLabel, int frameLimit);
    // Lets the camera go; the status label goes back to its first word: what
    // the source said last ("Connected to ...", "trying again in 4 s") is no
    // longer true.
    void DisconnectVideo(QLabel* statusLabel);

    // Grabs the frame of a step, in at most one copy: with a camera the grab
    // itself (the frame just put on the clipboard), as it was decoded, held
    // through `grabbed` for as long as the step needs it; without one the
    // clipboard's image, converted. An empty view when there is neither.
    TFrameView TakeFrame(std::shared_ptr<const TFrameCopy>& grabbed);
    // The live display goes on after a grab.
    void ResumeDisplay();

    // The frame of a step taken in three parts, so that the wait for it and
    // its conversion run on the step's worker: PrepareFrame on the GUI thread
    // starts the grab (or takes the clipboard's image, without a camera),
    // TakePreparedFrame on the worker finishes it as TakeFrame would, and
    // FinishFrame on the GUI thread makes it the grabbed frame and puts it on
    // the clipboard. The view stays valid until the next PrepareFrame.
    void PrepareFrame();
    TFrameView TakePreparedFrame();
    void FinishFrame();

private:
    // A frame that reaches the step in another form than 24-bit rows (the
    // clipboard's image without a camera), converted; its storage is kept
    // between steps so that a step of the same frame size allocates nothing.
    TBitmap FCapturedFrame;

    // The grab in parts: the camera's session when there is one (checked
    // again before its end, the window may have gone meanwhile), else the
    // clipboard's image.
    TCaptureSession* FGrabSession = nullptr;
    QPointer<TCaptureSession> FGrabSessionAlive;
    TCaptureSession::TGrabJob FGrab;
    QImage FClipboardImage;
};
