// The hand-off between a streaming thread and the window: the window's
// notifiers are called with no lock of the exchange held, so they may ask it
// what arrived, and none is called once the exchange is detached.

#include "capture/FrameExchange.h"
#include "capture/PlatformTypes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A 4 x 2 BGR frame, as an appsink hands it over.
TSamplePtr SmallFrame() {
    const TCapsPtr caps(
        gst_caps_from_string("video/x-raw,format=BGR,width=4,height=2,framerate=30/1"));
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 12 * 2, nullptr);
    TSamplePtr sample(gst_sample_new(buffer, caps.get(), nullptr, nullptr));
    gst_buffer_unref(buffer);
    return sample;
}

// Offers `sample` on a thread of its own, as a streaming thread does; false when the
// offer does not return within a generous deadline (a notifier waits on the exchange).
bool OfferFromStreamingThread(TFrameExchange& exchange, GstSample* sample) {
    std::mutex mutex;
    std::condition_variable changed;
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([&exchange, sample, done, &changed, &mutex] {
        exchange.Offer(sample);
        const std::lock_guard lock(mutex);
        *done = true;
        changed.notify_all();
    }).detach();
    std::unique_lock lock(mutex);
    const bool returned = changed.wait_for(lock, 60s, [&] { return done->load(); });
    if (!returned) {
        // The thread is stuck for good; the test fails, and the process must not end
        // while it still refers to the locals above.
        std::quick_exit(1);
    }
    return returned;
}

TEST(FrameExchange, NotifiersAskTheExchangeFromInsideAndStopAtDetach) {
    ASSERT_TRUE(EnsureGStreamer());
    TFrameExchange exchange(QStringLiteral("Test scene"));
    std::atomic<std::uint64_t> numberSeen{0};
    std::atomic<int> frameCalls{0};
    std::vector<TDriverStatus> statusSeen; // written on the streaming thread only
    exchange.SetFrameNotifier([&] {
        ++frameCalls;
        numberSeen = exchange.NewestNumber();
    });
    exchange.SetStatusNotifier([&] {
        for (TDriverStatus& status : exchange.TakeStatus()) {
            statusSeen.push_back(std::move(status));
        }
    });
    const TSamplePtr frame = SmallFrame();
    ASSERT_TRUE(OfferFromStreamingThread(exchange, frame.get()));
    EXPECT_EQ(numberSeen, 1u);
    ASSERT_EQ(statusSeen.size(), 1u);
    EXPECT_EQ(statusSeen[0].Id, IDS_CAP_STAT_DRIVER_CONNECTED);
    EXPECT_EQ(statusSeen[0].Text, QStringLiteral("Connected to Test scene"));
    EXPECT_EQ(exchange.Signal().State, TSourceState::Live);

    // A second frame is told as a frame; a live source has no news.
    ASSERT_TRUE(OfferFromStreamingThread(exchange, frame.get()));
    EXPECT_EQ(numberSeen, 2u);
    EXPECT_EQ(statusSeen.size(), 1u);

    exchange.Detach();
    exchange.SetState(TSourceState::Lost, QStringLiteral("gone"), IDS_CAP_STAT_SOURCE_LOST);
    ASSERT_TRUE(OfferFromStreamingThread(exchange, frame.get()));
    EXPECT_EQ(frameCalls, 2);
    EXPECT_EQ(statusSeen.size(), 1u);
    EXPECT_EQ(exchange.NewestNumber(), 3u) << "frames still arrive, only nobody is told";
}

} // namespace
