// What an RTSP camera can make the program hold is bounded: the jitter buffer
// by its latency, the queues by their limits, and everything the connection
// brings in before a picture comes of it by the same 16 MB as an HTTP camera's
// part. A server of frames larger than that is cut off and named, and so is
// one whose RTSP replies never end.

#include "CaptureFixture.h"
#include "capture/GstDriver.h"
#include "capture/RtspReplyLimit.h"
#include "tests/support/HostileRtspServer.h"
#include "tests/support/RtspTestServer.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every element below `bin`, in bins of bins too, by factory name.
std::vector<std::pair<std::string, TGstPtr<GstElement>>> ElementsBelow(GstElement* bin) {
    std::vector<std::pair<std::string, TGstPtr<GstElement>>> found;
    GstIterator* items = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(items, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(element);
        found.emplace_back(factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "",
                           TGstPtr<GstElement>(GST_ELEMENT(gst_object_ref(element))));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(items);
    return found;
}

class NetworkBoundsTest : public TCaptureFixture {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        TCaptureFixture::SetUp();
    }
};

TEST_F(NetworkBoundsTest, TheRunningRtspPipelineHasItsBoundsSet) {
    TRtspTestServer server;
    server.Start();
    UseSource(QString::fromStdString(server.Url()));
    ASSERT_TRUE(ConnectAndWaitForAFrame(20000)) << Label->text().toStdString();
    auto* driver = dynamic_cast<TGstDriver*>(Window()->Driver());
    ASSERT_NE(driver, nullptr);
    const TGstPtr<GstElement> source = driver->SourceElement();
    ASSERT_TRUE(source);
    int jitterBuffers = 0;
    int queues = 0;
    for (const auto& [factory, element] : ElementsBelow(source.get())) {
        SCOPED_TRACE(factory);
        if (factory == "rtpjitterbuffer") {
            ++jitterBuffers;
            gboolean dropOnLatency = FALSE;
            guint latency = 0;
            g_object_get(element.get(), "drop-on-latency", &dropOnLatency, "latency", &latency,
                         nullptr);
            EXPECT_TRUE(dropOnLatency);
            EXPECT_GT(latency, 0u);
            EXPECT_LE(latency, 200u);
        } else if (factory == "multiqueue" || factory == "queue" || factory == "queue2") {
            // A single stream is decoded without one; any there is has a bound.
            ++queues;
            guint bytes = 0;
            guint buffers = 0;
            g_object_get(element.get(), "max-size-bytes", &bytes, "max-size-buffers", &buffers,
                         nullptr);
            // Either bound keeps the queue from growing without end.
            EXPECT_TRUE(bytes > 0 || buffers > 0) << bytes << " bytes, " << buffers << " buffers";
        }
    }
    EXPECT_GT(jitterBuffers, 0);
    std::printf("%d jitter buffers, %d queues\n", jitterBuffers, queues);
}

// Raw frames of 20 MB, over the bound, sent whole over RTP: the packets stop
// counting at 16 MB, before the depayloader has a frame to hand on, so no frame
// ever arrives; the connection is dropped, named, and tried again later.
TEST_F(NetworkBoundsTest, FramesLargerThanTheBoundAreCutOffAndNamed) {
    TRtspTestServer server =
        TRtspTestServer::Serving("( videotestsrc is-live=true pattern=black ! "
                                 "video/x-raw,format=GRAY8,width=5120,height=4096,framerate=1/1 ! "
                                 "rtpgstpay name=pay0 pt=96 mtu=60000 )");
    server.Start();
    UseSource(QString::fromStdString(server.Url()));
    ASSERT_TRUE(ConnectCamera());
    EXPECT_TRUE(WaitForStatusStartingWith("Frame too large", 30000)) << Label->text().toStdString();
    EXPECT_TRUE(Label->text().contains("trying again")) << Label->text().toStdString();
    ASSERT_NE(Window()->Driver(), nullptr);
    EXPECT_EQ(Window()->Driver()->NewestFrameNumber(), 0u);
}

// A server whose reply to the request for the session description never ends.
// A body announced as 4 GB passes the bound on RTSP replies and is refused at
// once, by name; GStreamer itself keeps one endless header line to a fixed
// buffer; header after header is cut off when no picture came in time. In
// every case the program's memory stays where it was, and the camera is tried
// again later.
TEST_F(NetworkBoundsTest, EndlessRtspRepliesAreCutOffWithoutTakingTheMemory) {
    ASSERT_TRUE(RtspReplyLimitInForce());
    const std::pair<THostileReply, QString> cases[] = {
        {THostileReply::HugeBody, "RTSP reply too large"},
        {THostileReply::EndlessHeaderLine, "No picture from"},
        {THostileReply::EndlessHeaders, "No picture from"},
    };
    for (const auto& [reply, named] : cases) {
        SCOPED_TRACE(named.toStdString());
        THostileRtspServer server(reply);
        UseSource(QString::fromStdString(server.Url()));
        ResetPeakMemory();
        const long before = StatusKb("VmRSS:");
        ASSERT_TRUE(ConnectCamera());
        EXPECT_TRUE(RunEventsUntil([&] { return Label->text().contains("trying again"); }, 40000))
            << Label->text().toStdString();
        EXPECT_TRUE(Label->text().startsWith(named)) << Label->text().toStdString();
        const long peak = StatusKb("VmHWM:");
        std::printf("RSS %ld kB, peak %ld kB, %lld bytes sent\n", before, peak, server.Sent());
#if !defined(__SANITIZE_ADDRESS__)
        EXPECT_LT(peak - before, 64 * 1024);
#endif
        DisconnectCamera();
    }
}

} // namespace
