#include "capture/NetworkProbe.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

struct TAddressFree {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

class TSocket {
public:
    explicit TSocket(int fd) : FFd(fd) {}
    ~TSocket() {
        if (FFd >= 0) {
            close(FFd);
        }
    }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd;
};

} // namespace

TReachability ProbeTcp(const std::string& host, int port, std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &raw) != 0 || !raw) {
        return TReachability::Unknown;
    }
    const std::unique_ptr<addrinfo, TAddressFree> addresses(raw);
    const TSocket socket(::socket(raw->ai_family, raw->ai_socktype | SOCK_NONBLOCK, 0));
    if (socket.Fd() < 0) {
        return TReachability::Unknown;
    }
    if (connect(socket.Fd(), raw->ai_addr, raw->ai_addrlen) == 0) {
        return TReachability::Open;
    }
    if (errno == ECONNREFUSED) {
        return TReachability::Refused;
    }
    if (errno != EINPROGRESS) {
        return TReachability::Unknown;
    }
    pollfd wait{socket.Fd(), POLLOUT, 0};
    const int ready = poll(&wait, 1, static_cast<int>(timeout.count()));
    if (ready == 0) {
        return TReachability::TimedOut;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (ready < 0 || getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return TReachability::Unknown;
    }
    if (error == 0) {
        return TReachability::Open;
    }
    return error == ECONNREFUSED ? TReachability::Refused
           : error == ETIMEDOUT  ? TReachability::TimedOut
                                 : TReachability::Unknown;
}
