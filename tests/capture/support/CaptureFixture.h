#pragma once
// The capture tests' common fixture: a panel and a status label handed to the
// capture layer, and the layer's module state as the program finds it at
// start, before and after every test, so that tests pass in any order.

#include "EventLoop.h"
#include "analysis/TBitmap.h"
#include "capture/CaptureWindow.h"
#include "capture/VFWInterUnit.h"
#include "capture/VideoCap.h"

#include <QLabel>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

class QDialog;

// Runs `act` on the next modal dialog that opens, from inside its event loop.
void OnNextDialog(std::function<void(QDialog*)> act);

class TCaptureFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // STIRWATCH_SOURCE for the machine's own catalogue (read when a window is created).
    static void UseSource(const QString& source);
    // The capture window behind the layer's handle.
    static TCaptureWindow* Window();
    // Runs the event loop until the status label shows `text` (true) or the time is up.
    bool WaitForStatus(const QString& text, int milliseconds = 30000);
    bool WaitForStatusStartingWith(const QString& prefix, int milliseconds = 30000);

    // Connects the source and waits (with the event loop running) for its first frame
    // and for the status line to say so.
    bool ConnectAndWaitForAFrame(int milliseconds = 30000);
    // Grabs a frame as the frame step does: to the clipboard and back as a 24-bit bitmap
    // (empty when the grab put nothing there).
    static TBitmap Grab();
    // Picks the entry `text` of the Video Format dialog ("320 x 240, 15 fps").
    static void ChooseFormat(const QString& text);
    // A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"); 0 when missing.
    static long StatusKb(const char* field);
    // The peak memory of the process from now on is read as VmHWM.
    static void ResetPeakMemory();

    std::unique_ptr<QWidget> Panel;
    std::unique_ptr<QLabel> Label;
};
