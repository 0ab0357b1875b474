#pragma once
// An RTSP server on 127.0.0.1 for tests: a live moving test pattern (or a clip,
// re-encoded) at rtsp://127.0.0.1:PORT/test, served from its own thread.

#include <memory>
#include <string>

class TRtspTestServer {
public:
    // With an empty path the server sends a live pattern, else the clip once through.
    explicit TRtspTestServer(std::string clipPath = {});
    // A server of any stream: a launch description in the media factory's form,
    // "( ... ! rtpXpay name=pay0 )", sent over the RTSP connection itself (TCP), so
    // that nothing of it is lost on the way.
    static TRtspTestServer Serving(std::string description);
    ~TRtspTestServer();
    TRtspTestServer(const TRtspTestServer&) = delete;
    TRtspTestServer& operator=(const TRtspTestServer&) = delete;

    // Listens: on a free port the first time, on the same port afterwards.
    // Throws std::runtime_error when the port cannot be bound.
    void Start();
    // Drops every client and closes the port. Does nothing when stopped.
    void Stop();
    bool Running() const;

    int Port() const;
    std::string Url() const;

    // A loopback port nobody listens on: connecting to it is refused.
    static int UnusedPort();

private:
    struct TDescription {
        std::string Text;
    };
    explicit TRtspTestServer(TDescription description);

    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
