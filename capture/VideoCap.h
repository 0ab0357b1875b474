#pragma once
// The capture device layer: the program's only contact with the camera. A
// module of free operations over one module-wide state; every request is a
// message sent synchronously to the capture window.

#include "capture/VFWInterUnit.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QImage;
class QLabel;
class QObject;
class QWidget;
class TCaptureSession;

// Module state (read access; the operations below change it).
extern HWND CaptureWindow;
extern std::string DriverName;
extern const std::string CaptureFileName;
QWidget* VideoPanel();
QLabel* StatusLabel();
std::uint32_t FrameLimit();

// Starts GStreamer and the search for cameras on a thread of their own, so that the
// first connection finds them ready; at program start, before any window exists.
void PrepareCapture();

void SetVideoPanel(QWidget* panel);
void SetStatusLabel(QLabel* label);
// The stop notification of a streaming capture, called with a null sender; may be empty.
void SetStopCallback(std::function<void(QObject* sender)> callback);
void SetFrameLimit(std::uint32_t count);

bool ConnectCamera();
bool ConnectDriver(int index);
void DisconnectCamera();
void StartOverlay();
void GrabFrameToClipboard();
// With a camera connected: true, and `frame` is the frame of the latest grab (the one
// just put on the clipboard) sharing its pixels, or a null image when that grab failed.
// Without a camera: false, and a frame is to be had from the clipboard alone.
bool TakeGrabbedFrame(QImage& frame);
// The same as it was decoded, without a conversion: null when that grab failed.
bool TakeGrabbedCopy(std::shared_ptr<const TFrameCopy>& frame);
void ResumePreview();
// The session of the connected camera, for a grab taken in parts (see
// TCaptureSession::BeginGrab); null without one.
TCaptureSession* ConnectedSession();
// Calls `action` once the connected camera has delivered its first frame (at once when
// it has, or when there is no camera); `context` going first cancels it.
void WhenFrameReady(QObject* context, std::function<void()> action);
void ShowFormatDialog();
void ShowSourceDialog();
void ShowDisplayDialog();
void SetOverlayMode();
void SetPreviewMode();
// Streaming capture of the connected camera to the capture file.
void StartCapture();
void StopCapture();

// The status callback registered with the capture window.
LRESULT CaptureStatusCallback(HWND window, int status, const char* text);

// The box shown when the capture file cannot be set; replaceable so that
// nothing modal blocks an unattended run.
void SetMessageBoxFunction(std::function<void(const std::string& text)> show);
