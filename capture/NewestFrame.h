#pragma once
// The newest decoded frame of a source, numbered, for readers on any thread:
// the streaming thread offers each frame, the newest replaces the one before
// (which is released after the hand-over), readers map or copy it and may
// wait for the next. Frames faster than a rate limit, or of an old size while
// a new one is awaited, are not taken.

#include "capture/GstSupport.h"
#include "engine/FrameView.h"

#include <QImage>
#include <QString>

#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

class TNewestFrame {
public:
    using TClock = std::chrono::steady_clock;

    // Streaming thread: takes the frame as the newest unless it is refused. When it is
    // the first of an awaited size, `reached` is the text that size was asked for with.
    bool Offer(GstBuffer* buffer, GstCaps* caps, TClock::time_point now, QString& reached);

    // The number of the newest frame, 0 when there is none.
    std::uint64_t Number() const;
    // Waits until a frame newer than `after` is there, at most two frame intervals
    // (the whole `limit` while a new size is awaited or before the rate is known) and
    // never longer than `limit`, while `live()` holds. `live` runs with this frame's
    // lock held: it may take locks of its own but must not call back here.
    template <class Live>
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit, Live live);
    // Wakes the waiters to look at `live` again.
    void Wake();

    // Hands a view of the newest frame, as it was decoded, to `use` during the call;
    // returns the frame's number, 0 when none.
    std::uint64_t WithView(const std::function<void(const TFrameView&)>& use);
    // The size and rate of the newest frame (0 when there is none).
    void Format(int& width, int& height, int& framesPerSecond) const;

    // Frames of another size are no longer taken (and the newest goes) until one of
    // `width` x `height` arrives; false when the newest has that size already or the
    // size is 0 x 0, which accepts any size again: nothing is awaited then.
    bool ExpectSize(int width, int height, const QString& text);
    // At most `framesPerSecond` frames a second are taken (0: all of them).
    void SetRateLimit(int framesPerSecond);

    // The source starts connecting (again): arrivals are counted and timed anew.
    void Restart();
    // The newest frame is no frame of the source any more (its connection is gone).
    void Drop();
    // Frames taken since the last Restart.
    std::uint64_t FramesSinceRestart() const;

    struct TArrivals {
        TClock::time_point Last; // epoch when none arrived since the last Restart
        std::chrono::nanoseconds Interval{0};
    };
    // When the last frame came and how far apart they come. A size awaited for more
    // than three seconds is given up here: the source cannot be brought to it.
    TArrivals Arrivals(TClock::time_point now);

private:
    bool Refused(GstCaps* caps, TClock::time_point now, QString& reached);

    mutable std::mutex FMutex;
    std::condition_variable FChanged;
    TBufferPtr FBuffer;
    TCapsPtr FCaps;
    // FCaps read as video info, read again only when the caps change (a stream
    // hands over the same caps with every frame of a format).
    TCapsPtr FInfoCaps;
    GstVideoInfo FInfo{};
    std::uint64_t FNumber = 0;
    std::uint64_t FSinceRestart = 0;
    TClock::time_point FLastArrival{};
    std::chrono::nanoseconds FInterval{0};
    std::chrono::nanoseconds FMinInterval{0};
    TClock::time_point FLastAccepted{};
    int FExpectWidth = 0;
    int FExpectHeight = 0;
    QString FExpectText;
    TClock::time_point FExpectSince{};
};

template <class Live>
bool TNewestFrame::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit,
                                     Live live) {
    using namespace std::chrono_literals;
    std::unique_lock lock(FMutex);
    const auto ready = [&] { return FBuffer && FNumber > after; };
    if (ready()) {
        return true;
    }
    if (!live()) {
        return false;
    }
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(2 * FInterval) + 1ms;
    if (FInterval.count() == 0 || FExpectWidth > 0) {
        wait = limit;
    }
    FChanged.wait_for(lock, std::min(wait, limit), [&] { return ready() || !live(); });
    return ready();
}
