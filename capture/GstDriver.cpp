#include "capture/GstDriver.h"

#include "capture/Catalog.h"
#include "capture/FrameExchange.h"
#include "capture/PipelineWorker.h"
#include "capture/PlatformTypes.h"
#include "capture/SourceControls.h"
#include "capture/SourceProblems.h"
#include "capture/SourceSession.h"
#include "capture/VideoFormats.h"

#include <QFormLayout>
#include <QLabel>

#include <utility>

using namespace std::chrono_literals;

namespace {

// How long a network source may go without a frame before it counts as gone.
constexpr auto NetworkStallLimit = 4s;
// How long a source may take to deliver its first frame.
constexpr auto FirstFrameLimit = 10s;

} // namespace

TGstDriver::TGstDriver(TSource source)
    : FSource(std::move(source)),
      FExchange(std::make_shared<TFrameExchange>(QString::fromStdString(FSource.Name))),
      FLooping(std::make_shared<std::atomic<bool>>(true)) {}

TGstDriver::~TGstDriver() {
    Stop();
}

// A file that is not there or cannot be read is refused at once; everything else
// is made and started on the session's worker, and says how it went through the
// exchange.
bool TGstDriver::Start() {
    if (FSession) {
        return true;
    }
    const std::string problem = SourceFileProblem(FSource);
    if (!problem.empty()) {
        FExchange->SetState(TSourceState::Failed, QString::fromStdString(problem),
                            IDS_CAP_STAT_STREAM_ERROR);
        return false;
    }
    auto session = std::make_shared<TSourceSession>();
    session->Source = FSource;
    session->Name = QString::fromStdString(FSource.Name);
    session->Exchange = FExchange;
    session->Worker = std::make_shared<TPipelineWorker>();
    session->Looping = FLooping;
    if (FSource.Kind == TSourceKind::TestScene) {
        FFormat = {640, 480, 30, SizeCaps(640, 480, 30)};
    }
    FSession = session;
    session->Worker->Post([session] {
        session->Build();
        session->Play();
    });
    return true;
}

void TGstDriver::Stop() {
    StopRecording();
    if (!FSession) {
        return;
    }
    FExchange->Detach();
    const std::shared_ptr<TSourceSession> session = std::move(FSession);
    session->Stopped = true;
    session->Worker->Post([session] { session->TearDown(); });
    // A local pipeline is down in a few milliseconds; a network source that hangs
    // is left to finish in the background.
    session->Worker->Finish(80ms);
}

void TGstDriver::SetFrameNotifier(std::function<void()> notify) {
    FExchange->SetFrameNotifier(std::move(notify));
}

void TGstDriver::SetStatusNotifier(std::function<void()> notify) {
    FExchange->SetStatusNotifier(std::move(notify));
}

void TGstDriver::SetFrameTap(TFrameTap* tap) {
    FExchange->SetTap(tap);
}

std::uint64_t TGstDriver::NewestFrameNumber() const {
    return FExchange->NewestNumber();
}

bool TGstDriver::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) {
    return FExchange->WaitForFrameAfter(after, limit);
}

std::uint64_t TGstDriver::WithNewestFrame(const std::function<void(const QImage&)>& use) {
    return FExchange->WithNewest(use);
}

std::uint64_t TGstDriver::WithNewestView(const std::function<void(const TFrameView&)>& use) {
    return FExchange->WithNewestView(use);
}

std::uint64_t TGstDriver::CopyNewestFrame(QImage& target) {
    return FExchange->CopyNewest(target);
}

std::vector<TDriverStatus> TGstDriver::TakeStatus() {
    return FExchange->TakeStatus();
}

TSourceSignal TGstDriver::Signal() const {
    return FExchange->Signal();
}

void TGstDriver::Watch() {
    if (!FSession) {
        return;
    }
    const auto quiet = FExchange->CheckStall(TFrameExchange::TClock::now());
    const TSourceSignal signal = FExchange->Signal();
    if (FSource.Network()) {
        if ((signal.State == TSourceState::Stalled && quiet > NetworkStallLimit) ||
            (signal.State == TSourceState::Connecting && quiet > FirstFrameLimit)) {
            FSession->Faults.ConnectionFailed({}); // no picture arrived, and no error said why
        }
    } else if (signal.State == TSourceState::Connecting && quiet > FirstFrameLimit &&
               signal.Reason.isEmpty()) {
        FExchange->SetState(TSourceState::Connecting,
                            QStringLiteral("No frames from %1 yet").arg(FSession->Name),
                            IDS_CAP_STAT_SOURCE_LOST);
    }
}

std::vector<TVideoFormat> TGstDriver::Formats() const {
    return SourceFormats(FSession ? FSession->FoundOr(FSource) : FSource);
}

bool TGstDriver::Absent() const {
    return FSession && FSession->Absent;
}

std::string TGstDriver::FoundName() const {
    return FSession ? FSession->FoundOr({}).Name : std::string();
}

TVideoFormat TGstDriver::CurrentFormat() const {
    TVideoFormat current = FFormat;
    int width = 0;
    int height = 0;
    int rate = 0;
    FExchange->NewestFormat(width, height, rate);
    if (width > 0) {
        current.Width = width;
        current.Height = height;
        current.FramesPerSecond = rate;
    }
    return current;
}

// The new size and rate are set on the capsfilter behind the scaling and rate
// conversion: the pipeline renegotiates while it runs and the source goes on.
bool TGstDriver::SetFormat(const TVideoFormat& format) {
    if (!FSession || !EnsureGStreamer()) {
        return false;
    }
    // The size goes on the capsfilter behind the scaling. The rate is a ceiling on the
    // frames handed over, which also holds for sources without a fixed rate (HTTP
    // cameras send frames as they come; a rate conversion cannot negotiate with them).
    TCapsPtr caps = CapsFromText(
        format.Width > 0 && format.Height > 0
            ? QStringLiteral("video/x-raw,width=%1,height=%2").arg(format.Width).arg(format.Height)
            : QStringLiteral("video/x-raw"));
    if (!caps) {
        return false;
    }
    FFormat = format;
    FExchange->ExpectSize(format.Width, format.Height,
                          QStringLiteral("Video format: %1").arg(format.Text()));
    FExchange->SetRateLimit(format.FramesPerSecond);
    FSession->SetCaps(std::move(caps));
    return true;
}

TGstPtr<GstElement> TGstDriver::SourceElement() const {
    return FSession ? FSession->SourceElementRef() : nullptr;
}

void TGstDriver::AddSourceControls(QWidget* dialog, QFormLayout* layout) {
    // Null until the pipeline is made: the source has no controls yet.
    const TGstPtr<GstElement> source = FSession ? FSession->SourceElementRef() : nullptr;
    switch (FSource.Kind) {
    case TSourceKind::TestScene:
        AddPatternControl(source.get(), dialog, layout);
        break;
    case TSourceKind::File:
        AddLoopControl(FLooping, dialog, layout);
        break;
    case TSourceKind::Camera:
        AddColorBalanceControls(source.get(), dialog, layout);
        break;
    default:
        break;
    }
    if (layout->rowCount() == 0) {
        layout->addRow(new QLabel(QStringLiteral("This source has no controls."), dialog));
    }
}

bool TGstDriver::StartRecording(const std::string& fileName, int framesPerSecond) {
    if (!FSession || FExchange->Recording()) {
        return false;
    }
    FRecordingError.clear();
    std::unique_ptr<TRecorder> recorder =
        TRecorder::Start(fileName, framesPerSecond, FRecordingError);
    if (!recorder) {
        return false;
    }
    FLastRecorded = 0;
    FLastDropped = 0;
    FExchange->SetRecorder(std::move(recorder));
    return true;
}

void TGstDriver::StopRecording() {
    if (std::unique_ptr<TRecorder> recorder = FExchange->TakeRecorder()) {
        // Finishes the file; the streaming threads go on meanwhile.
        recorder->Finish();
        FLastRecorded = recorder->Frames();
        FLastDropped = recorder->Dropped();
    }
}

bool TGstDriver::Recording() const {
    return FExchange->Recording();
}

std::uint64_t TGstDriver::RecordedFrames() const {
    return FExchange->Recording() ? FExchange->RecordedFrames() : FLastRecorded;
}

void TGstDriver::RecordNewestFrame() {
    FExchange->WithRecorder([](TRecorder& recorder) { recorder.AdmitNewest(); });
}

std::uint64_t TGstDriver::DroppedFrames() const {
    std::uint64_t dropped = FLastDropped;
    FExchange->WithRecorder([&dropped](TRecorder& recorder) { dropped = recorder.Dropped(); });
    return dropped;
}

std::string TGstDriver::RecordingError() {
    FExchange->WithRecorder([this](TRecorder& recorder) { FRecordingError = recorder.Error(); });
    return FRecordingError;
}
