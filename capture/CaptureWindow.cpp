#include "capture/CaptureWindow.h"

#include "capture/CaptureDialogs.h"
#include "capture/FrameTap.h"

#include <QApplication>
#include <QClipboard>
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
    driver->SetFrameNotifier([this] {
        // Streaming thread: only a queued call reaches the window.
        if (FOverlay && !FOverlayPending.exchange(true)) {
            QMetaObject::invokeMethod(this, &TCaptureWindow::FrameArrived, Qt::QueuedConnection);
        }
    });
    driver->SetFrameTap(FTap);
    if (!driver->Start()) {
        return false;
    }
    FDriver = std::move(driver);
    FDriverIndex = index;
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
    FGrabbed = QImage();
    FHasDisplayFrame = false;
    FStatusTimer->start();
    Report(IDS_CAP_STAT_DRIVER_CONNECTED,
           QStringLiteral("Connected to %1")
               .arg(QString::fromStdString(DriverCatalog().Describe(index).Name)));
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
    FGrabbed = QImage();
    FHasDisplayFrame = false;
    const bool wasConnected = FDriver != nullptr;
    FDriver.reset();
    FDriverIndex = -1;
    update();
    if (wasConnected && FTap) {
        FTap->OnSourceGone();
    }
}

bool TCaptureWindow::GrabFrame() {
    if (!FDriver || !FDriver->WaitForFrameAfter(FLastGrabbed, GrabTimeout)) {
        FGrabbed = QImage();
        return false;
    }
    QImage grabbed;
    const std::uint64_t number =
        FDriver->WithNewestFrame([&grabbed](const QImage& view) { grabbed = view.copy(); });
    if (number == 0 || grabbed.isNull()) {
        FGrabbed = QImage();
        return false;
    }
    FLastGrabbed = number;
    FGrabbed = std::move(grabbed);
    FFrozen = true;
    update();
    return true;
}

// The clipboard gets our own deep copy; it keeps a reference to it.
bool TCaptureWindow::EditCopy() {
    if (FGrabbed.isNull()) {
        if (FDriver) {
            // A failed grab must not leave an older frame for the reader.
            QGuiApplication::clipboard()->clear();
        }
        return false;
    }
    QGuiApplication::clipboard()->setImage(FGrabbed);
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
    const auto draw = [&](const QImage& image) {
        if (!FScale) {
            painter.drawImage(QPoint(0, 0), image);
            return;
        }
        QSize size = image.size();
        size.scale(this->size(), FKeepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.drawImage(target, image);
    };
    if (FFrozen && !FGrabbed.isNull()) {
        draw(FGrabbed);
    } else if (FDriver && FHasDisplayFrame) {
        FDriver->WithNewestFrame(draw);
    }
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
    for (const TDriverStatus& status : FDriver->TakeStatus()) {
        Report(status.Id, status.Text);
        if (!*alive || !FDriver) {
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
        StopSequence(false);
        return FDriver != nullptr;
    case WM_CAP_ABORT:
        StopSequence(true);
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
