#include "capture/CaptureWindow.h"

#include "capture/CaptureController.h"
#include "capture/PictureSampler.h"
#include "capture/SequenceRecorder.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <set>

namespace {

// The capture windows that exist: a handle is checked before any use.
std::set<const QWidget*>& LiveWindows() {
    static std::set<const QWidget*> windows;
    return windows;
}

// The plain card shown instead of a picture: "No signal" and the reason.
void PaintNoSignal(QPainter& painter, const QRect& area, const QString& reason) {
    painter.fillRect(area, QColor(32, 32, 36));
    const QRect inner = area.adjusted(12, 12, -12, -12);
    QFont title = painter.font();
    title.setBold(true);
    title.setPointSizeF(std::max(9.0, std::min(18.0, area.height() / 14.0)));
    painter.setFont(title);
    painter.setPen(QColor(230, 230, 230));
    const int titleHeight = QFontMetrics(title).height();
    const QRect titleBox(inner.left(), inner.center().y() - titleHeight, inner.width(),
                         titleHeight);
    painter.drawText(titleBox, Qt::AlignHCenter | Qt::AlignBottom, QStringLiteral("No signal"));
    QFont text = painter.font();
    text.setBold(false);
    text.setPointSizeF(std::max(7.0, title.pointSizeF() * 0.6));
    painter.setFont(text);
    painter.setPen(QColor(190, 190, 190));
    const QRect reasonBox(inner.left(), titleBox.bottom() + 6, inner.width(),
                          inner.bottom() - titleBox.bottom() - 6);
    painter.drawText(reasonBox, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, reason);
}

// Black where the picture does not cover the window (all of it without a
// picture); the picture's own pixels are written once, by the picture.
void FillAround(QPainter& painter, const QRect& area, const QRect& picture) {
    if (picture.isEmpty()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    const QRect top(area.left(), area.top(), area.width(), picture.top() - area.top());
    const QRect bottom(area.left(), picture.bottom() + 1, area.width(),
                       area.bottom() - picture.bottom());
    const QRect left(area.left(), picture.top(), picture.left() - area.left(), picture.height());
    const QRect right(picture.right() + 1, picture.top(), area.right() - picture.right(),
                      picture.height());
    for (const QRect& band : {top, bottom, left, right}) {
        if (!band.isEmpty()) {
            painter.fillRect(band, Qt::black);
        }
    }
}

} // namespace

TCaptureWindow* TCaptureWindow::FromHandle(HWND window) {
    return window && LiveWindows().count(window) ? static_cast<TCaptureWindow*>(window) : nullptr;
}

void TCaptureWindow::Unregister() {
    LiveWindows().erase(this);
}

TCaptureWindow::TCaptureWindow(const QString& name, QWidget* parent)
    : QWidget(parent), FSession(new TCaptureSession(this)),
      FRecorder(new TSequenceRecorder(*FSession, this)),
      FController(new TCaptureController(this, *FSession, *FRecorder)), FSampler([this] {
          // The sampler's thread: the GUI thread paints the picture as soon as
          // it takes up the call, rather than asking its event loop for
          // another pass.
          QMetaObject::invokeMethod(
              this, [this] { repaint(); }, Qt::QueuedConnection);
      }) {
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(FSession, &TCaptureSession::PictureChanged, this, &TCaptureWindow::ShowPicture);
    connect(FSession, &TCaptureSession::SourceReleased, FRecorder, &TSequenceRecorder::Halt);
    // The sampler lets go of the source before the session does.
    connect(FSession, &TCaptureSession::SourceReleased, this, [this] {
        FSampler.Forget();
        FLivePicture.reset();
    });
    LiveWindows().insert(this);
}

TCaptureWindow::~TCaptureWindow() {
    LiveWindows().erase(this);
    FSession->Disconnect();
    FSampler.Forget();
}

LRESULT TCaptureWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    return FController->Dispatch(message, wParam, lParam);
}

const std::string& TCaptureWindow::CaptureFileName() const {
    return FRecorder->File();
}

TPictureLayout TCaptureWindow::Layout() const {
    return {size(), FSession->Scaling(), FSession->KeepingAspect()};
}

// A grab freezes the display on its frame, and a frame step resumes the
// display once it has reported, within the same pass of the event loop: the
// frozen frame is painted only when the display is still frozen after that
// pass, so that a step does not paint a picture replaced before it is seen.
void TCaptureWindow::ShowPicture() {
    if (FSession->DisplayFrozen() && FSession->HasGrab()) {
        if (!FFrozenPaintPending) {
            FFrozenPaintPending = true;
            QMetaObject::invokeMethod(this, &TCaptureWindow::ShowFrozenPicture,
                                      Qt::QueuedConnection);
        }
        return;
    }
    ShowPictureNow();
}

void TCaptureWindow::ShowFrozenPicture() {
    FFrozenPaintPending = false;
    ShowPictureNow();
}

// A live frame is sampled on the sampler's thread, which asks for the paint
// once its picture is ready; anything else is painted at once.
void TCaptureWindow::ShowPictureNow() {
    if (FSession->ShowingLiveFrames()) {
        RequestLivePicture();
        return;
    }
    update();
}

// The display is told of its picture again whenever its settings are set,
// which a frame step does each time it resumes the display: when the newest
// frame at this layout is on the screen already, or on its way there, nothing
// is sampled or painted.
void TCaptureWindow::RequestLivePicture() {
    TVideoDriver* driver = FSession->Driver();
    const TLivePicture wanted{driver, driver->NewestFrameNumber(), Layout()};
    if (FLivePicture == wanted) {
        return;
    }
    FLivePicture = wanted;
    FSampler.Request(driver, wanted.Layout);
}

// Only the pixels shown are converted, from the frame as it was decoded, into a
// picture whose storage is kept from paint to paint. Gives where the picture went.
QRect TCaptureWindow::Draw(QPainter& painter, const TFrameView& frame) {
    const QRect placed = SamplePlacedPicture(frame, Layout(), FShownFrame, FSampling);
    if (!placed.isEmpty()) {
        painter.drawImage(placed.topLeft(), FShownFrame);
    }
    return placed;
}

void TCaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool frozen = FSession->DisplayFrozen() && FSession->HasGrab();
    const QString reason = frozen ? QString() : FSession->NoSignalReason();
    if (!reason.isNull()) {
        FLivePicture.reset();
        PaintNoSignal(painter, rect(), reason);
        return;
    }
    QRect picture;
    const TPictureSampler::TPicture* sampled =
        FSession->ShowingLiveFrames() ? FSampler.Finished(Layout()) : nullptr;
    if (sampled) {
        painter.drawImage(sampled->Origin, sampled->Image);
        picture = QRect(sampled->Origin, sampled->Image.size());
    } else {
        FLivePicture.reset(); // the next live frame is sampled, whichever it is
        FSession->WithPicture([&](const TFrameView& frame) { picture = Draw(painter, frame); });
    }
    FillAround(painter, rect(), picture);
}
