#include "tests/support/MjpegHttpServer.h"
#include "tests/support/GstTestUtil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

constexpr int FrameCycle = 30; // frames encoded once and sent round and round
constexpr const char* Boundary = "stirwatchframe";
constexpr size_t EndlessChunk = 64 * 1024;
constexpr size_t EndlessCap = 256u << 20;
constexpr auto EndlessPause = std::chrono::milliseconds(2); // per chunk: 32 MB a second

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

bool SendAll(int fd, const std::string& text) {
    return SendAll(fd, text.data(), text.size());
}

// Reads the request up to its blank line; what it asks for does not matter.
bool ReadRequest(int fd) {
    std::string request;
    char chunk[512];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            return false;
        }
        request.append(chunk, size_t(got));
    }
    return true;
}

} // namespace

struct TMjpegHttpServer::TImpl {
    TMjpegMode Mode;
    std::chrono::microseconds Interval;
    std::vector<std::string> Frames;
    int Port = 0;
    int ListenFd = -1;
    int Wake[2] = {-1, -1}; // written to end the accepting thread
    std::thread Acceptor;

    std::mutex Mutex;
    std::condition_variable Changed;
    bool Stopping = false;
    bool Stalled = false;
    bool Endless = false;
    std::vector<int> Clients;
    std::vector<std::thread> ClientThreads;
    std::atomic<int> Sent{0};

    void Accept();
    void Serve(int fd);
    std::string Header() const;
    std::string Part(const std::string& jpeg) const;
    void SendEndlessPart(int fd);
};

std::string TMjpegHttpServer::TImpl::Header() const {
    std::string type = Mode == TMjpegMode::Multipart
                           ? std::string("multipart/x-mixed-replace;boundary=") + Boundary
                           : std::string("video/x-motion-jpeg");
    return "HTTP/1.0 200 OK\r\nContent-Type: " + type +
           "\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
}

std::string TMjpegHttpServer::TImpl::Part(const std::string& jpeg) const {
    if (Mode == TMjpegMode::Plain) {
        return jpeg;
    }
    return std::string("--") + Boundary +
           "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
           "\r\n\r\n" + jpeg + "\r\n";
}

// A part announced as a picture whose end never comes: a JPEG start, then filler.
void TMjpegHttpServer::TImpl::SendEndlessPart(int fd) {
    std::string header = std::string("--") + Boundary + "\r\nContent-Type: image/jpeg\r\n\r\n";
    if (Mode == TMjpegMode::Plain) {
        header.clear();
    }
    if (!SendAll(fd, header + "\xff\xd8")) {
        return;
    }
    const std::string filler(EndlessChunk, '\x55');
    for (size_t sent = 0; sent < EndlessCap; sent += filler.size()) {
        if (!SendAll(fd, filler)) {
            return;
        }
        std::unique_lock lock(Mutex);
        if (Changed.wait_for(lock, EndlessPause, [this] { return Stopping; })) {
            return;
        }
    }
}

void TMjpegHttpServer::TImpl::Accept() {
    pollfd watched[2] = {{ListenFd, POLLIN, 0}, {Wake[0], POLLIN, 0}};
    for (;;) {
        if (poll(watched, 2, -1) < 0 || watched[1].revents != 0) {
            return;
        }
        int fd = accept(ListenFd, nullptr, nullptr);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(Mutex);
        if (Stopping) {
            close(fd);
            return;
        }
        Clients.push_back(fd);
        ClientThreads.emplace_back([this, fd] { Serve(fd); });
    }
}

void TMjpegHttpServer::TImpl::Serve(int fd) {
    bool open = ReadRequest(fd);
    bool headerSent = false;
    for (size_t frame = 0; open; ++frame) {
        bool endless = false;
        {
            std::unique_lock lock(Mutex);
            Changed.wait(lock, [this] { return Stopping || !Stalled; });
            if (Stopping) {
                break;
            }
            endless = Endless;
        }
        if (Mode == TMjpegMode::WebPage) {
            SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n\r\n"
                        "<!DOCTYPE html><html><head><title>Camera login</title></head><body>"
                        "<form><input name=user><input name=password type=password></form>"
                        "</body></html>\n");
            break;
        }
        if (!headerSent) {
            open = headerSent = SendAll(fd, Header());
        }
        if (open && endless) {
            SendEndlessPart(fd);
            break;
        }
        open = open && SendAll(fd, Part(Frames[frame % Frames.size()]));
        if (open) {
            ++Sent;
        }
        std::unique_lock lock(Mutex);
        if (Changed.wait_for(lock, Interval, [this] { return Stopping; })) {
            break;
        }
    }
    std::lock_guard lock(Mutex);
    Clients.erase(std::remove(Clients.begin(), Clients.end(), fd), Clients.end());
    close(fd);
}

TMjpegHttpServer::TMjpegHttpServer(TMjpegMode mode, int width, int height, int fps)
    : FImpl(std::make_unique<TImpl>()) {
    FImpl->Mode = mode;
    FImpl->Interval = std::chrono::microseconds(1000000 / std::max(fps, 1));
    FImpl->Frames = EncodeJpegFrames(FrameCycle, width, height);
}

TMjpegHttpServer::~TMjpegHttpServer() {
    Stop();
}

void TMjpegHttpServer::Start() {
    if (Running()) {
        return;
    }
    TImpl& d = *FImpl;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(d.Port));
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(d.Wake, O_CLOEXEC) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        throw std::runtime_error("HTTP test server cannot listen on port " +
                                 std::to_string(d.Port));
    }
    d.ListenFd = fd;
    d.Port = ntohs(address.sin_port);
    d.Acceptor = std::thread([&d] { d.Accept(); });
}

void TMjpegHttpServer::Stop() {
    if (!Running()) {
        return;
    }
    TImpl& d = *FImpl;
    {
        std::lock_guard lock(d.Mutex);
        d.Stopping = true;
        for (int fd : d.Clients) {
            shutdown(fd, SHUT_RDWR); // wakes a thread blocked reading or writing it
        }
    }
    d.Changed.notify_all();
    char wake = 1;
    (void)!write(d.Wake[1], &wake, 1);
    d.Acceptor.join();
    close(d.ListenFd);
    d.ListenFd = -1;
    for (std::thread& client : d.ClientThreads) {
        client.join();
    }
    d.ClientThreads.clear();
    close(d.Wake[0]);
    close(d.Wake[1]);
    d.Stopping = false;
}

bool TMjpegHttpServer::Running() const {
    return FImpl->Acceptor.joinable();
}

void TMjpegHttpServer::SetStalled(bool stalled) {
    {
        std::lock_guard lock(FImpl->Mutex);
        FImpl->Stalled = stalled;
    }
    FImpl->Changed.notify_all();
}

void TMjpegHttpServer::SetEndlessPart(bool endless) {
    std::lock_guard lock(FImpl->Mutex);
    FImpl->Endless = endless;
}

int TMjpegHttpServer::Port() const {
    return FImpl->Port;
}

std::string TMjpegHttpServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(FImpl->Port) + "/video.mjpg";
}

int TMjpegHttpServer::FramesSent() const {
    return FImpl->Sent;
}
