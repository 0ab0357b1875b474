#include "WindowTestSupport.h"

#include "analysis/TBitmap.h"
#include "tests/PaintCounter.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"
#include "windows/VideoFormUnit.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <memory>

namespace {

const QRgb Red = qRgb(255, 0, 0);
const QRgb White = qRgb(255, 255, 255);
const QRgb Black = qRgb(0, 0, 0);

QPoint AsQPoint(TPoint point) {
    return {point.X, point.Y};
}

QRgb PixelOf(const QImage& image, int x, int y) {
    return image.pixel(x, y) | 0xFF000000u;
}

int CountPixels(const QImage& image, QRgb color) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += PixelOf(image, x, y) == color;
        }
    }
    return count;
}

QImage ShownClientArea(BaseForm& form) {
    form.show();
    QApplication::processEvents();
    return form.grab().toImage();
}

// What the window's backing store holds after a repaint: the pixels that
// went to the screen (a grab paints the widgets anew instead).
QImage OnScreen(BaseForm& form) {
    return form.screen()->grabWindow(form.winId()).toImage();
}

// Pixel (x, y) of the bitmap has red x % 256, green y % 256 and blue 7.
TBitmap CoordinateBitmap(int width, int height) {
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.Canvas().SetPixel(x, y, 0x070000u | (y % 256) << 8 | (x % 256));
        }
    }
    return bitmap;
}

} // namespace

using AuxiliaryWindowTest = WindowTest;

TEST_F(AuxiliaryWindowTest, WindowsHaveTheirDesignedCaptionsFramesAndPlaces) {
    auto video = BaseForm::MakeForm<TVideoForm>();
    auto image = BaseForm::MakeForm<TImageForm>();
    auto direction = BaseForm::MakeForm<TDirectionForm>();

    EXPECT_EQ(video->windowTitle(), "Live Video");
    EXPECT_EQ(video->ComponentName(), "VideoForm");
    EXPECT_EQ(video->geometry(), QRect(5, 200, 320, 240));
    EXPECT_EQ(video->minimumSize(), video->maximumSize()) << "fixed dialog frame";
    EXPECT_EQ(video->VideoArea->objectName(), "VideoArea");

    EXPECT_EQ(image->windowTitle(), "Differential image");
    EXPECT_EQ(image->ComponentName(), "ImageForm");
    EXPECT_EQ(image->geometry(), QRect(334, 201, 320, 240));
    EXPECT_EQ(image->minimumSize(), image->maximumSize());
    EXPECT_TRUE(image->Image->Picture().isNull()) << "empty at start";

    EXPECT_EQ(direction->windowTitle(), "DirectionForm");
    EXPECT_EQ(direction->ComponentName(), "DirectionForm");
    EXPECT_EQ(direction->geometry(), QRect(526, 4, 116, 109));
    EXPECT_NE(direction->minimumSize(), direction->maximumSize()) << "resizable";
}

TEST_F(AuxiliaryWindowTest, ClientAreasShowTheirBackgrounds) {
    auto video = BaseForm::MakeForm<TVideoForm>();
    const QImage videoArea = ShownClientArea(*video);
    EXPECT_EQ(video->VideoArea->size(), QSize(320, 240));
    EXPECT_EQ(PixelOf(videoArea, 0, 0), Black);
    EXPECT_EQ(PixelOf(videoArea, 319, 239), Black);

    auto direction = BaseForm::MakeForm<TDirectionForm>();
    const QImage directionArea = ShownClientArea(*direction);
    EXPECT_EQ(PixelOf(directionArea, 0, 0), White);
    EXPECT_EQ(CountPixels(directionArea, White), 116 * 109);
}

TEST_F(AuxiliaryWindowTest, PlacementOfEachWindowSurvivesInItsOwnSection) {
    auto video = BaseForm::MakeForm<TVideoForm>();
    video->LoadSettings("Stirwatch");
    video->move(40, 60);
    video.reset();

    auto again = BaseForm::MakeForm<TVideoForm>();
    again->LoadSettings("Stirwatch");
    EXPECT_EQ(again->SettingsSection, "Stirwatch\\VideoForm");
    EXPECT_EQ(again->OuterPlacement(), QRect(40, 60, 320, 240));
    EXPECT_EQ(BaseForm::MakeForm<TImageForm>()->OuterPlacement().topLeft(), QPoint(334, 201));
}

TEST_F(AuxiliaryWindowTest, GlobalPointerIsClearedWhenTheWindowGoes) {
    VideoForm = BaseForm::MakeForm<TVideoForm>().release();
    auto owner = std::make_unique<QWidget>();
    VideoForm->setParent(owner.get(), VideoForm->windowFlags());
    owner.reset();
    EXPECT_EQ(VideoForm, nullptr);
}

TEST_F(AuxiliaryWindowTest, SmallDifferenceImageIsCentredOnBlack) {
    auto form = BaseForm::MakeForm<TImageForm>();
    form->Image->SetPicture(CoordinateBitmap(160, 120));
    const QImage shown = ShownClientArea(*form);
    EXPECT_EQ(PixelOf(shown, 79, 100), Black);
    EXPECT_EQ(PixelOf(shown, 80, 59), Black);
    EXPECT_EQ(PixelOf(shown, 80, 60), qRgb(0, 0, 7));
    EXPECT_EQ(PixelOf(shown, 239, 179), qRgb(159, 119, 7));
    EXPECT_EQ(PixelOf(shown, 240, 179), Black);
    EXPECT_EQ(PixelOf(shown, 239, 180), Black);
}

TEST_F(AuxiliaryWindowTest, LargeDifferenceImageShowsItsCentralPart) {
    auto form = BaseForm::MakeForm<TImageForm>();
    form->Image->SetPicture(CoordinateBitmap(640, 480));
    const QImage shown = ShownClientArea(*form);
    EXPECT_EQ(PixelOf(shown, 0, 0), qRgb(160, 120, 7));
    EXPECT_EQ(PixelOf(shown, 319, 239), qRgb(479 % 256, 359 % 256, 7));
}

// The frame step hands its difference image over every step: the control
// shows it in place and hands back the storage of the picture before.
TEST_F(AuxiliaryWindowTest, TakenPictureShowsItsCentralPartAndHandsBackTheOldStorage) {
    auto form = BaseForm::MakeForm<TImageForm>();
    TBitmap first = CoordinateBitmap(640, 480);
    const std::uint8_t* firstPixels = first.ScanLine(0);
    form->Image->TakePicture(first);
    EXPECT_TRUE(first.Empty());
    EXPECT_EQ(form->Image->Picture().size(), QSize(640, 480));
    const QImage shown = ShownClientArea(*form);
    EXPECT_EQ(PixelOf(shown, 0, 0), qRgb(160, 120, 7));
    EXPECT_EQ(PixelOf(shown, 319, 239), qRgb(479 % 256, 359 % 256, 7));
    TBitmap second = CoordinateBitmap(160, 120);
    form->Image->TakePicture(second);
    EXPECT_EQ(second.ScanLine(0), firstPixels);
    const QImage small = ShownClientArea(*form);
    EXPECT_EQ(PixelOf(small, 79, 100), Black);
    EXPECT_EQ(PixelOf(small, 80, 60), qRgb(0, 0, 7));
    EXPECT_EQ(PixelOf(small, 239, 179), qRgb(159, 119, 7));
}

// Every pixel of an odd-sized difference image, the last ones of each row too.
TEST_F(AuxiliaryWindowTest, TakenPictureShowsEveryPixelInPlace) {
    auto form = BaseForm::MakeForm<TImageForm>();
    TBitmap picture = CoordinateBitmap(161, 121);
    form->Image->TakePicture(picture);
    const QImage shown = ShownClientArea(*form);
    int wrong = 0;
    for (int y = 0; y < 121; ++y) {
        for (int x = 0; x < 161; ++x) {
            wrong += PixelOf(shown, 79 + x, 59 + y) != qRgb(x, y, 7);
        }
    }
    EXPECT_EQ(wrong, 0);
}

// Each step repaints the window at once: a picture that covers it goes to the
// screen pixel for pixel, and a smaller one after it still shows on black.
TEST_F(AuxiliaryWindowTest, RepaintPutsEveryPixelOfTheTakenPictureOnScreen) {
    auto form = BaseForm::MakeForm<TImageForm>();
    ShownClientArea(*form);
    const auto expectCentre = [&](int width, int height) {
        form->Image->Repaint();
        const QImage screen = OnScreen(*form);
        ASSERT_EQ(screen.size(), QSize(320, 240));
        const int left = (320 - width) / 2;
        const int top = (240 - height) / 2;
        int wrong = 0;
        for (int y = 0; y < 240; ++y) {
            for (int x = 0; x < 320; ++x) {
                const bool inside = x >= left && x < left + width && y >= top && y < top + height;
                const QRgb expected = inside ? qRgb((x - left) % 256, (y - top) % 256, 7) : Black;
                wrong += PixelOf(screen, x, y) != expected;
            }
        }
        EXPECT_EQ(wrong, 0) << width << " x " << height;
    };
    for (const QSize size : {QSize(643, 481), QSize(161, 121), QSize(322, 240), QSize(5, 3)}) {
        TBitmap picture = CoordinateBitmap(size.width(), size.height());
        form->Image->TakePicture(picture);
        expectCentre(size.width(), size.height());
    }
}

TEST_F(AuxiliaryWindowTest, NewPictureOfTheSameSizeReplacesTheOld) {
    auto form = BaseForm::MakeForm<TImageForm>();
    TBitmap gray;
    gray.SetPixelFormat(pf8bit);
    gray.SetSize(2, 1);
    gray.ScanLine(0)[1] = 200;
    form->Image->SetPicture(CoordinateBitmap(2, 1));
    form->Image->SetPicture(gray);
    EXPECT_EQ(PixelOf(form->Image->Picture(), 0, 0), Black);
    EXPECT_EQ(PixelOf(form->Image->Picture(), 1, 0), qRgb(200, 200, 200));
    form->Image->SetPicture(TBitmap());
    EXPECT_TRUE(form->Image->Picture().isNull());
}

class DirectionTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Form = BaseForm::MakeForm<TDirectionForm>();
    }
    bool IsRed(int x, int y) const { return PixelOf(Form->Bitmap(), x, y) == Red; }
    int RedCount() const { return CountPixels(Form->Bitmap(), Red); }

    std::unique_ptr<TDirectionForm> Form;
};

TEST_F(DirectionTest, StartsWhiteWithTheCentreAsLastPoint) {
    EXPECT_EQ(Form->Bitmap().size(), QSize(100, 100));
    EXPECT_EQ(CountPixels(Form->Bitmap(), White), 100 * 100);
    EXPECT_EQ(AsQPoint(Form->LastPoint), QPoint(50, 50));
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(0, 0));
}

TEST_F(DirectionTest, FirstCallAtTheCentreDrawsToTheOriginWithoutItsEndPoint) {
    Form->ShowDirection(50, 50);
    EXPECT_EQ(RedCount(), 50);
    for (int i = 1; i <= 50; ++i) {
        EXPECT_TRUE(IsRed(i, i)) << i;
    }
    EXPECT_FALSE(IsRed(0, 0)) << "the end point is not drawn";
    EXPECT_EQ(AsQPoint(Form->LastPoint), QPoint(50, 50));
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(0, 0));
}

TEST_F(DirectionTest, LineIsClippedAtTheBitmapEdge) {
    Form->ShowDirection(160, 120);
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(-110, -70));
    EXPECT_EQ(RedCount(), 51) << "one pixel per column from 50 down to 0";
    EXPECT_TRUE(IsRed(50, 50));
    // Slope 120 / 160: column 0 is 50 steps out, 37.5 rows up, rounded away
    // from the start; column 11 is 39 steps out, 29.25 rows up.
    EXPECT_TRUE(IsRed(0, 12));
    EXPECT_TRUE(IsRed(11, 21));
}

TEST_F(DirectionTest, SamePointTwiceDrawsToTheOrigin) {
    Form->ShowDirection(30, 20);
    Form->ShowDirection(30, 20);
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(0, 0));
    EXPECT_EQ(RedCount(), 50);
    EXPECT_TRUE(IsRed(1, 1));
}

TEST_F(DirectionTest, NextLinePaintsOverThePreviousOne) {
    Form->ShowDirection(50, 50);
    Form->ShowDirection(40, 45);
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(10, 5));
    EXPECT_EQ(RedCount(), 45) << "one pixel per row from 50 down to 6";
    EXPECT_TRUE(IsRed(50, 50));
    EXPECT_TRUE(IsRed(11, 6));
    EXPECT_FALSE(IsRed(10, 5)) << "the end point is not drawn";
    EXPECT_EQ(PixelOf(Form->Bitmap(), 1, 1), White) << "the previous line is painted over";
    EXPECT_EQ(PixelOf(Form->Bitmap(), 30, 30), White);
}

// The window is painted when its line changes, and only then.
TEST_F(DirectionTest, TheSameLineAgainPaintsNothingAndAnotherLinePaints) {
    Form->show();
    QApplication::processEvents();
    PaintCounter paints;
    Form->Image->installEventFilter(&paints);
    PaintCounter formPaints; // the picture control paints the white around the picture
    Form->installEventFilter(&formPaints);
    Form->ShowDirection(30, 20); // to (20, 30)
    EXPECT_EQ(paints.Paints, 1);
    Form->ShowDirection(30, 20); // to (0, 0)
    Form->ShowDirection(30, 20);
    EXPECT_EQ(paints.Paints, 2);
    EXPECT_EQ(RedCount(), 50);
    Form->ShowDirection(20, 20); // to (10, 0)
    EXPECT_EQ(paints.Paints, 3);
    EXPECT_EQ(formPaints.Paints, 0);
    const QImage screen = OnScreen(*Form);
    EXPECT_EQ(screen.copy(Form->Image->geometry()),
              Form->Image->grab().toImage().convertToFormat(screen.format()));
    ASSERT_GT(Form->Image->width(), TDirectionForm::BitmapSize);
    EXPECT_EQ(PixelOf(screen, Form->Image->x(), Form->Image->y()), White);
    EXPECT_EQ(PixelOf(screen, Form->Image->geometry().right(), Form->Image->geometry().bottom()),
              White);
}

TEST_F(DirectionTest, FarAwayPointsAreClippedWithoutOverflow) {
    Form->ShowDirection(-2147483647 - 1, 2147483647);
    Form->ShowDirection(2147483647, -2147483647 - 1);
    EXPECT_EQ(AsQPoint(Form->LastLineEnd), QPoint(1, -1)) << "differences wrap at 32 bits";
    EXPECT_TRUE(IsRed(50, 50));
    EXPECT_EQ(RedCount(), 51);
}

TEST_F(DirectionTest, EveryLineEndsOneStepShortOfItsEndPoint) {
    const QPoint ends[] = {{99, 50}, {50, 99}, {0, 50}, {50, 0}, {90, 70}, {13, 97}};
    for (const QPoint end : ends) {
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(White);
        DrawLineExcludingEnd(image, QPoint(50, 50), end, Red);
        const int length = std::max(std::abs(end.x() - 50), std::abs(end.y() - 50));
        EXPECT_EQ(CountPixels(image, Red), length) << end.x() << "," << end.y();
        EXPECT_EQ(PixelOf(image, end.x(), end.y()), White);
        EXPECT_EQ(PixelOf(image, 50, 50), Red);
    }
}
