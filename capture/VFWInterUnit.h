#pragma once
// The capture window service: a child window of a panel that shows the live
// picture of a video source and answers capture messages sent to it. The
// message numbers are the service's protocol (capture/PlatformTypes.h); every
// request is synchronous and runs on the GUI thread. Frames come from one
// GStreamer pipeline per connected driver (capture/GstDriver.h); the drivers
// are the machine's video sources (capture/Catalog.h).

#include "capture/FrameTap.h"
#include "capture/PlatformTypes.h"
#include "capture/VideoDriver.h"

#include <functional>
#include <memory>

class QImage;
class QObject;
class TFrameCopy;

// ---------------------------------------------------------------------------
// The service's entry points.

HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, HWND parent, int id);
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);
// True while `window` is a capture window that was created and not destroyed.
bool IsCaptureWindow(HWND window);
// Calls `action` on the GUI thread once the window's source has delivered a frame: at
// once when it has, when the window has no driver or is no capture window; never when
// the driver is disconnected or `context` is destroyed first. Connecting goes on in the
// background, so this is how a first frame is awaited without blocking.
void capCallWhenFrameReady(HWND window, QObject* context, std::function<void()> action);
// The frame of the window's latest grab, sharing its pixels (no copy): a null image when
// that grab failed. False, leaving `frame` alone, when `window` is no capture window or
// has no driver connected.
bool capGrabbedFrame(HWND window, QImage& frame);
// The same frame as it was decoded, held for as long as `frame` holds it (null when
// that grab failed).
bool capGrabbedCopy(HWND window, std::shared_ptr<const TFrameCopy>& frame);
BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version, int versionSize);

// The message primitives: one message each, nonzero meaning success.
BOOL capSetCallbackOnStatus(HWND window, CAPSTATUSCALLBACK callback);
BOOL capDriverConnect(HWND window, int index);
BOOL capDriverDisconnect(HWND window);
BOOL capFileSetCaptureFile(HWND window, const char* fileName);
BOOL capEditCopy(HWND window);
BOOL capDlgVideoFormat(HWND window);
BOOL capDlgVideoSource(HWND window);
BOOL capDlgVideoDisplay(HWND window);
BOOL capPreview(HWND window, bool on);
BOOL capOverlay(HWND window, bool on);
BOOL capPreviewRate(HWND window, unsigned milliseconds);
BOOL capPreviewScale(HWND window, bool on);
BOOL capGrabFrame(HWND window);
BOOL capCaptureSequence(HWND window);
BOOL capCaptureStop(HWND window);
BOOL capCaptureAbort(HWND window);
BOOL capCaptureGetSetup(HWND window, CAPTUREPARMS* setup, unsigned size);
BOOL capCaptureSetSetup(HWND window, const CAPTUREPARMS* setup, unsigned size);
