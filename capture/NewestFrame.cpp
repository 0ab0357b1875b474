#include "capture/NewestFrame.h"

#include "engine/GstFrameView.h"

#include <memory>
#include <utility>

namespace {

using namespace std::chrono_literals;

bool SizeOf(GstCaps* caps, int& width, int& height) {
    const GstStructure* s =
        caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    return s && gst_structure_get_int(s, "width", &width) &&
           gst_structure_get_int(s, "height", &height);
}

} // namespace

// With the lock held: whether the frame is not taken (too fast, or of the old size).
bool TNewestFrame::Refused(GstCaps* caps, TClock::time_point now, QString& reached) {
    if (FMinInterval.count() > 0 && FLastAccepted != TClock::time_point{} &&
        now - FLastAccepted < FMinInterval * 4 / 5) {
        return true; // faster than the rate asked for
    }
    if (FExpectWidth > 0) {
        int width = 0;
        int height = 0;
        if (!SizeOf(caps, width, height) || width != FExpectWidth || height != FExpectHeight) {
            return true; // a frame of the old size, still on its way
        }
        FExpectWidth = FExpectHeight = 0;
        reached = FExpectText;
    }
    return false;
}

bool TNewestFrame::Offer(GstBuffer* buffer, GstCaps* caps, TClock::time_point now,
                         QString& reached) {
    TBufferPtr newBuffer(gst_buffer_ref(buffer));
    TCapsPtr newCaps(gst_caps_ref(caps));
    {
        const std::lock_guard lock(FMutex);
        if (Refused(caps, now, reached)) {
            return false;
        }
        FLastAccepted = now;
        std::swap(FBuffer, newBuffer);
        std::swap(FCaps, newCaps);
        ++FNumber;
        ++FSinceRestart;
        if (FLastArrival != TClock::time_point{}) {
            const auto gap = std::min<std::chrono::nanoseconds>(now - FLastArrival, 2s);
            FInterval = FInterval.count() == 0 ? gap : (3 * FInterval + gap) / 4;
        }
        FLastArrival = now;
    }
    FChanged.notify_all();
    return true; // the frame replaced is released here, after the hand-over
}

std::uint64_t TNewestFrame::Number() const {
    const std::lock_guard lock(FMutex);
    return FBuffer ? FNumber : 0;
}

void TNewestFrame::Wake() {
    {
        // Taken so that a waiter between its test and its wait cannot miss the call.
        const std::lock_guard lock(FMutex);
    }
    FChanged.notify_all();
}

std::uint64_t TNewestFrame::WithView(const std::function<void(const TFrameView&)>& use) {
    TBufferPtr buffer;
    GstVideoInfo info;
    std::uint64_t number = 0;
    {
        const std::lock_guard lock(FMutex);
        if (!FBuffer) {
            return 0;
        }
        if (FInfoCaps.get() != FCaps.get()) {
            if (!gst_video_info_from_caps(&FInfo, FCaps.get())) {
                FInfoCaps.reset();
                return 0;
            }
            FInfoCaps.reset(gst_caps_ref(FCaps.get()));
        }
        buffer.reset(gst_buffer_ref(FBuffer.get()));
        info = FInfo;
        number = FNumber;
    }
    // The mapped frame holds a reference of its own to the buffer.
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer.get(), GST_MAP_READ)) {
        return 0;
    }
    const std::unique_ptr<GstVideoFrame, decltype(&gst_video_frame_unmap)> mapped(
        &frame, &gst_video_frame_unmap);
    TFrameView view;
    if (!ViewOfVideoFrame(frame, view)) {
        return 0;
    }
    use(view);
    return number;
}

void TNewestFrame::Format(int& width, int& height, int& framesPerSecond) const {
    width = height = framesPerSecond = 0;
    const std::lock_guard lock(FMutex);
    GstVideoInfo info;
    if (FCaps && gst_video_info_from_caps(&info, FCaps.get())) {
        width = GST_VIDEO_INFO_WIDTH(&info);
        height = GST_VIDEO_INFO_HEIGHT(&info);
        if (GST_VIDEO_INFO_FPS_D(&info) > 0) {
            framesPerSecond = GST_VIDEO_INFO_FPS_N(&info) / GST_VIDEO_INFO_FPS_D(&info);
        }
    }
}

bool TNewestFrame::ExpectSize(int width, int height, const QString& text) {
    const std::lock_guard lock(FMutex);
    int currentWidth = 0;
    int currentHeight = 0;
    const bool same = SizeOf(FCaps.get(), currentWidth, currentHeight) && currentWidth == width &&
                      currentHeight == height;
    if (width <= 0 || height <= 0 || same) {
        FExpectWidth = FExpectHeight = 0;
        return false;
    }
    FExpectWidth = width;
    FExpectHeight = height;
    FExpectText = text;
    FExpectSince = TClock::now();
    // The frames of the old size are not handed out any more.
    FBuffer.reset();
    FCaps.reset();
    return true;
}

void TNewestFrame::SetRateLimit(int framesPerSecond) {
    const std::lock_guard lock(FMutex);
    FMinInterval = framesPerSecond > 0 ? std::chrono::nanoseconds(1s) / framesPerSecond
                                       : std::chrono::nanoseconds(0);
}

void TNewestFrame::Restart() {
    const std::lock_guard lock(FMutex);
    FSinceRestart = 0;
    FLastArrival = {};
}

void TNewestFrame::Drop() {
    const std::lock_guard lock(FMutex);
    FBuffer.reset();
    FCaps.reset();
}

std::uint64_t TNewestFrame::FramesSinceRestart() const {
    const std::lock_guard lock(FMutex);
    return FSinceRestart;
}

TNewestFrame::TArrivals TNewestFrame::Arrivals(TClock::time_point now) {
    const std::lock_guard lock(FMutex);
    if (FExpectWidth > 0 && now - FExpectSince > 3s) {
        FExpectWidth = FExpectHeight = 0;
    }
    return {FLastArrival, FInterval};
}
