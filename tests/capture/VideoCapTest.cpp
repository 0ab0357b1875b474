// The capture layer's sequence of requests and its failure handling, over a
// stand-in driver for what no real source can show (refusing drivers, a
// driver without a sequence setup, capture status texts).

#include "CaptureFixture.h"
#include "FakeCamera.h"
#include "capture/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class VideoCapTest : public TCaptureFixture {
protected:
    void SetUp() override {
        TCaptureFixture::SetUp();
        Panel->resize(200, 150);
    }
    void UseFakes(int count, std::vector<int> refusing = {}, std::vector<int> withoutSetup = {}) {
        SetDriverCatalog(TFakeCatalog::Numbered(count, refusing, withoutSetup, &Log));
    }
    CAPTUREPARMS ReadSetup() {
        CAPTUREPARMS parms{};
        EXPECT_TRUE(capCaptureGetSetup(CaptureWindow, &parms, sizeof parms));
        return parms;
    }

    TFakeCameraLog Log;
};

// The module state as the program finds it at start.
TEST_F(VideoCapTest, StartsWithoutWindowOrDriverAndNeedsAPanel) {
    EXPECT_EQ(DriverName, "No Driver Found");
    EXPECT_EQ(CaptureFileName, "video.avi");
    EXPECT_EQ(CaptureWindow, nullptr);
    SetVideoPanel(nullptr);
    EXPECT_FALSE(ConnectCamera());
    EXPECT_EQ(CaptureWindow, nullptr);
}

TEST_F(VideoCapTest, NoDriverGivesAWindowWithoutDriverAndNoDriverFound) {
    qunsetenv("STIRWATCH_SOURCE");
    DriverCatalog().Refresh();
    if (DriverCatalog().Count() > 0) {
        GTEST_SKIP() << "this machine has a camera";
    }
    QImage marker(3, 3, QImage::Format_RGB32);
    marker.fill(Qt::blue);
    QGuiApplication::clipboard()->setImage(marker);
    EXPECT_TRUE(ConnectCamera());
    ASSERT_TRUE(IsCaptureWindow(CaptureWindow));
    EXPECT_FALSE(Window()->DriverConnected());
    EXPECT_EQ(DriverName, "No Driver Found");
    EXPECT_EQ(Window()->CaptureFileName(), "video.avi");
    GrabFrameToClipboard();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(3, 3));
}

TEST_F(VideoCapTest, SearchStopsAtTheFirstDriverThatAnswers) {
    UseFakes(10, {0, 1});
    EXPECT_TRUE(ConnectCamera());
    EXPECT_EQ(Log.Opened, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(DriverName, "Fake camera 2");
    const CAPTUREPARMS parms = ReadSetup();
    EXPECT_EQ(parms.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_EQ(parms.fYield, 1);
    EXPECT_EQ(parms.fCaptureAudio, 0);
    EXPECT_EQ(parms.vKeyAbort, 27u);
    EXPECT_EQ(parms.fAbortLeftMouse, 0);
    EXPECT_EQ(parms.fAbortRightMouse, 0);
    EXPECT_EQ(parms.fLimitEnabled, 0);
    EXPECT_EQ(parms.fMCIControl, 0);
    // Fields the layer does not set keep what the service had.
    EXPECT_EQ(parms.wNumVideoRequested, 32u);
    EXPECT_EQ(parms.wTimeLimit, 30u);
}

TEST_F(VideoCapTest, ADriverWithoutSequenceSetupStillCounts) {
    UseFakes(3, {}, {0});
    EXPECT_TRUE(ConnectCamera());
    EXPECT_EQ(Log.Opened, (std::vector<int>{0}));
    EXPECT_TRUE(Window()->DriverConnected());
    CAPTUREPARMS parms{};
    EXPECT_FALSE(capCaptureGetSetup(CaptureWindow, &parms, sizeof parms));
}

TEST_F(VideoCapTest, AllDriversRefusingTriesTenAndKeepsTheEarlierName) {
    UseFakes(12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    DriverName = "Earlier camera";
    EXPECT_TRUE(ConnectCamera());
    EXPECT_EQ(Log.Opened.size(), 10u);
    // Only indices 0 to 9 exist for the service: index 10 has no description.
    EXPECT_EQ(DriverName, "Earlier camera");
    EXPECT_FALSE(Window()->DriverConnected());
    DriverName = "No Driver Found";
}

TEST_F(VideoCapTest, GrabPutsTheFrameOnTheClipboard) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    GrabFrameToClipboard();
    TBitmap frame;
    TakeClipboardBitmap(frame);
    ASSERT_EQ(frame.Width(), 8);
    EXPECT_EQ(frame.Pixel(7, 5), TColor{0x0000FF});
}

TEST_F(VideoCapTest, OtherStatusesOnlyChangeTheLabel) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    int stops = 0;
    SetStopCallback([&](QObject*) { ++stops; });
    StartCapture();
    EXPECT_EQ(CaptureStatusCallback(CaptureWindow, 502, "45 frames"), 1);
    EXPECT_EQ(Label->text(), "45 frames");
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(Log.RecordingStops, 0);
}

TEST_F(VideoCapTest, FrameCountAtTheLimitAbortsAndNotifies) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    int stops = 0;
    QObject* sender = Panel.get();
    SetStopCallback([&](QObject* s) {
        ++stops;
        sender = s;
    });
    SetFrameLimit(45);
    StartCapture();
    EXPECT_EQ(CaptureStatusCallback(CaptureWindow, 510, "44 frames (0 dropped) 2.900 sec."), 1);
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(Log.RecordingStops, 0);
    EXPECT_EQ(CaptureStatusCallback(CaptureWindow, 510, "45 frames (0 dropped) 3.000 sec."), 1);
    // The report of the capture's end follows the count on the label: a stop at the
    // limit, not an abort.
    EXPECT_EQ(Label->text(), "0 frames captured");
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(Log.RecordingStops, 1);
}

TEST_F(VideoCapTest, FrameCountsAgainstTheInitialLimitAndOddTexts) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    int stops = 0;
    SetStopCallback([&](QObject*) { ++stops; });
    // Limit 0: any count of 0 or more aborts, a negative one never does.
    CaptureStatusCallback(CaptureWindow, 510, "0 frames");
    EXPECT_EQ(stops, 1);
    CaptureStatusCallback(CaptureWindow, 510, "-3 frames");
    EXPECT_EQ(stops, 1);
    // Texts without a leading count are shown and otherwise ignored.
    for (const char* text :
         {"", " 5 frames", "abc def", "12abc frames", "99999999999 frames", "+"}) {
        EXPECT_EQ(CaptureStatusCallback(CaptureWindow, 510, text), 1) << text;
        EXPECT_EQ(Label->text(), QString::fromLatin1(text));
    }
    EXPECT_EQ(CaptureStatusCallback(CaptureWindow, 510, nullptr), 1);
    EXPECT_EQ(stops, 1);
    // A text that is only the count: the whole text is the count.
    CaptureStatusCallback(CaptureWindow, 510, "7");
    EXPECT_EQ(stops, 2);
}

TEST_F(VideoCapTest, FrameCountWithAnExplicitPlusSignCounts) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    int stops = 0;
    SetStopCallback([&](QObject*) { ++stops; });
    SetFrameLimit(45);
    CaptureStatusCallback(CaptureWindow, 510, "+44 frames");
    EXPECT_EQ(stops, 0);
    CaptureStatusCallback(CaptureWindow, 510, "+-45 frames");
    EXPECT_EQ(stops, 0);
    CaptureStatusCallback(CaptureWindow, 510, "+45 frames");
    EXPECT_EQ(stops, 1);
}

TEST_F(VideoCapTest, StatusTextIsShownAsItStandsNotAsMarkup) {
    const char* text = "<b>USB camera</b> lost &amp; found";
    CaptureStatusCallback(nullptr, 522, text);
    QLabel plain;
    plain.setTextFormat(Qt::PlainText);
    plain.setText(QString::fromLatin1(text));
    for (QLabel* label : {Label.get(), &plain}) {
        label->resize(400, 30);
    }
    EXPECT_EQ(Label->grab().toImage(), plain.grab().toImage());
}

TEST_F(VideoCapTest, StopNotificationMayDisconnectFromInsideTheServicesReport) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    SetStopCallback([](QObject*) { DisconnectCamera(); });
    Log.PendingStatus = {{510, "50 frames (0 dropped) 3.300 sec."}, {503, "after"}};
    EXPECT_TRUE(RunEventsUntil([] { return CaptureWindow == nullptr; }, 2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Panel->findChildren<TCaptureWindow*>().isEmpty());
    EXPECT_EQ(Label->text(), "50 frames (0 dropped) 3.300 sec.");
}

TEST_F(VideoCapTest, PanelGoneBeforeDisconnectIsHarmless) {
    UseFakes(1);
    ASSERT_TRUE(ConnectCamera());
    Panel.reset();
    EXPECT_FALSE(IsCaptureWindow(CaptureWindow));
    GrabFrameToClipboard();
    DisconnectCamera();
    EXPECT_EQ(CaptureWindow, nullptr);
}

TEST_F(VideoCapTest, StatusAfterTheLabelIsGoneIsStillAnswered) {
    Label.reset();
    EXPECT_EQ(CaptureStatusCallback(nullptr, 500, "text"), 1);
}

} // namespace
