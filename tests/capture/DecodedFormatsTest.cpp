// Frames reach the grab, the display and the frame step in the format the
// decoder made them (I420, NV12, BGR, gray), through the real pipeline: the
// grab's colours are the exact YUV conversion of the decoded planes, the
// display shows those colours, and the step's gray frame of the grab is the
// engine's gray frame of the decoded frame itself. Odd sizes and a size
// changed mid-stream are read within their planes (checked under
// AddressSanitizer too).

#include "EventLoop.h"
#include "capture/FrameConversion.h"
#include "capture/GstDriver.h"
#include "capture/PictureSampler.h"
#include "engine/MotionEngine.h"
#include "engine/YuvConversion.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

struct TFormatCase {
    const char* Caps; // the format videotestsrc makes
    TFrameFormat Format;
};

// The colour of one pixel, read from the decoded planes by hand.
void ExactColour(const TFrameView& view, int x, int y, std::uint8_t bgr[3]) {
    const std::uint8_t* luma = view.Plane[0] + std::ptrdiff_t(y) * view.Stride[0];
    switch (view.Format) {
    case TFrameFormat::Bgr24:
        std::copy_n(luma + 3 * x, 3, bgr);
        return;
    case TFrameFormat::Gray8:
        bgr[0] = bgr[1] = bgr[2] = luma[x];
        return;
    case TFrameFormat::I420:
        YuvToBgr(luma[x], view.Plane[1][(y / 2) * view.Stride[1] + x / 2],
                 view.Plane[2][(y / 2) * view.Stride[2] + x / 2], view.Colors, bgr);
        return;
    case TFrameFormat::Nv12: {
        const std::uint8_t* pair = view.Plane[1] + (y / 2) * view.Stride[1] + 2 * (x / 2);
        YuvToBgr(luma[x], pair[0], pair[1], view.Colors, bgr);
        return;
    }
    }
}

class DecodedFormatsTest : public ::testing::TestWithParam<TFormatCase> {
protected:
    // A still picture (colour bars), so that every frame is the same.
    std::unique_ptr<TGstDriver> Start(int width, int height) {
        TSource source;
        source.Kind = TSourceKind::Launch;
        source.Name = "bars";
        source.Location = std::string("videotestsrc is-live=true pattern=smpte ! video/x-raw,") +
                          GetParam().Caps + ",width=" + std::to_string(width) +
                          ",height=" + std::to_string(height) + ",framerate=30/1";
        auto driver = std::make_unique<TGstDriver>(source);
        EXPECT_TRUE(driver->Start());
        return driver;
    }

    // Waits for a frame of the given size and checks it as described above.
    static void ExpectFrame(TGstDriver& driver, int width, int height) {
        TFrameView shape;
        ASSERT_TRUE(RunEventsUntil(
            [&] {
                driver.WithNewestView([&](const TFrameView& view) { shape = view; });
                return shape.Width == width && shape.Height == height;
            },
            20000))
            << "no frame of " << width << " x " << height;
        QImage grab;
        ASSERT_NE(driver.CopyNewestFrame(grab), 0u);
        ASSERT_EQ(grab.size(), QSize(width, height));
        ASSERT_EQ(grab.format(), QImage::Format_BGR888);
        driver.WithNewestView([&](const TFrameView& view) {
            EXPECT_EQ(view.Format, GetParam().Format) << "the frame was converted on its way";
            QImage shown;
            TScreenSampling rowBuffer;
            SampleFrameForScreen(view, QRect(0, 0, width, height), QSize(width, height), shown,
                                 rowBuffer);
            int wrong = 0;
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    std::uint8_t bgr[3];
                    ExactColour(view, x, y, bgr);
                    const uchar* grabbed = grab.constScanLine(y) + 3 * x;
                    wrong += !std::equal(bgr, bgr + 3, grabbed);
                    wrong += shown.pixel(x, y) != qRgb(bgr[2], bgr[1], bgr[0]);
                }
            }
            EXPECT_EQ(wrong, 0);
            // At its own size, scaled down and up from a part away from the origin:
            // each pixel shown is the frame's pixel at the centre of its cell.
            const QRect part(1, 2, width - 3, height - 2);
            for (const QSize size :
                 {part.size(), QSize(5, 4), QSize(2 * width + 1, height + 3),
                  QSize(2 * width / 3, height - 3), QSize(part.width() / 2, part.height() / 2)}) {
                SampleFrameForScreen(view, part, size, shown, rowBuffer);
                for (int y = 0; y < size.height(); ++y) {
                    const int row = part.top() + (2 * y + 1) * part.height() / (2 * size.height());
                    for (int x = 0; x < size.width(); ++x) {
                        const int column =
                            part.left() + (2 * x + 1) * part.width() / (2 * size.width());
                        std::uint8_t bgr[3];
                        ExactColour(view, column, row, bgr);
                        wrong += shown.pixel(x, y) != qRgb(bgr[2], bgr[1], bgr[0]);
                    }
                }
            }
            EXPECT_EQ(wrong, 0) << "a scaled picture took the wrong pixels";
            TMotionEngine engine;
            engine.TakeReference(view);
            TEngineOptions exact;
            exact.PixelTolerance = 0;
            const TStepResult step = engine.Step(BgrImageView(grab), exact);
            EXPECT_TRUE(step.Compared);
            EXPECT_EQ(step.ChangedPixels, 0) << "the grab's gray differs from the frame's";
        });
    }
};

TEST_P(DecodedFormatsTest, TheDecodersFormatIsReadExactlyAtOddAndChangedSizes) {
    const auto driver = Start(37, 19);
    ExpectFrame(*driver, 37, 19);
    // The pipeline's own scaling brings a new size mid-stream, odd again.
    ASSERT_TRUE(driver->SetFormat({21, 11, 0, {}}));
    ExpectFrame(*driver, 21, 11);
    driver->Stop();
}

// The display's sampler thread paints what the window would sample itself:
// the same pixels at the same place, scaled and centred or cut to the window;
// a picture for another layout, or one forgotten with its source, is none.
TEST_P(DecodedFormatsTest, TheSamplerThreadGivesTheWindowsOwnPicture) {
    const auto driver = Start(37, 19);
    ExpectFrame(*driver, 37, 19);
    std::atomic<int> finished{0};
    TPictureSampler sampler([&finished] { ++finished; });
    for (const TPictureLayout layout :
         {TPictureLayout{QSize(50, 31), true, true}, TPictureLayout{QSize(20, 10), false, true}}) {
        const int before = finished;
        sampler.Request(driver.get(), layout);
        ASSERT_TRUE(RunEventsUntil([&] { return finished > before; }, 20000));
        const TPictureSampler::TPicture* picture = sampler.Finished(layout);
        ASSERT_NE(picture, nullptr);
        QImage expected;
        TPicturePlace place;
        driver->WithNewestView([&](const TFrameView& view) {
            place = PlacePicture(QSize(view.Width, view.Height), layout);
            TScreenSampling work;
            SampleFrameForScreen(view, place.Part, place.Size, expected, work);
        });
        EXPECT_EQ(picture->Origin, place.Origin);
        EXPECT_EQ(picture->Image, expected) << "a still picture sampled twice differs";
        TPictureLayout other = layout;
        other.Window += QSize(1, 0);
        EXPECT_EQ(sampler.Finished(other), nullptr);
    }
    sampler.Forget();
    EXPECT_EQ(sampler.Finished({QSize(20, 10), false, true}), nullptr);
    driver->Stop();
}

// The picture the GUI thread paints is never the one the sampler writes: it
// stays as it was while newer pictures are sampled, until the next is taken.
TEST(PictureSamplerTest, ThePaintedPictureStaysWhileNewerOnesAreSampled) {
    TSource source;
    source.Kind = TSourceKind::Launch;
    source.Name = "ball";
    source.Location = "videotestsrc is-live=true pattern=ball ! "
                      "video/x-raw,format=I420,width=64,height=48,framerate=30/1";
    TGstDriver driver(source);
    ASSERT_TRUE(driver.Start());
    std::atomic<int> finished{0};
    TPictureSampler sampler([&finished] { ++finished; });
    const TPictureLayout layout{QSize(64, 48), false, true};
    const auto sampleANewerFrame = [&] {
        const std::uint64_t shown = driver.NewestFrameNumber();
        const int before = finished;
        return RunEventsUntil([&] { return driver.NewestFrameNumber() > shown; }, 20000) &&
               (sampler.Request(&driver, layout),
                RunEventsUntil([&] { return finished > before; }, 20000));
    };
    ASSERT_TRUE(sampleANewerFrame());
    const TPictureSampler::TPicture* painted = sampler.Finished(layout);
    ASSERT_NE(painted, nullptr);
    const QImage before = painted->Image.copy();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sampleANewerFrame());
    }
    EXPECT_EQ(painted->Image, before) << "written while it was painted";
    const TPictureSampler::TPicture* newest = sampler.Finished(layout);
    ASSERT_NE(newest, nullptr);
    EXPECT_NE(newest->Image, before) << "the ball moved";
    sampler.Forget();
    driver.Stop();
}

INSTANTIATE_TEST_SUITE_P(Formats, DecodedFormatsTest,
                         ::testing::Values(TFormatCase{"format=I420", TFrameFormat::I420},
                                           TFormatCase{"format=NV12", TFrameFormat::Nv12},
                                           TFormatCase{"format=BGR", TFrameFormat::Bgr24},
                                           TFormatCase{"format=GRAY8", TFrameFormat::Gray8}),
                         [](const auto& info) { return std::string(info.param.Caps).substr(7); });

} // namespace
