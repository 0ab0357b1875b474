#pragma once
// An HTTP camera on 127.0.0.1 for tests, served from its own threads: JPEG
// frames of a moving pattern without timestamps, as multipart/x-mixed-replace
// parts (what most IP cameras send) or as plain concatenated JPEGs. Each
// client gets its first frame at once, then one per frame interval.

#include <memory>
#include <string>

// WebPage: no camera at all, a web page (a camera's login page, say).
enum class TMjpegMode { Multipart, Plain, WebPage };

class TMjpegHttpServer {
public:
    explicit TMjpegHttpServer(TMjpegMode mode = TMjpegMode::Multipart, int width = 320,
                              int height = 240, int fps = 15);
    ~TMjpegHttpServer();
    TMjpegHttpServer(const TMjpegHttpServer&) = delete;
    TMjpegHttpServer& operator=(const TMjpegHttpServer&) = delete;

    // Listens: on a free port the first time, on the same port afterwards.
    // Throws std::runtime_error when the port cannot be bound.
    void Start();
    // Closes every connection and the port. Does nothing when stopped.
    void Stop();
    bool Running() const;
    // While stalled, connections stay open but nothing more is sent on them
    // (a new connection gets not even the response header).
    void SetStalled(bool stalled);
    // While set, the next part on each connection never ends: after its header come
    // bytes that are no picture, about 32 MB a second, until the client goes away or
    // 256 MB were sent (then the connection is closed).
    void SetEndlessPart(bool endless);

    int Port() const;
    std::string Url() const;
    // Number of frames sent so far, over all connections.
    int FramesSent() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
