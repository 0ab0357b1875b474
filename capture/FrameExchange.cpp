#include "capture/FrameExchange.h"

#include "capture/FrameConversion.h"
#include "capture/FrameTap.h"
#include "capture/PlatformTypes.h"
#include "engine/GstFrameView.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

using namespace std::chrono_literals;

// The longest time between two frames that still counts as a steady stream.
std::chrono::milliseconds StallAfter(std::chrono::nanoseconds interval) {
    return std::max<std::chrono::milliseconds>(
        1000ms, std::chrono::duration_cast<std::chrono::milliseconds>(4 * interval));
}

bool SizeOf(GstCaps* caps, int& width, int& height) {
    const GstStructure* s =
        caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    return s && gst_structure_get_int(s, "width", &width) &&
           gst_structure_get_int(s, "height", &height);
}

} // namespace

TFrameExchange::TFrameExchange(QString sourceName) : FName(std::move(sourceName)) {}

void TFrameExchange::Rename(const QString& name) {
    const std::lock_guard lock(FMutex);
    FName = name;
}

void TFrameExchange::Offer(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps) {
        return;
    }
    {
        std::lock_guard lock(FRecorderMutex);
        if (FRecorder) {
            FRecorder->Offer(buffer, caps);
        }
    }
    TBufferPtr newBuffer(gst_buffer_ref(buffer));
    TCapsPtr newCaps(gst_caps_ref(caps));
    std::unique_lock lock(FMutex);
    const auto now = TClock::now();
    if (FMinInterval.count() > 0 && FLastAccepted != TClock::time_point{} &&
        now - FLastAccepted < FMinInterval * 4 / 5) {
        return; // faster than the rate asked for
    }
    if (FExpectWidth > 0) {
        int width = 0;
        int height = 0;
        if (!SizeOf(caps, width, height) || width != FExpectWidth || height != FExpectHeight) {
            return; // a frame of the old size, still on its way
        }
        FExpectWidth = FExpectHeight = 0;
        FStatus.push_back({IDS_CAP_STAT_FORMAT_CHANGED, FExpectText});
    }
    FLastAccepted = now;
    std::swap(FNewestBuffer, newBuffer);
    std::swap(FNewestCaps, newCaps);
    ++FNumber;
    ++FFramesSinceConnecting;
    if (FLastArrival != TClock::time_point{}) {
        const auto gap = std::min<std::chrono::nanoseconds>(now - FLastArrival, 2s);
        FInterval = FInterval.count() == 0 ? gap : (3 * FInterval + gap) / 4;
    }
    FLastArrival = now;
    if (FState == TSourceState::Connecting || FState == TSourceState::Stalled) {
        const QString text = FState == TSourceState::Stalled
                                 ? QStringLiteral("Frames from %1 again")
                             : FWasLive ? QStringLiteral("Connected to %1 again")
                                        : QStringLiteral("Connected to %1");
        FStatus.push_back({IDS_CAP_STAT_DRIVER_CONNECTED, text.arg(FName)});
        FState = TSourceState::Live;
        FReason.clear();
        FWasLive = true;
        FStateSince = now;
    }
    FChanged.notify_all();
    if (FFrameNotify) {
        FFrameNotify();
    }
    if (!FStatus.empty()) {
        NotifyStatus(lock);
    }
    // The frame replaced is released here, after the hand-over.
}

void TFrameExchange::OfferToTap(GstPad* pad, GstBuffer* buffer) {
    std::lock_guard lock(FTapMutex);
    if (!FTap) {
        return;
    }
    const TCapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) {
        return;
    }
    const TSamplePtr sample(gst_sample_new(buffer, caps.get(), nullptr, nullptr));
    FTap->OnSourceFrame(sample.get());
}

bool TFrameExchange::HasTap() {
    std::lock_guard lock(FTapMutex);
    return FTap != nullptr;
}

void TFrameExchange::NotifyStatus(std::unique_lock<std::mutex>&) {
    if (FStatusNotify && !FStatusNotified) {
        FStatusNotified = true;
        FStatusNotify();
    }
}

void TFrameExchange::SetState(TSourceState state, const QString& reason, int statusId) {
    std::unique_lock lock(FMutex);
    if (FState == TSourceState::Failed && state != TSourceState::Failed) {
        return;
    }
    if (state == FState && reason == FReason) {
        return;
    }
    if (state == TSourceState::Connecting) {
        FFramesSinceConnecting = 0;
        FLastArrival = {};
    }
    if (state == TSourceState::Lost) {
        // The last frame of a connection that is gone is no frame of the source now.
        FNewestBuffer.reset();
        FNewestCaps.reset();
    }
    FState = state;
    FReason = reason;
    FStateSince = TClock::now();
    if (statusId != 0 && !reason.isEmpty()) {
        FStatus.push_back({statusId, reason});
    }
    FChanged.notify_all();
    NotifyStatus(lock);
}

TSourceSignal TFrameExchange::Signal() const {
    std::lock_guard lock(FMutex);
    return {FState, FReason};
}

std::uint64_t TFrameExchange::FramesSinceConnecting() const {
    std::lock_guard lock(FMutex);
    return FFramesSinceConnecting;
}

void TFrameExchange::PushStatus(int id, const QString& text) {
    std::unique_lock lock(FMutex);
    FStatus.push_back({id, text});
    NotifyStatus(lock);
}

std::vector<TDriverStatus> TFrameExchange::TakeStatus() {
    std::lock_guard lock(FMutex);
    FStatusNotified = false;
    return std::exchange(FStatus, {});
}

std::uint64_t TFrameExchange::NewestNumber() const {
    std::lock_guard lock(FMutex);
    return FNewestBuffer ? FNumber : 0;
}

std::chrono::nanoseconds TFrameExchange::IntervalLocked() const {
    return FInterval;
}

bool TFrameExchange::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) {
    std::unique_lock lock(FMutex);
    const auto ready = [&] { return FNewestBuffer && FNumber > after; };
    if (ready()) {
        return true;
    }
    if (FState != TSourceState::Live) {
        return false;
    }
    // Two frame intervals of the source; the whole limit while a new size is awaited
    // or before the rate is known.
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(2 * IntervalLocked()) + 1ms;
    if (FInterval.count() == 0 || FExpectWidth > 0) {
        wait = limit;
    }
    FChanged.wait_for(lock, std::min(wait, limit),
                      [&] { return ready() || FState != TSourceState::Live; });
    return ready();
}

std::uint64_t TFrameExchange::MapNewest(GstVideoFrame& frame, TFrameView& view) {
    TBufferPtr buffer;
    TCapsPtr caps;
    std::uint64_t number = 0;
    {
        std::lock_guard lock(FMutex);
        if (!FNewestBuffer) {
            return 0;
        }
        buffer.reset(gst_buffer_ref(FNewestBuffer.get()));
        caps.reset(gst_caps_ref(FNewestCaps.get()));
        number = FNumber;
    }
    // The mapped frame holds a reference of its own to the buffer.
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps.get()) ||
        !gst_video_frame_map(&frame, &info, buffer.get(), GST_MAP_READ)) {
        return 0;
    }
    if (!ViewOfVideoFrame(frame, view)) {
        gst_video_frame_unmap(&frame);
        return 0;
    }
    return number;
}

std::uint64_t TFrameExchange::WithNewestView(const std::function<void(const TFrameView&)>& use) {
    GstVideoFrame frame;
    TFrameView view;
    const std::uint64_t number = MapNewest(frame, view);
    if (number == 0) {
        return 0;
    }
    const std::unique_ptr<GstVideoFrame, decltype(&gst_video_frame_unmap)> mapped(
        &frame, &gst_video_frame_unmap);
    use(view);
    return number;
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
    width = height = framesPerSecond = 0;
    std::lock_guard lock(FMutex);
    GstVideoInfo info;
    if (FNewestCaps && gst_video_info_from_caps(&info, FNewestCaps.get())) {
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        if (GST_VIDEO_INFO_FPS_D(&info) > 0) {
            framesPerSecond = GST_VIDEO_INFO_FPS_N(&info) / GST_VIDEO_INFO_FPS_D(&info);
        }
    }
}

void TFrameExchange::ExpectSize(int width, int height, const QString& text) {
    std::unique_lock lock(FMutex);
    int currentWidth = 0;
    int currentHeight = 0;
    const bool same = SizeOf(FNewestCaps.get(), currentWidth, currentHeight) &&
                      currentWidth == width && currentHeight == height;
    if (width <= 0 || height <= 0 || same) {
        FExpectWidth = FExpectHeight = 0;
        FStatus.push_back({IDS_CAP_STAT_FORMAT_CHANGED, text});
        NotifyStatus(lock);
        return;
    }
    FExpectWidth = width;
    FExpectHeight = height;
    FExpectText = text;
    FExpectSince = TClock::now();
    // The frames of the old size are not handed out any more.
    FNewestBuffer.reset();
    FNewestCaps.reset();
}

std::chrono::milliseconds TFrameExchange::CheckStall(TClock::time_point now) {
    std::unique_lock lock(FMutex);
    if (FExpectWidth > 0 && now - FExpectSince > 3s) {
        // The source cannot be brought to that size: take what it gives.
        FExpectWidth = FExpectHeight = 0;
    }
    const auto since = FState == TSourceState::Live && FLastArrival != TClock::time_point{}
                           ? FLastArrival
                           : FStateSince;
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - since);
    if (FState == TSourceState::Live && quiet > StallAfter(FInterval)) {
        FState = TSourceState::Stalled;
        FReason = QStringLiteral("No frames from %1").arg(FName);
        FStateSince = now;
        FStatus.push_back({IDS_CAP_STAT_SOURCE_LOST, FReason});
        FChanged.notify_all();
        NotifyStatus(lock);
    }
    return quiet;
}

void TFrameExchange::SetRateLimit(int framesPerSecond) {
    std::lock_guard lock(FMutex);
    FMinInterval = framesPerSecond > 0 ? std::chrono::nanoseconds(1s) / framesPerSecond
                                       : std::chrono::nanoseconds(0);
}

void TFrameExchange::SetFrameNotifier(std::function<void()> notify) {
    std::lock_guard lock(FMutex);
    FFrameNotify = std::move(notify);
}

void TFrameExchange::SetStatusNotifier(std::function<void()> notify) {
    std::lock_guard lock(FMutex);
    FStatusNotify = std::move(notify);
    FStatusNotified = false;
}

void TFrameExchange::SetTap(TFrameTap* tap) {
    std::lock_guard lock(FTapMutex);
    FTap = tap;
}

void TFrameExchange::SetRecorder(std::unique_ptr<TRecorder> recorder) {
    std::lock_guard lock(FRecorderMutex);
    FRecorder = std::move(recorder);
}

std::unique_ptr<TRecorder> TFrameExchange::TakeRecorder() {
    std::lock_guard lock(FRecorderMutex);
    return std::move(FRecorder);
}

bool TFrameExchange::Recording() const {
    std::lock_guard lock(FRecorderMutex);
    return FRecorder != nullptr;
}

std::uint64_t TFrameExchange::RecordedFrames() const {
    std::lock_guard lock(FRecorderMutex);
    return FRecorder ? FRecorder->Frames() : 0;
}

void TFrameExchange::WithRecorder(const std::function<void(TRecorder&)>& use) {
    std::lock_guard lock(FRecorderMutex);
    if (FRecorder) {
        use(*FRecorder);
    }
}

void TFrameExchange::Detach() {
    {
        std::lock_guard lock(FTapMutex);
        FTap = nullptr;
    }
    std::lock_guard lock(FMutex);
    FFrameNotify = nullptr;
    FStatusNotify = nullptr;
}
