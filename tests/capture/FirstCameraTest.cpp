// Start Video with no source set, while the camera monitor is still making its
// first list (seconds on a busy machine): the call returns at once, and the
// picture and the status follow once the list is there. The list is held back
// by a device provider that the test lets go; the camera it reports (a test
// pattern) stands for a USB camera that is not there. The monitor starts once
// per process, so ctest runs each case in a process of its own.

#include "CaptureFixture.h"

#include <QObject>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr const char* CameraName = "Late test camera";

// The gate that holds the provider's start, and whether it reports a camera.
struct TGate {
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Open = false;
    bool WithCamera = true;
    std::atomic<bool> Entered{false};
    std::atomic<bool> OpenedByWatchdog{false};

    void Let(bool byWatchdog = false) {
        const std::lock_guard lock(Mutex);
        if (!Open) {
            OpenedByWatchdog = byWatchdog;
        }
        Open = true;
        Changed.notify_all();
    }
};

TGate& Gate() {
    static TGate gate;
    return gate;
}

GstElement* MakeCameraElement(GstDevice*, const gchar* name) {
    GstElement* element = gst_element_factory_make("videotestsrc", name);
    g_object_set(element, "is-live", TRUE, nullptr);
    return element;
}

GType CameraType() {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_DEVICE, "StirwatchLateCamera", sizeof(GstDeviceClass),
        [](gpointer klass, gpointer) {
            GST_DEVICE_CLASS(klass)->create_element = MakeCameraElement;
        },
        sizeof(GstDevice), nullptr, GTypeFlags(0));
    return type;
}

gboolean StartProvider(GstDeviceProvider* provider) {
    TGate& gate = Gate();
    gate.Entered = true;
    std::unique_lock lock(gate.Mutex);
    gate.Changed.wait(lock, [&] { return gate.Open; });
    if (gate.WithCamera) {
        GstCaps* caps = gst_caps_new_any();
        auto* camera =
            GST_DEVICE(g_object_new(CameraType(), "display-name", CameraName, "device-class",
                                    "Video/Source", "caps", caps, nullptr));
        gst_caps_unref(caps);
        gst_device_provider_device_add(provider, camera);
    }
    return TRUE;
}

// "stirwatchlatecameras": a provider of video sources whose start waits at the gate.
void RegisterLateProvider() {
    static const GType type = g_type_register_static_simple(
        GST_TYPE_DEVICE_PROVIDER, "StirwatchLateProvider", sizeof(GstDeviceProviderClass),
        [](gpointer klass, gpointer) {
            auto* provider = GST_DEVICE_PROVIDER_CLASS(klass);
            provider->start = StartProvider;
            gst_device_provider_class_set_static_metadata(provider, "Late cameras", "Video/Source",
                                                          "Cameras found after a wait", "Tests");
        },
        sizeof(GstDeviceProvider), nullptr, GTypeFlags(0));
    gst_device_provider_register(nullptr, "stirwatchlatecameras", GST_RANK_PRIMARY, type);
}

class FirstCameraTest : public TCaptureFixture {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        TCaptureFixture::SetUp();
        RegisterLateProvider();
    }
    void TearDown() override {
        Gate().Let();
        if (Watchdog.joinable()) {
            Watchdog.join();
        }
        TCaptureFixture::TearDown();
    }
    // Starts the camera monitor as the program does at start and waits until its
    // start is held at the gate. Should the GUI thread wait for the monitor, a
    // watchdog opens the gate after a minute, and says so.
    void StartTheMonitorAndHoldIt(bool withCamera) {
        Gate().WithCamera = withCamera;
        PrepareCapture();
        ASSERT_TRUE(RunEventsUntil([] { return Gate().Entered.load(); }, 30000));
        Watchdog = std::thread([] {
            std::unique_lock lock(Gate().Mutex);
            if (!Gate().Changed.wait_for(lock, std::chrono::seconds(60),
                                         [] { return Gate().Open; })) {
                lock.unlock();
                Gate().Let(true);
            }
        });
    }
    // Start Video as the main window does it: connect, show, and wait for the first
    // frame to take the reference frame.
    void StartVideo() {
        ASSERT_TRUE(ConnectCamera());
        StartOverlay();
        WhenFrameReady(&Context, [this] { ++ReferenceFrames; });
        EXPECT_FALSE(Gate().OpenedByWatchdog) << "Start Video waited for the camera monitor";
    }

    QObject Context;
    int ReferenceFrames = 0;
    std::thread Watchdog;
};

TEST_F(FirstCameraTest, FoundCameraFollowsStartVideo) {
    StartTheMonitorAndHoldIt(true);
    StartVideo();
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(Window()->DriverConnected());
    EXPECT_EQ(ReferenceFrames, 0) << "no frame yet";
    EXPECT_TRUE(Label->text().startsWith("Connecting to")) << Label->text().toStdString();

    Gate().Let();
    EXPECT_TRUE(WaitForStatus(QStringLiteral("Connected to %1").arg(CameraName), 30000))
        << Label->text().toStdString();
    EXPECT_TRUE(RunEventsUntil([this] { return ReferenceFrames == 1; }, 10000));
    EXPECT_TRUE(RunEventsUntil([] { return Window()->DisplayedFrames() > 0; }, 10000));
    EXPECT_EQ(Window()->SourceName(), CameraName);
    EXPECT_FALSE(Grab().Empty());
}

TEST_F(FirstCameraTest, AbsentCameraLeavesAWindowWithoutDriver) {
    StartTheMonitorAndHoldIt(false);
    StartVideo();
    EXPECT_EQ(ReferenceFrames, 0) << "no frame yet";

    Gate().Let();
    EXPECT_TRUE(WaitForStatus("No camera found", 30000)) << Label->text().toStdString();
    EXPECT_TRUE(RunEventsUntil([] { return !Window()->DriverConnected(); }, 10000));
    // As on a machine without a camera: what waited for a frame runs, and frames
    // come from the clipboard.
    EXPECT_EQ(ReferenceFrames, 1);
    EXPECT_EQ(Window()->NoSignalReason(), "No camera found");
    QImage frame;
    EXPECT_FALSE(TakeGrabbedFrame(frame));
}

} // namespace
