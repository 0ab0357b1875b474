// The test media and servers answer GStreamer's own clients: clips decode to the
// frames they were made with, the servers deliver frames, stop, and come back
// on the same port.

#include "tests/support/TestMedia.h"
#include "tests/support/GstTestUtil.h"
#include "tests/support/MjpegHttpServer.h"
#include "tests/support/RtspTestServer.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TTempFolder {
    std::string Path;
    TTempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "media-XXXXXX").string();
        Path = mkdtemp(pattern.data());
    }
    ~TTempFolder() { std::filesystem::remove_all(Path); }
};

bool ConnectionRefused(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    bool refused = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                   errno == ECONNREFUSED;
    close(fd);
    return refused;
}

// A GStreamer client pipeline ending in an appsink.
class TClient {
public:
    explicit TClient(const std::string& head)
        : FPipeline(LaunchPipeline(head + " ! videoconvert ! appsink name=sink sync=false "
                                          "max-buffers=2 drop=true wait-on-eos=false")),
          FSink(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "sink")) {
        gst_element_set_state(FPipeline.get(), GST_STATE_PLAYING);
    }
    ~TClient() { gst_element_set_state(FPipeline.get(), GST_STATE_NULL); }

    // A decoded frame arrives within the time given.
    bool Frame(int seconds) {
        GstSample* sample =
            gst_app_sink_try_pull_sample(GST_APP_SINK(FSink.get()), seconds * GST_SECOND);
        if (sample == nullptr) {
            return false;
        }
        gst_sample_unref(sample);
        return true;
    }
    // The stream ends or fails within the time given (frames still queued are skipped).
    bool Ends(int seconds) {
        std::unique_ptr<GstBus, TGstObjectUnref> bus(gst_element_get_bus(FPipeline.get()));
        TMessagePtr message(
            gst_bus_timed_pop_filtered(bus.get(), GstClockTime(seconds) * GST_SECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        return message != nullptr;
    }

private:
    TGstPtr<GstElement> FPipeline;
    TGstPtr<GstElement> FSink;
};

} // namespace

TEST(TestMedia, ClipsDecodeToTheirFramesSizeAndDuration) {
    TTempFolder folder;
    int made = 0;
    for (TClipKind kind : {TClipKind::MjpegAvi, TClipKind::H264Mp4, TClipKind::Mpeg4Avi}) {
        if (!EncoderAvailable(kind)) {
            continue;
        }
        ++made;
        std::string path = MakeTestClip(folder.Path, kind, 12, 160, 120, 10);
        SCOPED_TRACE(path);
        EXPECT_EQ(CountVideoFrames(path), 12);

        GError* error = nullptr;
        GstDiscoverer* discoverer = gst_discoverer_new(10 * GST_SECOND, &error);
        ASSERT_NE(discoverer, nullptr);
        gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
        GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
        g_free(uri);
        ASSERT_NE(info, nullptr) << (error ? error->message : "");
        GList* videos = gst_discoverer_info_get_video_streams(info);
        ASSERT_NE(videos, nullptr);
        auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
        EXPECT_EQ(gst_discoverer_video_info_get_width(video), 160u);
        EXPECT_EQ(gst_discoverer_video_info_get_height(video), 120u);
        EXPECT_NEAR(double(gst_discoverer_info_get_duration(info)) / GST_SECOND, 1.2, 0.11);
        gst_discoverer_stream_info_list_free(videos);
        gst_discoverer_info_unref(info);
        g_object_unref(discoverer);
    }
    EXPECT_TRUE(EncoderAvailable(TClipKind::MjpegAvi)); // the base plugins always have it
    EXPECT_GE(made, 1);
    EXPECT_THROW(MakeTestClip(folder.Path + "/missing", TClipKind::MjpegAvi, 2, 64, 48, 10),
                 std::runtime_error);
    EXPECT_THROW(CountVideoFrames(folder.Path + "/missing.avi"), std::runtime_error);
}

TEST(TestMedia, RtspServerServesStopsAndComesBackOnItsPort) {
    TRtspTestServer server;
    server.Start();
    const int port = server.Port();
    ASSERT_GT(port, 0);
    EXPECT_EQ(server.Url(), "rtsp://127.0.0.1:" + std::to_string(port) + "/test");
    const std::string client = "rtspsrc location=" + server.Url() + " protocols=tcp ! decodebin";
    {
        TClient watcher(client);
        ASSERT_TRUE(watcher.Frame(30));
        server.Stop();
        EXPECT_TRUE(watcher.Ends(20)) << "a dropped client sees the stream end";
    }
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(ConnectionRefused(port));

    server.Start();
    EXPECT_EQ(server.Port(), port);
    TClient again(client);
    EXPECT_TRUE(again.Frame(30));
    EXPECT_TRUE(ConnectionRefused(TRtspTestServer::UnusedPort()));
}

TEST(TestMedia, RtspServerServesAClip) {
    TTempFolder folder;
    TRtspTestServer server(MakeTestClip(folder.Path, TClipKind::MjpegAvi, 30, 160, 120, 10));
    server.Start();
    TClient watcher("rtspsrc location=" + server.Url() + " protocols=tcp ! decodebin");
    EXPECT_TRUE(watcher.Frame(30));
}

TEST(TestMedia, HttpCameraServesBothModesStallsAndComesBack) {
    for (TMjpegMode mode : {TMjpegMode::Multipart, TMjpegMode::Plain}) {
        SCOPED_TRACE(mode == TMjpegMode::Multipart ? "multipart" : "plain");
        TMjpegHttpServer server(mode, 160, 120, 15);
        server.Start();
        const int port = server.Port();
        const std::string client =
            "souphttpsrc location=" + server.Url() +
            (mode == TMjpegMode::Multipart ? " ! multipartdemux" : " ! jpegparse") + " ! jpegdec";
        {
            TClient watcher(client);
            ASSERT_TRUE(watcher.Frame(20));
            EXPECT_TRUE(watcher.Frame(20)) << "frames keep coming";
        }

        server.SetStalled(true);
        {
            TClient waiting(client);
            EXPECT_FALSE(waiting.Frame(1)) << "a stalled camera sends nothing";
            server.SetStalled(false);
            EXPECT_TRUE(waiting.Frame(20)) << "the same connection delivers once it resumes";
        }

        server.Stop();
        EXPECT_TRUE(ConnectionRefused(port));
        server.Start();
        EXPECT_EQ(server.Port(), port);
        TClient again(client);
        EXPECT_TRUE(again.Frame(20));
        EXPECT_GE(server.FramesSent(), 3);
    }
}
