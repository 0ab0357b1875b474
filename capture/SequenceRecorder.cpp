#include "capture/SequenceRecorder.h"

#include "capture/CaptureSession.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

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

TSequenceRecorder::TSequenceRecorder(TCaptureSession& session, QObject* parent)
    : QObject(parent), FSession(session), FTimer(new QTimer(this)) {
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, &TSequenceRecorder::Step);
}

TSequenceRecorder::~TSequenceRecorder() {
    Halt();
}

bool TSequenceRecorder::SetFile(const char* name) {
    if (!name || !*name) {
        return false;
    }
    FFile = name;
    return true;
}

QString TSequenceRecorder::FileText() const {
    return QString::fromLocal8Bit(FFile.c_str());
}

void TSequenceRecorder::ResetSetup() {
    FSetup = CAPTUREPARMS{};
    FSetup.dwRequestMicroSecPerFrame = 66667;
    FSetup.wPercentDropForError = 10;
    FSetup.fYield = 0;
    FSetup.wNumVideoRequested = 32;
    FSetup.vKeyAbort = VK_ESCAPE;
    FSetup.fAbortLeftMouse = 1;
    FSetup.fAbortRightMouse = 1;
    FSetup.wTimeLimit = 30;
}

bool TSequenceRecorder::GetSetup(CAPTUREPARMS* setup, std::size_t size) const {
    if (!FSession.CanRecord() || !setup || size == 0) {
        return false;
    }
    std::memcpy(setup, &FSetup, std::min(size, sizeof FSetup));
    return true;
}

bool TSequenceRecorder::SetSetup(const CAPTUREPARMS* setup, std::size_t size) {
    if (!FSession.CanRecord() || !setup || size == 0) {
        return false;
    }
    std::memcpy(&FSetup, setup, std::min(size, sizeof FSetup));
    return true;
}

bool TSequenceRecorder::Start() {
    if (!FSession.Connected() || FSession.Recording() || FFile.empty()) {
        return false;
    }
    const int rate = FSetup.dwRequestMicroSecPerFrame > 0
                         ? static_cast<int>((1000000 + FSetup.dwRequestMicroSecPerFrame / 2) /
                                            FSetup.dwRequestMicroSecPerFrame)
                         : 15;
    if (!FSession.StartRecording(FFile, rate)) {
        emit Status(IDS_CAP_CANTOPEN,
                    QStringLiteral("Cannot record to %1: %2")
                        .arg(FileText(), QString::fromStdString(FSession.RecordingError())));
        return false;
    }
    FStart = std::chrono::steady_clock::now();
    FTimer->start(std::max(1, 1000 / rate));
    QCoreApplication::instance()->installEventFilter(this);
    emit Status(IDS_CAP_STAT_CAP_INIT, QStringLiteral("Capturing to %1").arg(FileText()));
    return true;
}

void TSequenceRecorder::Halt() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(this);
    }
    FTimer->stop();
}

void TSequenceRecorder::Stop(bool aborted) {
    Halt();
    if (!FSession.Recording()) {
        return;
    }
    FSession.StopRecording();
    emit Status(IDS_CAP_STAT_CAP_FINI,
                QStringLiteral("%1 frames captured%2")
                    .arg(FSession.RecordedFrames())
                    .arg(aborted ? QStringLiteral(" (aborted)") : QString()));
}

// One step, once per capture interval: the count of frames written goes out as
// status, whose receiver may abort, and only then does the next frame go into
// the file. So a count that reaches the frame limit is exactly what the file holds.
void TSequenceRecorder::Step() {
    if (!FSession.Recording()) {
        FTimer->stop();
        return;
    }
    const TCaptureSession::TRequest request(FSession);
    if (const std::string error = FSession.RecordingError(); !error.empty()) {
        Stop(false);
        emit Status(IDS_CAP_WRITEERROR, QStringLiteral("Recording to %1 stopped: %2")
                                            .arg(FileText(), QString::fromStdString(error)));
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - FStart)
                             .count();
    const QPointer<TSequenceRecorder> alive(this);
    emit Status(IDS_CAP_STAT_VIDEOCURRENT, QStringLiteral("%1 frames (%2 dropped) %3.%4 sec.")
                                               .arg(FSession.RecordedFrames())
                                               .arg(FSession.DroppedFrames())
                                               .arg(elapsed / 1000)
                                               .arg(elapsed % 1000, 3, 10, QLatin1Char('0')));
    if (alive) {
        FSession.RecordNewestFrame();
    }
}

bool TSequenceRecorder::IsAbort(const QEvent* event) const {
    if (event->type() == QEvent::KeyPress) {
        const int key = QtKeyOf(FSetup.vKeyAbort);
        return key != 0 && static_cast<const QKeyEvent*>(event)->key() == key;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto button = static_cast<const QMouseEvent*>(event)->button();
        return (button == Qt::LeftButton && FSetup.fAbortLeftMouse) ||
               (button == Qt::RightButton && FSetup.fAbortRightMouse);
    }
    return false;
}

bool TSequenceRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (FSession.Recording() && IsAbort(event)) {
        Stop(true);
        return true;
    }
    return QObject::eventFilter(watched, event);
}
