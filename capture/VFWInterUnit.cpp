#include "capture/VFWInterUnit.h"

#include "capture/CaptureWindow.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Copies `text` into a zero-terminated buffer of `size` bytes without cutting a character.
void CopyText(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) {
        return;
    }
    std::size_t length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    while (length > 0 && length < text.size() &&
           (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace

HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, HWND parent, int id) {
    if (!parent || !(style & WS_CHILD)) {
        return nullptr;
    }
    DriverCatalog().Refresh();
    auto* window = new TCaptureWindow(QString::fromLocal8Bit(windowName ? windowName : ""), parent);
    window->setProperty("controlId", id);
    window->setGeometry(x, y, width, height);
    window->setVisible((style & WS_VISIBLE) != 0);
    return window;
}

bool IsCaptureWindow(HWND window) {
    return TCaptureWindow::FromHandle(window) != nullptr;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    TCaptureWindow* capture = TCaptureWindow::FromHandle(window);
    return capture ? capture->Dispatch(message, wParam, lParam) : 0;
}

BOOL DestroyWindow(HWND window) {
    TCaptureWindow* capture = TCaptureWindow::FromHandle(window);
    if (!capture) {
        return 0;
    }
    capture->Dispatch(WM_CAP_SET_CALLBACK_STATUSA, 0, 0);
    capture->Dispatch(WM_CAP_DRIVER_DISCONNECT, 0, 0);
    capture->SetFrameTap(nullptr);
    capture->Unregister();
    capture->hide();
    if (capture->Busy()) {
        // Destroyed from inside one of its own requests: freed once that returns.
        capture->deleteLater();
    } else {
        std::unique_ptr<TCaptureWindow> doomed(capture);
    }
    return 1;
}

BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version,
                              int versionSize) {
    TDriverCatalog& catalog = DriverCatalog();
    catalog.EnsureRead();
    if (static_cast<int>(index) >= MAXVIDEODRIVERS || !catalog.Has(static_cast<int>(index))) {
        return 0;
    }
    const TDriverDescription description = catalog.Describe(static_cast<int>(index));
    CopyText(description.Name, name, nameSize);
    CopyText(description.Version, version, versionSize);
    return 1;
}

BOOL capSetCallbackOnStatus(HWND window, CAPSTATUSCALLBACK callback) {
    return SendMessage(window, WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(callback));
}
BOOL capDriverConnect(HWND window, int index) {
    return SendMessage(window, WM_CAP_DRIVER_CONNECT, static_cast<std::uint16_t>(index), 0);
}
BOOL capDriverDisconnect(HWND window) {
    return SendMessage(window, WM_CAP_DRIVER_DISCONNECT, 0, 0);
}
BOOL capFileSetCaptureFile(HWND window, const char* fileName) {
    return SendMessage(window, WM_CAP_FILE_SET_CAPTURE_FILEA, 0,
                       reinterpret_cast<LPARAM>(fileName));
}
BOOL capEditCopy(HWND window) {
    return SendMessage(window, WM_CAP_EDIT_COPY, 0, 0);
}
BOOL capDlgVideoFormat(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEOFORMAT, 0, 0);
}
BOOL capDlgVideoSource(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
}
BOOL capDlgVideoDisplay(HWND window) {
    return SendMessage(window, WM_CAP_DLG_VIDEODISPLAY, 0, 0);
}
BOOL capPreview(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_PREVIEW, on, 0);
}
BOOL capOverlay(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_OVERLAY, on, 0);
}
BOOL capPreviewRate(HWND window, unsigned milliseconds) {
    return SendMessage(window, WM_CAP_SET_PREVIEWRATE, static_cast<std::uint16_t>(milliseconds), 0);
}
BOOL capPreviewScale(HWND window, bool on) {
    return SendMessage(window, WM_CAP_SET_SCALE, on, 0);
}
BOOL capGrabFrame(HWND window) {
    return SendMessage(window, WM_CAP_GRAB_FRAME, 0, 0);
}
BOOL capCaptureSequence(HWND window) {
    return SendMessage(window, WM_CAP_SEQUENCE, 0, 0);
}
BOOL capCaptureStop(HWND window) {
    return SendMessage(window, WM_CAP_STOP, 0, 0);
}
BOOL capCaptureAbort(HWND window) {
    return SendMessage(window, WM_CAP_ABORT, 0, 0);
}
BOOL capCaptureGetSetup(HWND window, CAPTUREPARMS* setup, unsigned size) {
    return SendMessage(window, WM_CAP_GET_SEQUENCE_SETUP, static_cast<std::uint16_t>(size),
                       reinterpret_cast<LPARAM>(setup));
}
BOOL capCaptureSetSetup(HWND window, const CAPTUREPARMS* setup, unsigned size) {
    return SendMessage(window, WM_CAP_SET_SEQUENCE_SETUP, static_cast<std::uint16_t>(size),
                       reinterpret_cast<LPARAM>(setup));
}

void capSetFrameTap(HWND window, TFrameTap* tap) {
    if (TCaptureWindow* capture = TCaptureWindow::FromHandle(window)) {
        capture->SetFrameTap(tap);
    }
}

bool capGrabbedFrame(HWND window, QImage& frame) {
    TCaptureWindow* capture = TCaptureWindow::FromHandle(window);
    if (!capture || !capture->DriverConnected()) {
        return false;
    }
    frame = capture->GrabbedFrame();
    return true;
}

bool capGrabbedCopy(HWND window, std::shared_ptr<const TFrameCopy>& frame) {
    TCaptureWindow* capture = TCaptureWindow::FromHandle(window);
    if (!capture || !capture->DriverConnected()) {
        return false;
    }
    frame = capture->GrabbedCopy();
    return true;
}

void capCallWhenFrameReady(HWND window, QObject* context, std::function<void()> action) {
    if (TCaptureWindow* capture = TCaptureWindow::FromHandle(window)) {
        capture->CallWhenFrameReady(context, std::move(action));
    } else if (action) {
        action();
    }
}
