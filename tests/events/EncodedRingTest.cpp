#include "events/EncodedRing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr GstClockTime Frame = GST_SECOND / 10;

// Frame n of a stream with a keyframe every `gop` frames.
GstBuffer* Encoded(int n, int gop, gsize size = 100) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    GST_BUFFER_PTS(buffer) = n * Frame;
    if (n % gop != 0) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    }
    return buffer;
}

void PushFrames(TEncodedRing& ring, int from, int to, int gop, gsize size = 100) {
    for (int n = from; n < to; ++n) {
        GstBuffer* buffer = Encoded(n, gop, size);
        ring.Push(buffer);
        gst_buffer_unref(buffer);
    }
}

std::vector<GstClockTime> TimesFrom(const TEncodedRing& ring, GstClockTime from) {
    std::vector<GstClockTime> times;
    ring.ForEachFrom(from, [&](GstBuffer* buffer) { times.push_back(GST_BUFFER_PTS(buffer)); });
    return times;
}

class EncodedRing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

} // namespace

TEST_F(EncodedRing, KeepsTheSpanBackToAKeyframeAndStartsEveryReplayAtOne) {
    TEncodedRing ring(2 * GST_SECOND, 1 << 20);
    PushFrames(ring, 0, 100, 5); // 10 s, a keyframe every 0.5 s
    // Newest is 9.9 s: 7.9 s must stay reachable, so the group from 7.5 s is kept.
    EXPECT_EQ(ring.OldestPts(), 75 * Frame);
    EXPECT_EQ(ring.NewestPts(), 99 * Frame);
    EXPECT_EQ(ring.Count(), 25u);
    EXPECT_EQ(ring.Bytes(), 2500u);

    const auto times = TimesFrom(ring, 87 * Frame);
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(times.front(), 85 * Frame); // the keyframe at or before 8.7 s
    EXPECT_EQ(times.back(), 99 * Frame);
    EXPECT_EQ(times.size(), 15u);
    EXPECT_EQ(ring.StartPts(87 * Frame), 85 * Frame);
    EXPECT_EQ(ring.StartPts(90 * Frame), 90 * Frame);
    // Further back than kept: the oldest keyframe.
    EXPECT_EQ(TimesFrom(ring, 0).front(), 75 * Frame);
}

TEST_F(EncodedRing, ByteLimitDropsWholeGroupsButNeverTheLastKeyframe) {
    TEncodedRing ring(100 * GST_SECOND, 1000);
    PushFrames(ring, 0, 30, 5, 100);
    EXPECT_LE(ring.Bytes(), 1000u);
    EXPECT_EQ(ring.Count(), 10u); // two groups of five
    EXPECT_EQ(ring.OldestPts(), 20 * Frame);

    // One group heavier than the limit stays: it is the only decodable start.
    TEncodedRing tight(100 * GST_SECOND, 150);
    PushFrames(tight, 0, 4, 10, 100);
    EXPECT_EQ(tight.Count(), 4u);
    EXPECT_EQ(tight.OldestPts(), 0u);
}

TEST_F(EncodedRing, RefusesFramesThatCannotStartOrDoNotRise) {
    TEncodedRing ring(GST_SECOND, 1 << 20);
    PushFrames(ring, 1, 5, 5); // delta frames before any keyframe
    EXPECT_EQ(ring.Count(), 0u);
    EXPECT_EQ(ring.ForEachFrom(0, [](GstBuffer*) { FAIL(); }), GST_CLOCK_TIME_NONE);
    PushFrames(ring, 5, 8, 5);
    PushFrames(ring, 6, 7, 5); // time going back
    EXPECT_EQ(ring.Count(), 3u);

    // Growth past the first capacity keeps order; Clear() lets every buffer go.
    TEncodedRing large(100 * GST_SECOND, 1 << 30);
    GstBuffer* watched = Encoded(0, 10);
    large.Push(watched);
    PushFrames(large, 1, 300, 10);
    const auto times = TimesFrom(large, 0);
    ASSERT_EQ(times.size(), 300u);
    for (std::size_t i = 0; i < times.size(); ++i) {
        ASSERT_EQ(times[i], i * Frame);
    }
    EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(watched), 2);
    large.Clear();
    EXPECT_EQ(GST_MINI_OBJECT_REFCOUNT_VALUE(watched), 1);
    EXPECT_EQ(large.Bytes(), 0u);
    gst_buffer_unref(watched);
}
