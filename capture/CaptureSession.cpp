#include "capture/CaptureSession.h"

#include "capture/FrameConversion.h"
#include "capture/FrameTap.h"
#include "capture/PlatformTypes.h"

#include <QTimer>

#include <algorithm>
#include <utility>

TCaptureSession::TCaptureSession(QObject* parent)
    : QObject(parent), FStatusTimer(new QTimer(this)), FPreviewTimer(new QTimer(this)) {
    FStatusTimer->setInterval(100);
    connect(FStatusTimer, &QTimer::timeout, this, &TCaptureSession::Poll);
    connect(FPreviewTimer, &QTimer::timeout, this, &TCaptureSession::ShowNewestFrame);
}

TCaptureSession::~TCaptureSession() {
    WaitForGrab();
    if (FDriver) {
        FDriver.reset();
        if (FTap) {
            FTap->OnSourceGone();
        }
    }
}

void TCaptureSession::SetFrameTap(TFrameTap* tap) {
    FTap = tap;
    if (FDriver) {
        FDriver->SetFrameTap(tap);
    }
}

std::unique_ptr<TVideoDriver> TCaptureSession::OpenDriver(int index) {
    if (index < 0 || index >= MAXVIDEODRIVERS) {
        return nullptr;
    }
    std::unique_ptr<TVideoDriver> driver = DriverCatalog().Open(index);
    if (!driver) {
        return nullptr;
    }
    driver->SetFrameNotifier([this] {
        // Streaming thread: only a queued call reaches the session, and only one
        // waits at a time however fast the frames come.
        if (FOverlay && !FOverlayPending.exchange(true)) {
            QMetaObject::invokeMethod(this, &TCaptureSession::FrameArrived, Qt::QueuedConnection);
        }
    });
    driver->SetStatusNotifier(
        [this] { QMetaObject::invokeMethod(this, &TCaptureSession::Poll, Qt::QueuedConnection); });
    driver->SetFrameTap(FTap);
    return driver;
}

bool TCaptureSession::Connect(int index) {
    Disconnect();
    std::unique_ptr<TVideoDriver> driver = OpenDriver(index);
    if (!driver) {
        return false;
    }
    FNoSignal.clear();
    if (!driver->Start()) {
        // The source cannot even be set up: say why, and keep the reason for the display.
        const QPointer<TCaptureSession> alive(this);
        for (const TDriverStatus& status : driver->TakeStatus()) {
            FNoSignal = status.Text;
            emit Status(status.Id, status.Text);
            if (!alive) {
                return false;
            }
        }
        emit PictureChanged();
        return false;
    }
    FDriver = std::move(driver);
    FSourceName = QString::fromStdString(DriverCatalog().Describe(index).Name);
    FLastGrabbed = 0;
    FLastShown = 0;
    FHasGrab = false;
    FHasDisplayFrame = false;
    FStatusTimer->start();
    Announce();
    return true;
}

// A source that connects in the background says "Connected" with its first frame.
void TCaptureSession::Announce() {
    const bool live = FDriver->Signal().State == TSourceState::Live;
    const QPointer<TCaptureSession> alive(this);
    emit Status(live ? IDS_CAP_STAT_DRIVER_CONNECTED : IDS_CAP_STAT_CONNECTING,
                (live ? QStringLiteral("Connected to %1") : QStringLiteral("Connecting to %1"))
                    .arg(FSourceName));
    if (alive) {
        emit PictureChanged();
    }
}

bool TCaptureSession::Disconnect() {
    emit SourceReleased();
    FStatusTimer->stop();
    FPreviewTimer->stop();
    FPreview = false;
    FOverlay = false;
    FFrozen = false;
    FHasGrab = false;
    FHasDisplayFrame = false;
    FFrameWaiters.clear();
    const bool wasConnected = FDriver != nullptr;
    WaitForGrab();
    ++FConnection;
    FDriver.reset();
    emit PictureChanged();
    if (wasConnected && FTap) {
        FTap->OnSourceGone();
    }
    return wasConnected;
}

QString TCaptureSession::NoSignalReason() const {
    if (!FDriver) {
        return FNoSignal.isEmpty() ? QString() : FNoSignal;
    }
    const TSourceSignal signal = FDriver->Signal();
    if (signal.State == TSourceState::Live) {
        return {};
    }
    if (signal.State == TSourceState::Connecting && signal.Reason.isEmpty()) {
        return QStringLiteral("Connecting to %1").arg(FSourceName);
    }
    return signal.Reason.isEmpty() ? QStringLiteral("No signal") : signal.Reason;
}

void TCaptureSession::CallWhenFrameReady(QObject* context, std::function<void()> action) {
    if (!FDriver || FDriver->NewestFrameNumber() > 0) {
        action();
        return;
    }
    FFrameWaiters.push_back({context, std::move(action)});
}

// Runs what waited for a frame; false when a waiter destroyed the session.
bool TCaptureSession::RunWaiters(std::vector<TFrameWaiter> waiters,
                                 const QPointer<QObject>& alive) {
    for (TFrameWaiter& waiter : waiters) {
        if (waiter.Context) {
            waiter.Action();
        }
        if (!alive) {
            return false;
        }
    }
    return true;
}

void TCaptureSession::RunFrameWaiters() {
    if (FFrameWaiters.empty() || !FDriver || FDriver->NewestFrameNumber() == 0) {
        return;
    }
    RunWaiters(std::exchange(FFrameWaiters, {}), QPointer<QObject>(this));
}

void TCaptureSession::Poll() {
    if (!FDriver) {
        return;
    }
    const TRequest request(*this);
    const QPointer<TCaptureSession> alive(this);
    FDriver->Watch();
    const TSourceState state = FDriver->Signal().State;
    if (state != FShownState) {
        FShownState = state;
        emit PictureChanged(); // the picture or the no-signal card
    }
    for (const TDriverStatus& status : FDriver->TakeStatus()) {
        emit Status(status.Id, status.Text);
        if (!alive || !FDriver) {
            return;
        }
    }
    if (FDriver->Absent()) {
        LetAbsentSourceGo();
        return;
    }
    if (const std::string found = FDriver->FoundName(); !found.empty()) {
        FSourceName = QString::fromStdString(found);
    }
    RunFrameWaiters();
}

// The source was not there after all (no camera on the machine): the session goes
// on as one that never had a source, and what waited for a frame runs now.
void TCaptureSession::LetAbsentSourceGo() {
    const QString reason = FDriver->Signal().Reason;
    std::vector<TFrameWaiter> waiters = std::exchange(FFrameWaiters, {});
    Disconnect();
    FNoSignal = reason;
    RunWaiters(std::move(waiters), QPointer<QObject>(this));
}

bool TCaptureSession::Grab() {
    TGrabJob job;
    if (!BeginGrab(job)) {
        FHasGrab = false;
        return false;
    }
    RunGrab(job);
    return FinishGrab(job);
}

bool TCaptureSession::BeginGrab(TGrabJob& job) {
    WaitForGrab();
    job = TGrabJob();
    if (!FDriver) {
        return false;
    }
    // Two frames in turn: a reader (the clipboard) may still hold the one grabbed
    // last, the other is free again and is written in place, so a grab at an
    // unchanged size allocates nothing. One that is still held is left to its
    // reader.
    job.Driver = FDriver.get();
    job.Slot = FGrabIndex ^ 1;
    job.After = FLastGrabbed;
    job.Connection = FConnection;
    job.Frame = std::move(FGrabs[job.Slot]); // the job holds the frame while it writes
    if (!job.Frame || job.Frame.use_count() > 1) {
        job.Frame = std::make_shared<TFrameCopy>();
    }
    const std::lock_guard lock(FGrabMutex);
    FGrabRunning = true;
    return true;
}

void TCaptureSession::RunGrab(TGrabJob& job) {
    if (!job.Driver) {
        return;
    }
    // A live source that is only late (a loop of a file, a busy machine) gives its
    // newest frame again; one that is stalled, lost or ended gives none.
    if (job.Driver->WaitForFrameAfter(job.After, GrabTimeout) ||
        job.Driver->Signal().State == TSourceState::Live) {
        TFrameCopy& copy = *job.Frame;
        job.Number =
            job.Driver->WithNewestView([&copy](const TFrameView& frame) { copy.Assign(frame); });
    }
    if (job.Frame->Empty()) {
        job.Number = 0;
    }
    const std::lock_guard lock(FGrabMutex);
    FGrabRunning = false;
    FGrabDone.notify_all();
}

bool TCaptureSession::FinishGrab(const TGrabJob& job) {
    if (!job.Driver || job.Connection != FConnection) {
        return false;
    }
    FGrabs[job.Slot] = job.Frame;
    if (job.Number == 0) {
        FHasGrab = false;
        return false;
    }
    FGrabIndex = job.Slot;
    FHasGrab = true;
    FLastGrabbed = job.Number;
    // The display freezes on the grabbed frame; when that is the frame it shows
    // already, the picture stays as it is and needs no paint, and resuming the
    // display later shows only a newer one.
    const bool shownAlready = !FFrozen && FHasDisplayFrame && job.Number == FLastShown;
    FFrozen = true;
    FLastShown = job.Number;
    if (!shownAlready) {
        emit PictureChanged();
    }
    return true;
}

void TCaptureSession::WaitForGrab() {
    std::unique_lock lock(FGrabMutex);
    FGrabDone.wait(lock, [this] { return !FGrabRunning; });
}

const QImage& TCaptureSession::GrabbedFrame() const {
    static const QImage none;
    const std::shared_ptr<TFrameCopy>& grab = FGrabs[FGrabIndex];
    return FHasGrab && grab ? grab->Picture() : none;
}

std::shared_ptr<const TFrameCopy> TCaptureSession::GrabbedCopy() const {
    return FHasGrab ? FGrabs[FGrabIndex] : nullptr;
}

std::vector<TVideoFormat> TCaptureSession::Formats() const {
    return FDriver ? FDriver->Formats() : std::vector<TVideoFormat>{};
}

TVideoFormat TCaptureSession::CurrentFormat() const {
    return FDriver ? FDriver->CurrentFormat() : TVideoFormat{};
}

void TCaptureSession::SetFormat(const TVideoFormat& format) {
    if (!FDriver) {
        return;
    }
    FDriver->SetFormat(format);
    FLastShown = 0;
    Poll();
}

void TCaptureSession::SetDisplay(bool preview, bool overlay) {
    FPreview = preview;
    FOverlay = overlay;
    FFrozen = false;
    FOverlayPending = false;
    if (FPreview && !FOverlay) {
        // Resumed after each grab: a running timer keeps its beat, so the
        // display shows a frame every preview interval however the steps fall.
        if (!FPreviewTimer->isActive() || FPreviewTimer->interval() != FPreviewRate) {
            FPreviewTimer->start(FPreviewRate);
        }
    } else {
        FPreviewTimer->stop();
    }
    if (FPreview || FOverlay) {
        ShowNewestFrame();
    }
}

void TCaptureSession::SetPreviewRate(int milliseconds) {
    FPreviewRate = std::max(1, milliseconds);
    if (FPreviewTimer->isActive()) {
        FPreviewTimer->start(FPreviewRate);
    }
}

void TCaptureSession::SetScaling(bool scale, bool keepAspect) {
    FScale = scale;
    FKeepAspect = keepAspect;
    emit PictureChanged();
}

void TCaptureSession::FrameArrived() {
    FOverlayPending = false;
    if (FOverlay && !FFrozen) {
        ShowNewestFrame();
    }
}

void TCaptureSession::ShowNewestFrame() {
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
    emit PictureChanged();
}

bool TCaptureSession::ShowingLiveFrames() const {
    return FDriver && FHasDisplayFrame && !(FFrozen && FHasGrab) &&
           FDriver->Signal().State == TSourceState::Live;
}

bool TCaptureSession::WithPicture(const std::function<void(const TFrameView&)>& draw) const {
    if (FFrozen && FHasGrab && FGrabs[FGrabIndex]) {
        draw(FGrabs[FGrabIndex]->View());
        return true;
    }
    return FDriver && FHasDisplayFrame && FDriver->WithNewestView(draw) != 0;
}

bool TCaptureSession::StartRecording(const std::string& fileName, int framesPerSecond) {
    return FDriver && !FDriver->Recording() && FDriver->StartRecording(fileName, framesPerSecond);
}

void TCaptureSession::StopRecording() {
    if (FDriver && FDriver->Recording()) {
        FDriver->StopRecording();
    }
}

bool TCaptureSession::Recording() const {
    return FDriver && FDriver->Recording();
}

void TCaptureSession::RecordNewestFrame() {
    if (FDriver && FDriver->Recording()) {
        FDriver->RecordNewestFrame();
    }
}
