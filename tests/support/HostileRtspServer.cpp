#include "tests/support/HostileRtspServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

constexpr long long SendCap = 512LL << 20;

// Waits until `fd` is ready for `events` or the server is told to stop.
bool Ready(int fd, short events, int wake) {
    pollfd fds[2] = {{fd, events, 0}, {wake, POLLIN, 0}};
    return poll(fds, 2, -1) > 0 && !(fds[1].revents & POLLIN) && (fds[0].revents & events);
}

std::string CSeqOf(const std::string& request) {
    const auto at = request.find("CSeq:");
    if (at == std::string::npos) {
        return "0";
    }
    const auto end = request.find("\r\n", at);
    return request.substr(at + 5, end - at - 5);
}

} // namespace

struct THostileRtspServer::TImpl {
    THostileReply Reply;
    int ListenFd = -1;
    int Port = 0;
    int Wake[2] = {-1, -1};
    std::atomic<long long> Sent{0};
    std::thread Thread;

    bool Send(int fd, const std::string& text) {
        for (std::size_t done = 0; done < text.size();) {
            if (!Ready(fd, POLLOUT, Wake[0])) {
                return false;
            }
            const ssize_t sent = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            done += std::size_t(sent);
        }
        return true;
    }

    void SendHostile(int fd, const std::string& cseq) {
        std::string head = "RTSP/1.0 200 OK\r\nCSeq:" + cseq + "\r\n";
        std::string chunk;
        switch (Reply) {
        case THostileReply::HugeBody:
            head += "Content-Type: application/sdp\r\nContent-Length: 4000000000\r\n\r\n";
            chunk = "a=x-junk:" + std::string(65000, 'y') + "\r\n";
            break;
        case THostileReply::EndlessHeaderLine:
            head += "X-Endless: ";
            chunk = std::string(65536, 'y');
            break;
        case THostileReply::EndlessHeaders:
            for (int i = 0; i < 4000; ++i) {
                chunk += "X-More: abcdefgh\r\n";
            }
            break;
        }
        if (!Send(fd, head)) {
            return;
        }
        while (Sent < SendCap && Send(fd, chunk)) {
            Sent += static_cast<long long>(chunk.size());
        }
    }

    void Serve(int fd) {
        std::string request;
        char buffer[4096];
        while (Ready(fd, POLLIN, Wake[0])) {
            const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return;
            }
            request.append(buffer, std::size_t(got));
            for (auto end = request.find("\r\n\r\n"); end != std::string::npos;
                 end = request.find("\r\n\r\n")) {
                const std::string one = request.substr(0, end);
                request.erase(0, end + 4);
                if (one.rfind("OPTIONS", 0) != 0) {
                    SendHostile(fd, CSeqOf(one));
                    return;
                }
                if (!Send(fd, "RTSP/1.0 200 OK\r\nCSeq:" + CSeqOf(one) +
                                  "\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n")) {
                    return;
                }
            }
        }
    }

    void Run() {
        while (Ready(ListenFd, POLLIN, Wake[0])) {
            const int client = accept(ListenFd, nullptr, nullptr);
            if (client >= 0) {
                Serve(client);
                close(client);
            }
        }
    }
};

THostileRtspServer::THostileRtspServer(THostileReply reply) : FImpl(std::make_unique<TImpl>()) {
    FImpl->Reply = reply;
    FImpl->ListenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (FImpl->ListenFd < 0 ||
        bind(FImpl->ListenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FImpl->ListenFd, 4) != 0 ||
        getsockname(FImpl->ListenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe(FImpl->Wake) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    FImpl->Port = ntohs(address.sin_port);
    FImpl->Thread = std::thread([impl = FImpl.get()] { impl->Run(); });
}

THostileRtspServer::~THostileRtspServer() {
    const char stop = 1;
    if (write(FImpl->Wake[1], &stop, 1) != 1) {
        std::terminate();
    }
    FImpl->Thread.join();
    close(FImpl->ListenFd);
    close(FImpl->Wake[0]);
    close(FImpl->Wake[1]);
}

std::string THostileRtspServer::Url() const {
    return "rtsp://127.0.0.1:" + std::to_string(FImpl->Port) + "/camera";
}

long long THostileRtspServer::Sent() const {
    return FImpl->Sent;
}
