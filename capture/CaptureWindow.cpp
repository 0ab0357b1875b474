#include "capture/CaptureWindow.h"

#include "capture/CaptureDialogs.h"
#include "capture/FrameConversion.h"
#include "capture/FrameTap.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

// The capture windows that exist: a handle is checked before any use.
std::set<const QWidget*>& LiveWindows() {
    static std::set<const QWidget*> windows;
    return windows;
}

// Marks a window busy for the length of one of its requests.
class TBusyScope {
public:
    explicit TBusyScope(int& counter) : FCounter(counter) { ++FCounter; }
    ~TBusyScope() { --FCounter; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    int& FCounter;
};

// The Qt key of a virtual-key code: Escape, space, digits and letters.
int QtKeyOf(UINT virtualKey) {
    if (virtualKey == VK_ESCAPE) {
        return Qt::Key_Escape;
    }
    if (virtualKey == ' ' || (virtualKey >= '0' && virtualKey <= '9') ||
        (virtualKey >= 'A' && virtualKey <= 'Z')) {
        return static_cast<int>(virtualKey);
    }
    return 0;
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

} // namespace

TCaptureWindow* TCaptureWindow::FromHandle(HWND window) {
    return window && LiveWindows().count(window) ? static_cast<TCaptureWindow*>(window) : nullptr;
}

void TCaptureWindow::Unregister() {
    LiveWindows().erase(this);
}

void TCaptureWindow::SetFrameTap(TFrameTap* tap) {
    FTap = tap;
    if (FDriver) {
        FDriver->SetFrameTap(tap);
    }
}

TCaptureWindow::TCaptureWindow(const QString& name, QWidget* parent)
    : QWidget(parent), FCaptureFile(), FPreviewTimer(new QTimer(this)),
      FStatusTimer(new QTimer(this)), FSequenceTimer(new QTimer(this)),
      FAlive(std::make_shared<bool>(true)) {
    setObjectName(name);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(FPreviewTimer, &QTimer::timeout, this, &TCaptureWindow::ShowNewestFrame);
    FStatusTimer->setInterval(100);
    connect(FStatusTimer, &QTimer::timeout, this, &TCaptureWindow::PollStatus);
    FSequenceTimer->setTimerType(Qt::PreciseTimer);
    connect(FSequenceTimer, &QTimer::timeout, this, &TCaptureWindow::SequenceStep);
    LiveWindows().insert(this);
}

TCaptureWindow::~TCaptureWindow() {
    *FAlive = false;
    LiveWindows().erase(this);
    DisconnectDriver();
}

bool TCaptureWindow::ConnectDriver(int index) {
    DisconnectDriver();
    if (index < 0 || index >= MAXVIDEODRIVERS) {
        return false;
    }
    std::unique_ptr<TVideoDriver> driver = DriverCatalog().Open(index);
    if (!driver) {
        return false;
    }
    const QString name = QString::fromStdString(DriverCatalog().Describe(index).Name);
    driver->SetFrameNotifier([this] {
        // Streaming thread: only a queued call reaches the window.
        if (FOverlay && !FOverlayPending.exchange(true)) {
            QMetaObject::invokeMethod(this, &TCaptureWindow::FrameArrived, Qt::QueuedConnection);
        }
    });
    driver->SetStatusNotifier([this] {
        QMetaObject::invokeMethod(this, &TCaptureWindow::PollStatus, Qt::QueuedConnection);
    });
    driver->SetFrameTap(FTap);
    FNoSignal.clear();
    if (!driver->Start()) {
        // The source cannot even be set up: say why, and keep the reason on the window.
        const std::shared_ptr<bool> alive = FAlive;
        for (const TDriverStatus& status : driver->TakeStatus()) {
            FNoSignal = status.Text;
            Report(status.Id, status.Text);
            if (!*alive) {
                return false;
            }
        }
        update();
        return false;
    }
    FDriver = std::move(driver);
    FDriverIndex = index;
    FDriverName = name;
    FSetup = CAPTUREPARMS{};
    FSetup.dwRequestMicroSecPerFrame = 66667;
    FSetup.wPercentDropForError = 10;
    FSetup.fYield = 0;
    FSetup.wNumVideoRequested = 32;
    FSetup.vKeyAbort = VK_ESCAPE;
    FSetup.fAbortLeftMouse = 1;
    FSetup.fAbortRightMouse = 1;
    FSetup.wTimeLimit = 30;
    FLastGrabbed = 0;
    FLastShown = 0;
    FHasGrab = false;
    FHasDisplayFrame = false;
    FStatusTimer->start();
    // A source that connects in the background says "Connected" with its first frame.
    const bool live = FDriver->Signal().State == TSourceState::Live;
    Report(
        live ? IDS_CAP_STAT_DRIVER_CONNECTED : IDS_CAP_STAT_CONNECTING,
        (live ? QStringLiteral("Connected to %1") : QStringLiteral("Connecting to %1")).arg(name));
    update();
    return true;
}

void TCaptureWindow::DisconnectDriver() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    FStatusTimer->stop();
    FSequenceTimer->stop();
    FPreviewTimer->stop();
    FPreview = false;
    FOverlay = false;
    FFrozen = false;
    FHasGrab = false;
    FHasDisplayFrame = false;
    FFrameWaiters.clear();
    const bool wasConnected = FDriver != nullptr;
    FDriver.reset();
    FDriverIndex = -1;
    update();
    if (wasConnected && FTap) {
        FTap->OnSourceGone();
    }
}

bool TCaptureWindow::GrabFrame() {
    // A live source that is only late (a loop of a file, a busy machine) gives its
    // newest frame again; one that is stalled, lost or ended gives none.
    if (!FDriver || (!FDriver->WaitForFrameAfter(FLastGrabbed, GrabTimeout) &&
                     FDriver->Signal().State != TSourceState::Live)) {
        FHasGrab = false;
        return false;
    }
    // Two frames in turn: the clipboard still shares the one grabbed last, the other is
    // free again and is written in place, so a grab at an unchanged size allocates nothing.
    const int next = FGrabIndex ^ 1;
    const std::uint64_t number = FDriver->CopyNewestFrame(FGrabs[next]);
    if (number == 0 || FGrabs[next].isNull()) {
        FHasGrab = false;
        return false;
    }
    FGrabIndex = next;
    FHasGrab = true;
    FLastGrabbed = number;
    FFrozen = true;
    update();
    return true;
}

const QImage& TCaptureWindow::GrabbedFrame() const {
    static const QImage none;
    return FHasGrab ? FGrabs[FGrabIndex] : none;
}

// The clipboard shares the grabbed frame; it is not written again while it does.
bool TCaptureWindow::EditCopy() {
    if (!FHasGrab) {
        if (FDriver) {
            // A failed grab must not leave an older frame for the reader.
            QGuiApplication::clipboard()->clear();
        }
        return false;
    }
    QGuiApplication::clipboard()->setImage(FGrabs[FGrabIndex]);
    return true;
}

void TCaptureWindow::SetDisplay(bool preview, bool overlay) {
    FPreview = preview;
    FOverlay = overlay;
    FFrozen = false;
    FOverlayPending = false;
    if (FPreview && !FOverlay) {
        FPreviewTimer->start(FPreviewRate);
    } else {
        FPreviewTimer->stop();
    }
    if (FPreview || FOverlay) {
        ShowNewestFrame();
    }
}

void TCaptureWindow::CallWhenFrameReady(QObject* context, std::function<void()> action) {
    if (!FDriver || FDriver->NewestFrameNumber() > 0) {
        action();
        return;
    }
    FFrameWaiters.push_back({context, std::move(action)});
}

void TCaptureWindow::RunFrameWaiters() {
    if (FFrameWaiters.empty() || !FDriver || FDriver->NewestFrameNumber() == 0) {
        return;
    }
    const std::shared_ptr<bool> alive = FAlive;
    for (TFrameWaiter& waiter : std::exchange(FFrameWaiters, {})) {
        if (waiter.Context) {
            waiter.Action();
        }
        if (!*alive) {
            return;
        }
    }
}

void TCaptureWindow::FrameArrived() {
    FOverlayPending = false;
    if (FOverlay && !FFrozen) {
        ShowNewestFrame();
    }
}

void TCaptureWindow::ShowNewestFrame() {
    if (!FDriver || FFrozen || !(FPreview || FOverlay)) {
        return;
    }
    const std::uint64_t number = FDriver->NewestFrameNumber();
    if (number == 0 || number == FLastShown) {
        return;
    }
    FLastShown = number;
    ++FDisplayedFrames;
    FHasDisplayFrame = true;
    update();
}

void TCaptureWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // Only the pixels shown are converted, from the frame as it was decoded, into
    // a picture whose storage is kept from paint to paint.
    const auto draw = [&](const TFrameView& frame) {
        const QRect whole(0, 0, frame.Width, frame.Height);
        if (!FScale) {
            const QRect part = whole & rect();
            if (!part.isEmpty()) {
                SampleFrameForScreen(frame, part, part.size(), FShownFrame);
                painter.drawImage(QPoint(0, 0), FShownFrame);
            }
            return;
        }
        QSize size = whole.size();
        size.scale(this->size(), FKeepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
        if (!size.isEmpty()) {
            SampleFrameForScreen(frame, whole, size, FShownFrame);
            painter.drawImage(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                              FShownFrame);
        }
    };
    if (FFrozen && FHasGrab) {
        draw(BgrImageView(FGrabs[FGrabIndex]));
        return;
    }
    const QString reason = NoSignalReason();
    if (!reason.isNull()) {
        PaintNoSignal(painter, rect(), reason);
    } else if (FDriver && FHasDisplayFrame) {
        FDriver->WithNewestView(draw);
    }
}

// Why the window shows no picture; a null text while the source is live.
QString TCaptureWindow::NoSignalReason() const {
    if (!FDriver) {
        return FNoSignal.isEmpty() ? QString() : FNoSignal;
    }
    const TSourceSignal signal = FDriver->Signal();
    if (signal.State == TSourceState::Live) {
        return {};
    }
    if (signal.State == TSourceState::Connecting && signal.Reason.isEmpty()) {
        return QStringLiteral("Connecting to %1").arg(FDriverName);
    }
    return signal.Reason.isEmpty() ? QStringLiteral("No signal") : signal.Reason;
}

void TCaptureWindow::Report(int id, const QString& text) {
    if (FStatusCallback) {
        const QByteArray local = text.toLocal8Bit();
        FStatusCallback(this, id, local.constData());
    }
}

void TCaptureWindow::PollStatus() {
    if (!FDriver) {
        return;
    }
    const TBusyScope busy(FBusy);
    const std::shared_ptr<bool> alive = FAlive;
    FDriver->Watch();
    const TSourceState state = FDriver->Signal().State;
    if (state != FShownState) {
        FShownState = state;
        update(); // the picture or the no-signal card
    }
    for (const TDriverStatus& status : FDriver->TakeStatus()) {
        Report(status.Id, status.Text);
        if (!*alive || !FDriver) {
            return;
        }
    }
    if (FDriver->Absent()) {
        LetAbsentDriverGo();
        return;
    }
    if (const std::string found = FDriver->FoundName(); !found.empty()) {
        FDriverName = QString::fromStdString(found);
    }
    RunFrameWaiters();
}

// The source was not there after all (no camera on the machine): the window goes
// on as one that never had a driver, and what waited for a frame runs now.
void TCaptureWindow::LetAbsentDriverGo() {
    const QString reason = FDriver->Signal().Reason;
    std::vector<TFrameWaiter> waiters = std::exchange(FFrameWaiters, {});
    DisconnectDriver();
    FNoSignal = reason;
    const std::shared_ptr<bool> alive = FAlive;
    for (TFrameWaiter& waiter : waiters) {
        if (waiter.Context) {
            waiter.Action();
        }
        if (!*alive) {
            return;
        }
    }
}

// One step of a streaming capture, once per capture interval: the count of
// frames written goes to the status callback, which may abort, and only then
// does the next frame go into the file. So a count that reaches the frame
// limit is exactly what the file holds.
void TCaptureWindow::SequenceStep() {
    if (!FDriver || !FDriver->Recording()) {
        FSequenceTimer->stop();
        return;
    }
    const std::string error = FDriver->RecordingError();
    if (!error.empty()) {
        StopSequence(false);
        Report(IDS_CAP_WRITEERROR, QStringLiteral("Recording to %1 stopped: %2")
                                       .arg(QString::fromLocal8Bit(FCaptureFile.c_str()),
                                            QString::fromStdString(error)));
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - FSequenceStart)
                             .count();
    const std::shared_ptr<bool> alive = FAlive;
    Report(IDS_CAP_STAT_VIDEOCURRENT, QStringLiteral("%1 frames (%2 dropped) %3.%4 sec.")
                                          .arg(FDriver->RecordedFrames())
                                          .arg(FDriver->DroppedFrames())
                                          .arg(elapsed / 1000)
                                          .arg(elapsed % 1000, 3, 10, QLatin1Char('0')));
    if (*alive && FDriver && FDriver->Recording()) {
        FDriver->RecordNewestFrame();
    }
}

bool TCaptureWindow::StartSequence() {
    if (!FDriver || FDriver->Recording() || FCaptureFile.empty()) {
        return false;
    }
    const int rate = FSetup.dwRequestMicroSecPerFrame > 0
                         ? static_cast<int>((1000000 + FSetup.dwRequestMicroSecPerFrame / 2) /
                                            FSetup.dwRequestMicroSecPerFrame)
                         : 15;
    if (!FDriver->StartRecording(FCaptureFile, rate)) {
        Report(IDS_CAP_CANTOPEN, QStringLiteral("Cannot record to %1: %2")
                                     .arg(QString::fromLocal8Bit(FCaptureFile.c_str()),
                                          QString::fromStdString(FDriver->RecordingError())));
        return false;
    }
    FSequenceStart = std::chrono::steady_clock::now();
    FSequenceTimer->start(std::max(1, static_cast<int>(1000 / rate)));
    qApp->installEventFilter(this);
    Report(IDS_CAP_STAT_CAP_INIT,
           QStringLiteral("Capturing to %1").arg(QString::fromLocal8Bit(FCaptureFile.c_str())));
    return true;
}

void TCaptureWindow::StopSequence(bool aborted) {
    qApp->removeEventFilter(this);
    FSequenceTimer->stop();
    if (!FDriver || !FDriver->Recording()) {
        return;
    }
    FDriver->StopRecording();
    Report(IDS_CAP_STAT_CAP_FINI, QStringLiteral("%1 frames captured%2")
                                      .arg(FDriver ? FDriver->RecordedFrames() : 0)
                                      .arg(aborted ? QStringLiteral(" (aborted)") : QString()));
}

bool TCaptureWindow::eventFilter(QObject* watched, QEvent* event) {
    if (!FDriver || !FDriver->Recording()) {
        return QWidget::eventFilter(watched, event);
    }
    bool abort = false;
    if (event->type() == QEvent::KeyPress) {
        const int key = QtKeyOf(FSetup.vKeyAbort);
        abort = key != 0 && static_cast<QKeyEvent*>(event)->key() == key;
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        abort = (button == Qt::LeftButton && FSetup.fAbortLeftMouse) ||
                (button == Qt::RightButton && FSetup.fAbortRightMouse);
    }
    if (abort) {
        StopSequence(true);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TCaptureWindow::FormatDialog() {
    if (!FDriver) {
        return false;
    }
    const std::vector<TVideoFormat> formats = FDriver->Formats();
    const TVideoFormat current = FDriver->CurrentFormat();
    const std::shared_ptr<bool> alive = FAlive;
    const int chosen = RunFormatDialog(this, formats, current);
    if (!*alive || !FDriver) {
        return false;
    }
    if (chosen >= 0 && chosen < static_cast<int>(formats.size()) &&
        formats[chosen].Caps != current.Caps) {
        FDriver->SetFormat(formats[chosen]);
        FLastShown = 0;
        PollStatus();
    }
    return true;
}

bool TCaptureWindow::SourceDialog() {
    if (!FDriver) {
        return false;
    }
    const std::shared_ptr<bool> alive = FAlive;
    RunSourceDialog(this, *FDriver);
    return *alive;
}

bool TCaptureWindow::DisplayDialog() {
    if (!FDriver) {
        return false;
    }
    TDisplayOptions options{FScale, FKeepAspect};
    const std::shared_ptr<bool> alive = FAlive;
    const bool accepted = RunDisplayDialog(this, options);
    if (!*alive) {
        return false;
    }
    if (accepted) {
        FScale = options.Scale;
        FKeepAspect = options.KeepAspect;
        update();
    }
    return true;
}

LRESULT TCaptureWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const TBusyScope busy(FBusy);
    const bool on = (wParam & 0xFFFF) != 0;
    switch (message) {
    case WM_CAP_SET_CALLBACK_STATUSA:
        FStatusCallback = reinterpret_cast<CAPSTATUSCALLBACK>(lParam);
        return 1;
    case WM_CAP_DRIVER_CONNECT:
        return ConnectDriver(static_cast<int>(wParam & 0xFFFF));
    case WM_CAP_DRIVER_DISCONNECT:
        if (!FDriver) {
            return 0;
        }
        DisconnectDriver();
        return 1;
    case WM_CAP_FILE_SET_CAPTURE_FILEA: {
        const char* name = reinterpret_cast<const char*>(lParam);
        if (!name || !*name) {
            return 0;
        }
        FCaptureFile = name;
        return 1;
    }
    case WM_CAP_EDIT_COPY:
        return EditCopy();
    case WM_CAP_DLG_VIDEOFORMAT:
        return FormatDialog();
    case WM_CAP_DLG_VIDEOSOURCE:
        return SourceDialog();
    case WM_CAP_DLG_VIDEODISPLAY:
        return DisplayDialog();
    case WM_CAP_SET_PREVIEW:
        if (!FDriver) {
            return 0;
        }
        SetDisplay(on, on ? false : FOverlay.load());
        return 1;
    case WM_CAP_SET_OVERLAY:
        if (!FDriver) {
            return 0;
        }
        SetDisplay(on ? false : FPreview, on);
        return 1;
    case WM_CAP_SET_PREVIEWRATE:
        FPreviewRate = std::max<int>(1, static_cast<int>(wParam & 0xFFFF));
        if (FPreviewTimer->isActive()) {
            FPreviewTimer->start(FPreviewRate);
        }
        return FDriver != nullptr;
    case WM_CAP_SET_SCALE:
        FScale = on;
        update();
        return FDriver != nullptr;
    case WM_CAP_GRAB_FRAME:
        return GrabFrame();
    case WM_CAP_SEQUENCE:
        return StartSequence();
    case WM_CAP_STOP:
    case WM_CAP_ABORT:
        // The program sends an abort when the capture reaches its frame
        // limit: the capture ended as planned, so it is not called aborted.
        // Only the user's abort key or click is (see eventFilter).
        StopSequence(false);
        return FDriver != nullptr;
    case WM_CAP_GET_SEQUENCE_SETUP: {
        auto* setup = reinterpret_cast<CAPTUREPARMS*>(lParam);
        const std::size_t size = wParam & 0xFFFF;
        if (!FDriver || !FDriver->SupportsSequenceSetup() || !setup || size == 0) {
            return 0;
        }
        std::memcpy(setup, &FSetup, std::min(size, sizeof FSetup));
        return 1;
    }
    case WM_CAP_SET_SEQUENCE_SETUP: {
        const auto* setup = reinterpret_cast<const CAPTUREPARMS*>(lParam);
        const std::size_t size = wParam & 0xFFFF;
        if (!FDriver || !FDriver->SupportsSequenceSetup() || !setup || size == 0) {
            return 0;
        }
        std::memcpy(&FSetup, setup, std::min(size, sizeof FSetup));
        return 1;
    }
    default:
        return 0;
    }
}
