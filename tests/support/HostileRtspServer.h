#pragma once
// An RTSP server on 127.0.0.1 for tests that answers the options request as a
// camera does, and then the request for the session description with a reply
// that never ends, in one of three ways. Clients are served one at a time from
// its own thread; a reply stops when the client goes away or 512 MB were sent.

#include <memory>
#include <string>

enum class THostileReply {
    HugeBody,          // announces a 4 GB description and sends it
    EndlessHeaderLine, // one header line that never ends
    EndlessHeaders,    // header line after header line, never a blank one
};

class THostileRtspServer {
public:
    explicit THostileRtspServer(THostileReply reply);
    ~THostileRtspServer();
    THostileRtspServer(const THostileRtspServer&) = delete;
    THostileRtspServer& operator=(const THostileRtspServer&) = delete;

    std::string Url() const;
    // Bytes of hostile replies sent so far.
    long long Sent() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
