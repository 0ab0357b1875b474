#include "capture/FrameExchange.h"

#include "capture/FrameConversion.h"
#include "capture/FrameTap.h"
#include "capture/PlatformTypes.h"

#include <algorithm>
#include <utility>

namespace {

using namespace std::chrono_literals;

// The longest time between two frames that still counts as a steady stream.
std::chrono::milliseconds StallAfter(std::chrono::nanoseconds interval) {
    return std::max<std::chrono::milliseconds>(
        1000ms, std::chrono::duration_cast<std::chrono::milliseconds>(4 * interval));
}

} // namespace

TFrameExchange::TFrameExchange(QString sourceName) : FStatus(std::move(sourceName)) {}

void TFrameExchange::Rename(const QString& name) {
    FStatus.Rename(name);
}

void TFrameExchange::Tell(TSourceStatus::TChange change) {
    if (change.Changed) {
        FFrame.Wake(); // a waiter for a frame looks at the standing again
    }
    if (change.Tell) {
        FStatusNotify.Call([](const std::function<void()>& notify) { notify(); });
    }
}

void TFrameExchange::Offer(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps) {
        return;
    }
    {
        const std::lock_guard lock(FRecorderMutex);
        if (FRecorder) {
            FRecorder->Offer(buffer, caps);
        }
    }
    const auto now = TClock::now();
    QString reached;
    if (!FFrame.Offer(buffer, caps, now, reached)) {
        return;
    }
    bool tell = false;
    if (!reached.isNull()) {
        tell = FStatus.Push(IDS_CAP_STAT_FORMAT_CHANGED, reached).Tell;
    }
    const TSourceStatus::TChange change = FStatus.FrameArrived(now);
    FFrameNotify.Call([](const std::function<void()>& notify) { notify(); });
    Tell({change.Changed, change.Tell || tell});
}

void TFrameExchange::OfferToTap(GstPad* pad, GstBuffer* buffer) {
    FTap.Call([pad, buffer](TFrameTap* tap) {
        const TCapsPtr caps(gst_pad_get_current_caps(pad));
        if (caps) {
            const TSamplePtr sample(gst_sample_new(buffer, caps.get(), nullptr, nullptr));
            tap->OnSourceFrame(sample.get());
        }
    });
}

void TFrameExchange::SetState(TSourceState state, const QString& reason, int statusId) {
    const TSourceStatus::TChange change = FStatus.SetState(state, reason, statusId);
    if (change.Changed && state == TSourceState::Connecting) {
        FFrame.Restart();
    }
    if (change.Changed && state == TSourceState::Lost) {
        // The last frame of a connection that is gone is no frame of the source now.
        FFrame.Drop();
    }
    Tell(change);
}

TSourceSignal TFrameExchange::Signal() const {
    return FStatus.Signal();
}

std::uint64_t TFrameExchange::FramesSinceConnecting() const {
    return FFrame.FramesSinceRestart();
}

std::vector<TDriverStatus> TFrameExchange::TakeStatus() {
    return FStatus.Take();
}

std::uint64_t TFrameExchange::NewestNumber() const {
    return FFrame.Number();
}

bool TFrameExchange::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) {
    return FFrame.WaitForFrameAfter(after, limit, [this] { return FStatus.Live(); });
}

std::uint64_t TFrameExchange::WithNewestView(const std::function<void(const TFrameView&)>& use) {
    return FFrame.WithView(use);
}

std::uint64_t TFrameExchange::WithNewest(const std::function<void(const QImage&)>& use) {
    return WithNewestView([&use](const TFrameView& view) {
        if (view.Format == TFrameFormat::Bgr24) {
            use(QImage(view.Plane[0], view.Width, view.Height, view.Stride[0],
                       QImage::Format_BGR888));
            return;
        }
        QImage converted;
        FrameToBgrImage(view, converted);
        use(converted);
    });
}

std::uint64_t TFrameExchange::CopyNewest(QImage& target) {
    return WithNewestView([&target](const TFrameView& view) { FrameToBgrImage(view, target); });
}

void TFrameExchange::NewestFormat(int& width, int& height, int& framesPerSecond) const {
    FFrame.Format(width, height, framesPerSecond);
}

void TFrameExchange::ExpectSize(int width, int height, const QString& text) {
    if (!FFrame.ExpectSize(width, height, text)) {
        // Nothing to wait for: the size is there already, or any size will do.
        Tell(FStatus.Push(IDS_CAP_STAT_FORMAT_CHANGED, text));
    }
}

void TFrameExchange::SetRateLimit(int framesPerSecond) {
    FFrame.SetRateLimit(framesPerSecond);
}

std::chrono::milliseconds TFrameExchange::CheckStall(TClock::time_point now) {
    const TNewestFrame::TArrivals arrivals = FFrame.Arrivals(now);
    TSourceStatus::TChange change;
    const auto quiet =
        FStatus.CheckStall(now, arrivals.Last, StallAfter(arrivals.Interval), change);
    Tell(change);
    return quiet;
}

void TFrameExchange::SetFrameNotifier(std::function<void()> notify) {
    FFrameNotify.Set(std::move(notify));
}

void TFrameExchange::SetStatusNotifier(std::function<void()> notify) {
    FStatusNotify.Set(std::move(notify));
    FStatus.Retell();
}

void TFrameExchange::SetTap(TFrameTap* tap) {
    FTap.Set(tap);
}

void TFrameExchange::SetRecorder(std::unique_ptr<TRecorder> recorder) {
    const std::lock_guard lock(FRecorderMutex);
    FRecorder = std::move(recorder);
}

std::unique_ptr<TRecorder> TFrameExchange::TakeRecorder() {
    const std::lock_guard lock(FRecorderMutex);
    return std::move(FRecorder);
}

bool TFrameExchange::Recording() const {
    const std::lock_guard lock(FRecorderMutex);
    return FRecorder != nullptr;
}

std::uint64_t TFrameExchange::RecordedFrames() const {
    const std::lock_guard lock(FRecorderMutex);
    return FRecorder ? FRecorder->Frames() : 0;
}

void TFrameExchange::WithRecorder(const std::function<void(TRecorder&)>& use) {
    const std::lock_guard lock(FRecorderMutex);
    if (FRecorder) {
        use(*FRecorder);
    }
}

void TFrameExchange::Detach() {
    FTap.Set(nullptr);
    FFrameNotify.Set(nullptr);
    FStatusNotify.Set(nullptr);
}
