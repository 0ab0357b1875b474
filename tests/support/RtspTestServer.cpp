#include "tests/support/RtspTestServer.h"
#include "tests/support/GstTestUtil.h"

#include <gst/rtsp-server/rtsp-server.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace {

struct TMainContextUnref {
    void operator()(GMainContext* context) const { g_main_context_unref(context); }
};
struct TMainLoopUnref {
    void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};
struct TSourceUnref {
    void operator()(GSource* source) const { g_source_unref(source); }
};

// The launch description of the served stream, inside the parentheses the
// media factory wants. H.264 when an encoder is installed, else JPEG.
std::string StreamDescription(const std::string& clipPath) {
    std::string source;
    if (clipPath.empty()) {
        source = "videotestsrc is-live=true pattern=smpte horizontal-speed=4 ! "
                 "video/x-raw,width=320,height=240,framerate=15/1";
    } else {
        gchar* quoted = g_strescape(clipPath.c_str(), nullptr);
        source = std::string("filesrc location=\"") + quoted + "\" ! decodebin ! videoconvert";
        g_free(quoted);
    }
    std::string encoder = H264Encoder();
    if (!encoder.empty()) {
        return "( " + source + " ! " + encoder +
               " tune=zerolatency ! rtph264pay name=pay0 pt=96 config-interval=1 )";
    }
    return "( " + source + " ! jpegenc ! rtpjpegpay name=pay0 pt=26 )";
}

GstRTSPFilterResult DropClient(GstRTSPServer*, GstRTSPClient*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

} // namespace

struct TRtspTestServer::TImpl {
    std::string Description;
    bool TcpOnly = false;
    int Port = 0;
    std::unique_ptr<GMainContext, TMainContextUnref> Context;
    std::unique_ptr<GMainLoop, TMainLoopUnref> Loop;
    std::unique_ptr<GstRTSPServer, TGstObjectUnref> Server;
    std::unique_ptr<GSource, TSourceUnref> Listener;
    std::thread Thread;
};

TRtspTestServer::TRtspTestServer(std::string clipPath) : FImpl(std::make_unique<TImpl>()) {
    EnsureGStreamer();
    FImpl->Description = StreamDescription(clipPath);
}

TRtspTestServer::TRtspTestServer(TDescription description) : FImpl(std::make_unique<TImpl>()) {
    EnsureGStreamer();
    FImpl->Description = std::move(description.Text);
    FImpl->TcpOnly = true;
}

TRtspTestServer TRtspTestServer::Serving(std::string description) {
    return TRtspTestServer(TDescription{std::move(description)});
}

TRtspTestServer::~TRtspTestServer() {
    Stop();
}

void TRtspTestServer::Start() {
    if (Running()) {
        return;
    }
    TImpl& d = *FImpl;
    d.Context.reset(g_main_context_new());
    d.Loop.reset(g_main_loop_new(d.Context.get(), FALSE));
    d.Server.reset(gst_rtsp_server_new());
    gst_rtsp_server_set_address(d.Server.get(), "127.0.0.1");
    gst_rtsp_server_set_service(d.Server.get(), std::to_string(d.Port).c_str());

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, d.Description.c_str());
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    if (d.TcpOnly) {
        gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_TCP);
    }
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(d.Server.get());
    gst_rtsp_mount_points_add_factory(mounts, "/test", factory); // takes the factory
    g_object_unref(mounts);

    GError* error = nullptr;
    d.Listener.reset(gst_rtsp_server_create_source(d.Server.get(), nullptr, &error));
    if (!d.Listener) {
        std::string text = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        d.Server.reset();
        d.Loop.reset();
        d.Context.reset();
        throw std::runtime_error("RTSP test server cannot listen on port " +
                                 std::to_string(d.Port) + ": " + text);
    }
    g_source_attach(d.Listener.get(), d.Context.get());
    d.Port = gst_rtsp_server_get_bound_port(d.Server.get());

    d.Thread = std::thread([&d] {
        g_main_context_push_thread_default(d.Context.get());
        g_main_loop_run(d.Loop.get());
        g_main_context_pop_thread_default(d.Context.get());
    });
}

void TRtspTestServer::Stop() {
    if (!Running()) {
        return;
    }
    TImpl& d = *FImpl;
    // Closing the clients and the listening socket happens on the server's own thread,
    // then its loop ends.
    GSource* closing = g_idle_source_new();
    g_source_set_callback(
        closing,
        [](gpointer data) -> gboolean {
            auto& impl = *static_cast<TImpl*>(data);
            gst_rtsp_server_client_filter(impl.Server.get(), DropClient, nullptr);
            g_source_destroy(impl.Listener.get());
            g_main_loop_quit(impl.Loop.get());
            return G_SOURCE_REMOVE;
        },
        &d, nullptr);
    g_source_attach(closing, d.Context.get());
    g_source_unref(closing);
    d.Thread.join();
    // Whatever the clients left behind (closed watches, sessions) is released here.
    while (g_main_context_iteration(d.Context.get(), FALSE)) {
    }
    d.Listener.reset();
    d.Server.reset();
    d.Loop.reset();
    d.Context.reset();
}

bool TRtspTestServer::Running() const {
    return FImpl->Thread.joinable();
}

int TRtspTestServer::Port() const {
    return FImpl->Port;
}

std::string TRtspTestServer::Url() const {
    return "rtsp://127.0.0.1:" + std::to_string(FImpl->Port) + "/test";
}

int TRtspTestServer::UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("cannot open a socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd); // bound but never listening, and now closed: connections are refused
    if (port == 0) {
        throw std::runtime_error("cannot find an unused port");
    }
    return port;
}
