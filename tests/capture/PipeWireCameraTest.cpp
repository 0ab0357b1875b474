// A camera offered through PipeWire, as on a current desktop: the catalogue
// finds it with GStreamer's device monitor, and frames are grabbed from it.

#include "tests/support/PipeWireCamera.h"
#include "EventLoop.h"
#include "capture/CaptureWindow.h"
#include "capture/Clipboard.h"
#include "capture/VideoCap.h"

#include <QLabel>
#include <QWidget>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// One session for the whole run: the catalogue's device monitor, once started,
// stays with the PipeWire daemon it first met.
const TPipeWireCamera& Session() {
    static const TPipeWireCamera camera(320, 240, 15);
    return camera;
}

} // namespace

TEST(PipeWireCameraTest, TheCatalogueListsTheCameraAndAFrameIsGrabbedFromIt) {
    gst_init(nullptr, nullptr);
    const TPipeWireCamera& camera = Session();
    if (!camera.Ready()) {
        GTEST_SKIP() << "no PipeWire session here: " << camera.Reason();
    }
    qunsetenv("STIRWATCH_SOURCE");
    SetDriverCatalog(nullptr);
    // The camera's node appears once the daemon and the session manager have settled.
    int index = -1;
    for (int attempt = 0; attempt < 100 && index < 0; ++attempt) {
        DriverCatalog().Refresh();
        for (int i = 0; i < DriverCatalog().Count(); ++i) {
            if (DriverCatalog().Describe(i).Name == TPipeWireCamera::Name) {
                index = i;
            }
        }
        if (index < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_GE(index, 0) << "the device monitor does not list the virtual camera";
    if (index != 0) {
        GTEST_SKIP() << "this machine has a camera of its own before the virtual one";
    }

    QWidget panel;
    panel.resize(320, 240);
    QLabel label;
    SetVideoPanel(&panel);
    SetStatusLabel(&label);
    SetStopCallback({});
    ASSERT_TRUE(ConnectCamera());
    EXPECT_EQ(DriverName, TPipeWireCamera::Name);
    ASSERT_TRUE(RunEventsUntil(
        [] {
            const TCaptureWindow* window = TCaptureWindow::FromHandle(CaptureWindow);
            return window && window->DriverConnected();
        },
        20000))
        << label.text().toStdString();
    TBitmap frame;
    ASSERT_TRUE(RunEventsUntil(
        [&frame] {
            GrabFrameToClipboard();
            TakeClipboardBitmap(frame);
            return frame.Width() > 0;
        },
        20000))
        << label.text().toStdString();
    EXPECT_EQ(frame.Width(), 320);
    EXPECT_EQ(frame.Height(), 240);
    DisconnectCamera();
    SetDriverCatalog(nullptr);
}
