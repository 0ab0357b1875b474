// The capture layer over the real service: GStreamer pipelines of the test
// scene, of launch descriptions and of a video file, the real clipboard.

#include "CaptureFixture.h"
#include "capture/Clipboard.h"
#include "capture/FrameConversion.h"
#include "tests/PaintCounter.h"
#include "tests/TestGuards.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace {

bool SameBitmaps(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * 3)) {
            return false;
        }
    }
    return true;
}

// Runs a launch description to its end; false on a stream error.
bool RunPipeline(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
        g_error_free(error);
        if (pipeline) {
            gst_object_unref(pipeline);
        }
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* end = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = end && GST_MESSAGE_TYPE(end) == GST_MESSAGE_EOS;
    if (end) {
        gst_message_unref(end);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

class CaptureServiceTest : public TCaptureFixture {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        TCaptureFixture::SetUp();
    }

    // What the screen holds at the centre of the capture window is red (the
    // offscreen platform keeps what was painted).
    static bool ShowsRed() {
        QWidget* top = Window()->window();
        const QPoint at = Window()->mapTo(top, Window()->rect().center());
        const QRgb colour =
            top->screen()->grabWindow(top->winId(), at.x(), at.y(), 1, 1).toImage().pixel(0, 0);
        return qRed(colour) > 0xE0 && qGreen(colour) < 0x20 && qBlue(colour) < 0x20;
    }
};

TEST_F(CaptureServiceTest, TestSceneGrabsMovingFramesAtTheNegotiatedSize) {
    UseSource("test");
    ASSERT_TRUE(ConnectCamera());
    EXPECT_EQ(DriverName, "Stirwatch test scene");
    EXPECT_EQ(Label->text(), "Connecting to Stirwatch test scene");
    EXPECT_TRUE(WaitForStatus("Connected to Stirwatch test scene"));
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(Window()->DriverConnected());
    EXPECT_EQ(Window()->parentWidget(), Panel.get());
    EXPECT_EQ(Window()->size(), QSize(320, 240));

    ASSERT_TRUE(RunEventsUntil([] { return Window()->Driver()->NewestFrameNumber() > 0; }, 30000));
    const TBitmap first = Grab();
    ASSERT_EQ(first.Width(), 640);
    ASSERT_EQ(first.Height(), 480);
    EXPECT_EQ(first.PixelFormat(), pf24bit);
    // A grab on a late live source (a loaded machine, sanitizers) hands out its
    // newest frame again: grab until the scene has moved.
    TBitmap second = Grab();
    (void)RunEventsUntil(
        [&] {
            second = Grab();
            return !SameBitmaps(first, second);
        },
        30000);
    ASSERT_EQ(second.Width(), 640);
    EXPECT_FALSE(SameBitmaps(first, second)) << "the ball moves between grabs";
}

TEST_F(CaptureServiceTest, OddWidthFramesKeepTheirChannelOrderAndEveryColumn) {
    // Red in a 321-pixel row: the pipeline pads rows to 964 bytes.
    UseSource("videotestsrc is-live=true pattern=solid-color foreground-color=0xffff0000 ! "
              "video/x-raw,format=BGRx,width=321,height=241");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    const TBitmap frame = Grab();
    ASSERT_EQ(frame.Width(), 321);
    ASSERT_EQ(frame.Height(), 241);
    for (int y : {0, 120, 240}) {
        for (int x : {0, 160, 320}) {
            EXPECT_EQ(frame.Pixel(x, y), TColor{0x0000FF}) << x << "," << y;
        }
    }
    const std::uint8_t* last = frame.ScanLine(240) + 320 * 3;
    EXPECT_EQ(last[0], 0);   // blue
    EXPECT_EQ(last[1], 0);   // green
    EXPECT_EQ(last[2], 255); // red
}

TEST_F(CaptureServiceTest, GrabFreezesTheDisplayUntilPreviewResumes) {
    UseSource("test");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    StartOverlay();
    EXPECT_TRUE(Window()->Overlaying());
    EXPECT_TRUE(Window()->Scaling());
    ASSERT_TRUE(RunEventsUntil([] { return Window()->DisplayedFrames() > 2; }, 30000));

    GrabFrameToClipboard();
    EXPECT_TRUE(Window()->DisplayFrozen());
    const auto frozenAt = Window()->DisplayedFrames();
    RunEventsFor(300);
    EXPECT_EQ(Window()->DisplayedFrames(), frozenAt);

    ResumePreview();
    EXPECT_FALSE(Window()->DisplayFrozen());
    EXPECT_FALSE(Window()->Overlaying());
    EXPECT_TRUE(Window()->Previewing());
    EXPECT_EQ(Window()->PreviewRate(), 40);
    EXPECT_TRUE(RunEventsUntil([&] { return Window()->DisplayedFrames() > frozenAt + 2; }, 30000));
}

// Steps that grab and resume the display faster than its preview interval:
// the screen still follows the source to its newest frame (here, the switch
// to a red picture), both while the steps go on and after they stop.
TEST_F(CaptureServiceTest, FastStepsLeaveTheDisplayOnTheNewestFrame) {
    UseSource("test");
    Panel->show();
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    StartOverlay();
    ResumePreview();
    ASSERT_FALSE(ShowsRed());
    OnNextDialog([](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>("PatternBox");
        box->setCurrentIndex(box->findText("red"));
        dialog->reject();
    });
    ShowSourceDialog();
    QElapsedTimer clock;
    clock.start();
    bool red = false;
    while (!red && clock.elapsed() < 10000) {
        GrabFrameToClipboard();
        ResumePreview();
        RunEventsFor(15);
        red = ShowsRed();
    }
    EXPECT_TRUE(red) << "the screen did not follow the source during the steps";
    // After the steps the display goes on at its own beat.
    const auto shownAfter = Window()->DisplayedFrames();
    EXPECT_TRUE(RunEventsUntil([&] { return Window()->DisplayedFrames() > shownAfter + 2; }, 3000));
    EXPECT_TRUE(ShowsRed());
}

// A grab of a frame the display has not shown yet puts that frame on the
// screen, and the display stays on it until it is resumed.
TEST_F(CaptureServiceTest, AGrabShowsItsFrameWhileTheDisplayIsFrozen) {
    UseSource("test");
    Panel->show();
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    StartOverlay();
    GrabFrameToClipboard();
    ASSERT_TRUE(Window()->DisplayFrozen());
    OnNextDialog([](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>("PatternBox");
        box->setCurrentIndex(box->findText("red"));
        dialog->reject();
    });
    ShowSourceDialog();
    RunEventsFor(300);
    EXPECT_FALSE(ShowsRed()) << "the frozen display followed the source";
    GrabFrameToClipboard();
    EXPECT_TRUE(Window()->DisplayFrozen());
    EXPECT_TRUE(RunEventsUntil(ShowsRed, 10000));
    EXPECT_TRUE(Window()->DisplayFrozen());
}

// Resuming the display, as every frame step does, samples and paints the
// live picture only when a newer frame than the one on the screen has come.
TEST_F(CaptureServiceTest, ResumingWithTheNewestFrameShownPaintsNothing) {
    UseSource("videotestsrc is-live=true pattern=ball ! video/x-raw,width=160,height=120,"
              "framerate=2/1");
    Panel->show();
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    ResumePreview();
    ASSERT_TRUE(RunEventsUntil([] { return Window()->DisplayedFrames() > 1; }, 30000));
    RunEventsFor(50); // the newest frame's picture comes from the sampler's thread
    PaintCounter paints;
    Window()->installEventFilter(&paints);
    const auto shown = Window()->DisplayedFrames();
    for (int i = 0; i < 20; ++i) {
        ResumePreview();
        RunEventsFor(10);
    }
    Window()->removeEventFilter(&paints);
    // A frame every 500 ms: the 200 ms above see at most one new one.
    EXPECT_LE(paints.Paints, static_cast<int>(Window()->DisplayedFrames() - shown));
}

TEST_F(CaptureServiceTest, DisconnectTwiceIsHarmlessAndLeavesTheClipboardAlone) {
    UseSource("test");
    ASSERT_TRUE(ConnectCamera());
    const HWND window = CaptureWindow;
    DisconnectCamera();
    EXPECT_EQ(CaptureWindow, nullptr);
    EXPECT_FALSE(IsCaptureWindow(window));
    EXPECT_TRUE(Panel->findChildren<TCaptureWindow*>().isEmpty());
    DisconnectCamera();

    QImage marker(7, 5, QImage::Format_RGB32);
    marker.fill(Qt::green);
    QGuiApplication::clipboard()->setImage(marker);
    GrabFrameToClipboard();
    ResumePreview();
    SetOverlayMode();
    SetPreviewMode();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(7, 5));
}

// The clipboard holds the frame of its grab as it was decoded and makes the
// picture when it is read: grabs taken meanwhile must not write over that
// frame, and it stays readable once the source is gone.
TEST_F(CaptureServiceTest, TheClipboardsGrabSurvivesLaterGrabsAndTheSourcesEnd) {
    UseSource("videotestsrc is-live=true pattern=ball ! "
              "video/x-raw,format=I420,width=160,height=120,framerate=30/1");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    GrabFrameToClipboard();
    QImage expected;
    {
        const std::shared_ptr<const TFrameCopy> grab = Window()->GrabbedCopy();
        ASSERT_TRUE(grab);
        ASSERT_EQ(grab->View().Format, TFrameFormat::I420) << "kept as decoded";
        FrameToBgrImage(grab->View(), expected);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(capGrabFrame(CaptureWindow)); // not put on the clipboard
    }
    ASSERT_NE(Window()->GrabbedFrame(), expected) << "the ball moved";
    EXPECT_EQ(QGuiApplication::clipboard()->image(), expected);
    DisconnectCamera();
    EXPECT_EQ(QGuiApplication::clipboard()->image(), expected);
}

TEST_F(CaptureServiceTest, ConnectingAgainClosesTheEarlierWindow) {
    UseSource("test");
    ASSERT_TRUE(ConnectCamera());
    const QPointer<TCaptureWindow> first = Window();
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(IsCaptureWindow(CaptureWindow));
    EXPECT_EQ(Panel->findChildren<TCaptureWindow*>().size(), 1);
    EXPECT_EQ(Grab().Width(), 640);
}

TEST_F(CaptureServiceTest, VideoFileIsPlayedInALoop) {
    QTemporaryDir folder;
    const QString path = folder.filePath("clip.avi");
    ASSERT_TRUE(RunPipeline("videotestsrc num-buffers=10 pattern=ball ! "
                            "video/x-raw,width=320,height=240,framerate=30/1 ! jpegenc ! avimux ! "
                            "filesink location=" +
                            path.toStdString()));
    UseSource(path);
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    EXPECT_EQ(DriverName, "Video file clip.avi");
    // The file has ten frames: thirty need the loop. Every grab meanwhile
    // is a whole frame, also across the loop's seams.
    int grabs = 0;
    bool whole = true;
    EXPECT_TRUE(RunEventsUntil(
        [&] {
            const TBitmap frame = Grab();
            whole = whole && frame.Width() == 320 && frame.Height() == 240;
            ++grabs;
            return !whole || Window()->Driver()->NewestFrameNumber() > 30;
        },
        60000))
        << Window()->Driver()->NewestFrameNumber() << " frames";
    EXPECT_TRUE(whole) << "grab " << grabs;
    EXPECT_GT(grabs, 1);
}

TEST_F(CaptureServiceTest, FormatChangeBetweenTwoGrabsChangesTheFrameSize) {
    UseSource("test");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    EXPECT_EQ(Grab().Width(), 640);
    OnNextDialog([](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>("FormatBox");
        box->setCurrentIndex(box->findText("320 x 240, 30 fps"));
        dialog->accept();
    });
    ShowFormatDialog();
    EXPECT_TRUE(WaitForStatus("Video format: 320 x 240, 30 fps"));
    const TBitmap frame = Grab();
    EXPECT_EQ(frame.Width(), 320);
    EXPECT_EQ(frame.Height(), 240);
}

TEST_F(CaptureServiceTest, SourceDialogSwitchesTheTestPattern) {
    UseSource("test");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    OnNextDialog([](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>("PatternBox");
        ASSERT_NE(box, nullptr);
        box->setCurrentIndex(box->findText("red"));
        dialog->reject();
    });
    ShowSourceDialog();
    // Frames already on their way show the old pattern. The scene's faint
    // noise layer shifts the red by a few levels.
    auto red = [](TColor colour) {
        return (colour & 0xFF) > 0xE0 && ((colour >> 8) & 0xFF) < 0x20 &&
               ((colour >> 16) & 0xFF) < 0x20;
    };
    TColor colour = 0;
    bool empty = false;
    (void)RunEventsUntil(
        [&] {
            const TBitmap frame = Grab();
            empty = frame.Empty();
            colour = empty ? colour : frame.Pixel(10, 10);
            return empty || red(colour);
        },
        30000);
    EXPECT_FALSE(empty);
    EXPECT_TRUE(red(colour)) << std::hex << colour;
}

TEST_F(CaptureServiceTest, DisplayDialogTurnsScalingOff) {
    UseSource("test");
    ASSERT_TRUE(ConnectCamera());
    StartOverlay();
    OnNextDialog([](QDialog* dialog) {
        dialog->findChild<QCheckBox*>("ScaleCheck")->setChecked(false);
        dialog->accept();
    });
    ShowDisplayDialog();
    EXPECT_FALSE(Window()->Scaling());
}

TEST_F(CaptureServiceTest, EndedStreamIsReportedAndLaterGrabsLeaveNoFrame) {
    UseSource("videotestsrc num-buffers=3 ! video/x-raw,width=64,height=48,framerate=30/1");
    ASSERT_TRUE(ConnectCamera());
    EXPECT_TRUE(WaitForStatus("End of stream"));
    EXPECT_EQ(Grab().Width(), 64) << "the last frame is still new to the first grab";
    GrabFrameToClipboard();
    EXPECT_FALSE(ClipboardOffersBitmap());
    TBitmap frame;
    TakeClipboardBitmap(frame);
    EXPECT_TRUE(frame.Empty());
    EXPECT_TRUE(IsCaptureWindow(CaptureWindow));
}

TEST_F(CaptureServiceTest, StreamingCaptureStopsAtTheFrameLimitWithAPlayableFile) {
    QTemporaryDir folder;
    const TScopedCurrentFolder inFolder(folder.path().toStdString());
    UseSource("test");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    SetFrameLimit(10);
    int stops = 0;
    QObject* sender = reinterpret_cast<QObject*>(1);
    SetStopCallback([&](QObject* s) {
        ++stops;
        sender = s;
    });
    StartCapture();
    EXPECT_TRUE(RunEventsUntil([&] { return stops > 0; }, 60000));
    RunEventsFor(300);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(sender, nullptr);
    EXPECT_TRUE(Label->text().endsWith("frames captured")) << Label->text().toStdString();
    const QString file = folder.filePath("video.avi");
    EXPECT_TRUE(QFileInfo(file).size() > 1000);
    EXPECT_TRUE(
        RunPipeline("filesrc location=" + file.toStdString() + " ! avidemux ! jpegdec ! fakesink"));
}

TEST_F(CaptureServiceTest, EscapeAbortsAStreamingCapture) {
    QTemporaryDir folder;
    const TScopedCurrentFolder inFolder(folder.path().toStdString());
    UseSource("test");
    ASSERT_TRUE(ConnectAndWaitForAFrame());
    SetFrameLimit(100000);
    StartCapture();
    ASSERT_TRUE(Window()->Driver()->Recording());
    // Some frames are in the file before it is aborted.
    EXPECT_TRUE(RunEventsUntil([] { return Window()->Driver()->RecordedFrames() > 3; }, 30000));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(Panel.get(), &escape);
    EXPECT_FALSE(Window()->Driver()->Recording());
    EXPECT_TRUE(Label->text().endsWith("(aborted)")) << Label->text().toStdString();
    EXPECT_TRUE(RunPipeline("filesrc location=" + folder.filePath("video.avi").toStdString() +
                            " ! avidemux ! jpegdec ! fakesink"));
}

// The description is read on the source's worker, so the window has a driver
// whose source failed, and says why.
TEST_F(CaptureServiceTest, DescriptionsThatCannotBeBuiltFailAndSayWhy) {
    const struct {
        QString Source;
        QString Status;
    } cases[] = {
        {"nosuchelement ! alsonothing",
         "Error in the pipeline description: no element \"nosuchelement\""},
        {"videotestsrc ! audio/x-raw", "Error in the pipeline description: "},
    };
    for (const auto& test : cases) {
        UseSource(test.Source);
        EXPECT_TRUE(ConnectCamera()) << test.Source.toStdString();
        ASSERT_TRUE(IsCaptureWindow(CaptureWindow));
        EXPECT_TRUE(WaitForStatusStartingWith(test.Status)) << Label->text().toStdString();
        ASSERT_TRUE(Window()->DriverConnected()) << test.Source.toStdString();
        EXPECT_EQ(Window()->Driver()->Signal().State, TSourceState::Failed);
        EXPECT_TRUE(Window()->NoSignalReason().startsWith(test.Status));
        EXPECT_TRUE(Grab().Empty());
    }
}

// Counts the frames it sees and remembers the caps of the last one.
class TCountingTap final : public TFrameTap {
public:
    void OnSourceFrame(GstSample* sample) override {
        GstCaps* caps = gst_sample_get_caps(sample);
        const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        int width = 0;
        if (s) {
            gst_structure_get_int(s, "width", &width);
        }
        Width = width;
        ++Frames;
    }
    void OnSourceGone() override { ++Gone; }
    std::atomic<int> Frames{0};
    std::atomic<int> Width{0};
    int Gone = 0;
};

TEST_F(CaptureServiceTest, FrameTapSeesEveryFrameAcrossReconnectionsUntilRemoved) {
    UseSource("test");
    ASSERT_TRUE(ConnectCamera());
    TCountingTap tap;
    capSetFrameTap(CaptureWindow, &tap);
    // The pipeline is built on the capture's worker after the connect returns,
    // which under the sanitizers' full unwinder takes seconds.
    EXPECT_TRUE(RunEventsUntil([&] { return tap.Frames > 3; }, 30000));
    EXPECT_EQ(tap.Width, 640);
    // A driver change on the same window keeps the tap.
    ASSERT_TRUE(capDriverDisconnect(CaptureWindow));
    EXPECT_EQ(tap.Gone, 1);
    ASSERT_TRUE(capDriverConnect(CaptureWindow, 0));
    const int before = tap.Frames;
    EXPECT_TRUE(RunEventsUntil([&] { return tap.Frames > before + 3; }, 30000));
    capSetFrameTap(CaptureWindow, nullptr);
    const int removedAt = tap.Frames;
    RunEventsFor(200);
    EXPECT_EQ(tap.Frames, removedAt);
}

} // namespace
