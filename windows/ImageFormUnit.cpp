#include "windows/ImageFormUnit.h"

#include "analysis/TBitmap.h"

#include <QEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QTransform>

#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

TImageForm* ImageForm = nullptr;

namespace {

void CopyRow(const std::uint8_t* source, int bytesPerPixel, QRgb* target, int width) {
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* pixel = source + x * bytesPerPixel;
        target[x] = bytesPerPixel == 1 ? qRgb(pixel[0], pixel[0], pixel[0])
                                       : qRgb(pixel[2], pixel[1], pixel[0]);
    }
}

// Blue-green-red bytes to 32-bit pixels, four pixels from three 32-bit
// words at a time (the bytes in memory of a word are its low byte first).
void BgrRowToRgb32Portable(const std::uint8_t* source, QRgb* target, int width) {
    constexpr QRgb opaque = 0xff000000u;
    int x = 0;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        for (; x + 4 <= width; x += 4, source += 12) {
            std::uint32_t words[3];
            std::memcpy(words, source, sizeof words);
            target[x] = opaque | (words[0] & 0xffffffu);
            target[x + 1] = opaque | (words[0] >> 24) | ((words[1] & 0xffffu) << 8);
            target[x + 2] = opaque | (words[1] >> 16) | ((words[2] & 0xffu) << 16);
            target[x + 3] = opaque | (words[2] >> 8);
        }
    }
    for (; x < width; ++x, source += 3) {
        target[x] = qRgb(source[2], source[1], source[0]);
    }
}

#if defined(__x86_64__)
// The same with one byte shuffle per four pixels: a 32-bit pixel in memory is
// blue, green, red, alpha, so each pixel's three bytes move up by one place
// per pixel before it and the alpha byte is set. A load takes 16 bytes, so
// the vector loop stops while 16 bytes are left in the row.
__attribute__((target("ssse3"))) void BgrRowToRgb32Ssse3(const std::uint8_t* source, QRgb* target,
                                                         int width) {
    const __m128i spread =
        _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1); // NOLINT
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    int x = 0;
    for (; x + 6 <= width; x += 4, source += 12) {
        const __m128i bgr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + x),
                         _mm_or_si128(_mm_shuffle_epi8(bgr, spread), opaque));
    }
    BgrRowToRgb32Portable(source, target + x, width - x);
}
#endif

using TBgrRowConversion = void (*)(const std::uint8_t*, QRgb*, int);

TBgrRowConversion BgrRowToRgb32() {
#if defined(__x86_64__)
    static const TBgrRowConversion chosen =
        __builtin_cpu_supports("ssse3") ? BgrRowToRgb32Ssse3 : BgrRowToRgb32Portable;
    return chosen;
#else
    return BgrRowToRgb32Portable;
#endif
}

} // namespace

TImage::TImage(QWidget* owner) : QWidget(owner) {}

void TImage::SetPicture(const TBitmap& bitmap) {
    if (bitmap.Empty()) {
        FPicture = QImage();
        UpdateOpaque();
        return;
    }
    if (FPicture.size() != QSize(bitmap.Width(), bitmap.Height()) ||
        FPicture.format() != QImage::Format_RGB32) {
        FPicture = QImage(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    }
    const int bytesPerPixel = TBitmap::BytesPerPixel(bitmap.PixelFormat());
    for (int y = 0; y < bitmap.Height(); ++y) {
        CopyRow(bitmap.ScanLine(y), bytesPerPixel, reinterpret_cast<QRgb*>(FPicture.scanLine(y)),
                bitmap.Width());
    }
    UpdateOpaque();
}

void TImage::SetPicture(const QImage& picture) {
    FPicture = picture;
    UpdateOpaque();
}

void TImage::TakePicture(TBitmap& bitmap) {
    if (bitmap.PixelFormat() != pf24bit || bitmap.Empty()) {
        SetPicture(bitmap);
        return;
    }
    std::swap(FShown, bitmap);
    // The rows of a TBitmap are blue, green, red bytes, top row first: what
    // QImage calls BGR888. The view lives no longer than FShown's storage.
    FPicture = QImage(FShown.ScanLine(0), FShown.Width(), FShown.Height(),
                      static_cast<qsizetype>(FShown.Stride()), QImage::Format_BGR888);
    UpdateOpaque();
}

// The plain colour that shows where the control paints nothing: that of the
// nearest widget behind it that fills its background; NoBrush when that is
// no plain colour.
QBrush TImage::PlainBackground() const {
    for (const QWidget* behind = parentWidget(); behind; behind = behind->parentWidget()) {
        if (behind->autoFillBackground() || behind->isWindow()) {
            const QBrush brush = behind->palette().brush(behind->backgroundRole());
            return brush.style() == Qt::SolidPattern && brush.isOpaque() ? brush : QBrush();
        }
    }
    return {};
}

// A picture without transparency hides what is behind it; where it does not
// cover the whole control, the control fills the rest with the plain colour
// behind it itself. Either way a repaint need not paint the window's
// background first.
void TImage::UpdateOpaque() {
    const bool solid = !FPicture.isNull() && !FPicture.hasAlphaChannel();
    const bool covers = solid && FPicture.width() >= width() && FPicture.height() >= height();
    FFill = solid && !covers ? PlainBackground() : QBrush();
    const bool opaque = covers || FFill.style() != Qt::NoBrush;
    if (testAttribute(Qt::WA_OpaquePaintEvent) != opaque) {
        setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    }
}

void TImage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateOpaque();
}

void TImage::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) {
        UpdateOpaque();
    }
}

void TImage::Repaint() {
    if (isVisible()) {
        repaint();
    }
}

// Integer division rounds towards zero, so an odd difference leaves the extra
// pixel on the right or bottom for both smaller and larger pictures.
void TImage::paintEvent(QPaintEvent*) {
    if (FPicture.isNull()) {
        return;
    }
    QPainter painter(this);
    const int left = (width() - FPicture.width()) / 2;
    const int top = (height() - FPicture.height()) / 2;
    const QRect shown = QRect(left, top, FPicture.width(), FPicture.height()) & rect();
    FillAround(painter, shown);
    if (shown.isEmpty()) {
        return;
    }
    if (FPicture.format() != QImage::Format_BGR888) {
        painter.drawImage(shown.topLeft(), FPicture, shown.translated(-left, -top));
    } else {
        PaintBgrPart(painter, shown, left, top);
    }
    PaintHatching(painter, QRect(left, top, FPicture.width(), FPicture.height()));
}

// The bands of the control beside and above and below the part of the
// picture shown, in the colour behind the control.
void TImage::FillAround(QPainter& painter, const QRect& shown) {
    if (FFill.style() == Qt::NoBrush) {
        return;
    }
    const QRect area = rect();
    if (shown.isEmpty()) {
        painter.fillRect(area, FFill);
        return;
    }
    const QRect bands[] = {
        QRect(area.left(), area.top(), area.width(), shown.top() - area.top()),
        QRect(area.left(), shown.bottom() + 1, area.width(), area.bottom() - shown.bottom()),
        QRect(area.left(), shown.top(), shown.left() - area.left(), shown.height()),
        QRect(shown.right() + 1, shown.top(), area.right() - shown.right(), shown.height())};
    for (const QRect& band : bands) {
        if (!band.isEmpty()) {
            painter.fillRect(band, FFill);
        }
    }
}

void TImage::SetHatching(const QPainterPath& relative) {
    FHatching = relative;
}

// The hatched areas, given relative to the picture, over the picture.
void TImage::PaintHatching(QPainter& painter, const QRect& picture) {
    if (FHatching.isEmpty()) {
        return;
    }
    QTransform toPicture;
    toPicture.translate(picture.left(), picture.top());
    toPicture.scale(picture.width(), picture.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(QColor(90, 90, 90), Qt::BDiagPattern));
    painter.drawPath(toPicture.map(FHatching));
}

// The painter would convert the whole 24-bit picture to draw a part of it:
// only the part shown is converted. Where the painter draws into a 32-bit
// image one to one (a window's backing store), the pixels go straight into
// it, inside the area the paint may touch; elsewhere they go through storage
// kept for the next paint.
void TImage::PaintBgrPart(QPainter& painter, const QRect& shown, int left, int top) {
    if (PaintBgrIntoDevice(painter, shown, left, top)) {
        return;
    }
    if (FVisible.size() != shown.size()) {
        FVisible = QImage(shown.size(), QImage::Format_RGB32);
    }
    ConvertBgrPart(shown.translated(-left, -top), FVisible, QPoint(0, 0));
    painter.drawImage(shown.topLeft(), FVisible);
}

bool TImage::PaintBgrIntoDevice(QPainter& painter, const QRect& shown, int left, int top) {
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    const QTransform& toDevice = painter.deviceTransform();
    if (!device || device->devType() != QInternal::Image ||
        toDevice.type() > QTransform::TxTranslate) {
        return false;
    }
    auto& image = *static_cast<QImage*>(device);
    const QImage::Format format = image.format();
    // The painter made its image its own when it began; a shared one would be
    // copied by the first row written, away from the painter.
    const bool thirtyTwoBit = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                              format == QImage::Format_ARGB32_Premultiplied;
    if (!image.isDetached() || !thirtyTwoBit) {
        return false;
    }
    const QPoint offset(qRound(toDevice.dx()), qRound(toDevice.dy()));
    const QRect target = shown.translated(offset) & image.rect();
    const QRegion allowed =
        engine->systemClip().isEmpty() ? QRegion(image.rect()) : engine->systemClip();
    const QRegion parts = allowed.intersected(target);
    for (const QRect& part : parts) {
        ConvertBgrPart(part.translated(-offset - QPoint(left, top)), image, part.topLeft());
    }
    return true;
}

// The picture's `part` to `target` from `at` on; the part lies inside both.
void TImage::ConvertBgrPart(const QRect& part, QImage& target, QPoint at) const {
    const TBgrRowConversion convert = BgrRowToRgb32();
    for (int y = 0; y < part.height(); ++y) {
        convert(FPicture.constScanLine(part.top() + y) + 3 * part.left(),
                reinterpret_cast<QRgb*>(target.scanLine(at.y() + y)) + at.x(), part.width());
    }
}

TImageForm::TImageForm(QWidget* owner) : BaseForm(owner), Image(new TImage(this)) {
    setObjectName("ImageForm");
    setWindowTitle("Differential image");
    SetBackgroundColor(Qt::black);
    Image->setObjectName("Image");
    setCentralWidget(Image);
    resize(320, 240);
    SetFixedDialogFrame();
    move(334, 201);
}

TImageForm::~TImageForm() {
    if (ImageForm == this) {
        ImageForm = nullptr;
    }
}
