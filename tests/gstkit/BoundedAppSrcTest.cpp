// The bounded appsrc on a real pipeline: it never holds more frames than
// its bound, says when it is full, and makes room in the way asked for.

#include "gstkit/BoundedAppSrc.h"
#include "gstkit/GstKit.h"

#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>

namespace {

constexpr GstClockTime Deadline = 20 * GST_SECOND;

// A live source paused before its sink: what is pushed waits in the source.
struct TPausedSource {
    explicit TPausedSource(TBoundedAppSrc::TOptions options)
        : Pipeline(LaunchPipeline(TBoundedAppSrc::Description("src") +
                                  " ! appsink name=sink sync=false")),
          Caps(gst_caps_from_string("video/x-raw,format=GRAY8,width=2,height=2,framerate=30/1")),
          Source(Pipeline.get(), "src", Caps.get(), options) {
        SetState(Pipeline.get(), GST_STATE_PAUSED);
    }
    ~TPausedSource() { SetState(Pipeline.get(), GST_STATE_NULL); }
    TPausedSource(const TPausedSource&) = delete;
    TPausedSource& operator=(const TPausedSource&) = delete;

    bool Push(GstClockTime pts) {
        GstBuffer* frame = gst_buffer_new_allocate(nullptr, 4, nullptr);
        GST_BUFFER_PTS(frame) = pts;
        return Source.Push(frame);
    }
    // The time of the first frame that reaches the sink once playing.
    GstClockTime FirstOut() {
        SetState(Pipeline.get(), GST_STATE_PLAYING);
        const TGstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(Pipeline.get()), "sink"));
        const TSamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), Deadline));
        return sample ? GST_BUFFER_PTS(gst_sample_get_buffer(sample.get())) : GST_CLOCK_TIME_NONE;
    }

    TGstPtr<GstElement> Pipeline;
    TCapsPtr Caps;
    TBoundedAppSrc Source;
};

} // namespace

TEST(BoundedAppSrcTest, ARefusingSourceKeepsItsBoundAndTakesANewOne) {
    TPausedSource paused({2, TBoundedAppSrc::TWhenFull::Refuse, true});
    EXPECT_TRUE(paused.Push(0));
    EXPECT_TRUE(paused.Push(1));
    EXPECT_TRUE(paused.Source.Full());
    EXPECT_FALSE(paused.Push(2));
    EXPECT_EQ(paused.Source.Waiting(), 2u);
    paused.Source.SetLimit(3);
    EXPECT_TRUE(paused.Push(3));
    EXPECT_FALSE(paused.Push(4));
    EXPECT_EQ(paused.Source.Waiting(), 3u);
    EXPECT_EQ(paused.FirstOut(), 0u);
}

TEST(BoundedAppSrcTest, ALeakingSourceDropsItsOldestFrame) {
    TPausedSource paused({2, TBoundedAppSrc::TWhenFull::DropOldest, true});
    EXPECT_TRUE(paused.Push(0));
    EXPECT_TRUE(paused.Push(1));
    EXPECT_FALSE(paused.Push(2));
    EXPECT_EQ(paused.Source.Waiting(), 2u);
    EXPECT_EQ(paused.FirstOut(), 1u);
}

TEST(BoundedAppSrcTest, APipelineWithoutTheSourceIsRefused) {
    const TGstPtr<GstElement> pipeline = LaunchPipeline("fakesrc ! fakesink");
    EXPECT_THROW(TBoundedAppSrc(pipeline.get(), "src", nullptr, {}), EGstError);
}
