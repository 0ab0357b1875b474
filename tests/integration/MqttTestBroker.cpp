#include "tests/integration/MqttTestBroker.h"

#include "integration/MosquittoLibrary.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

} // namespace

TMqttTestBroker::TMqttTestBroker(bool anonymous) : FPort(FreePort()) {
    char folder[] = "/tmp/stirwatch-broker-XXXXXX";
    FFolder = mkdtemp(folder);
    std::ofstream config(FFolder + "/mosquitto.conf");
    config << "listener " << FPort << " 127.0.0.1\n"
           << "allow_anonymous " << (anonymous ? "true" : "false") << "\n"
           << "persistence false\n"
           << "log_dest stderr\n"
           << "log_type error\n";
}

TMqttTestBroker::~TMqttTestBroker() {
    Kill();
    std::remove((FFolder + "/mosquitto.conf").c_str());
    rmdir(FFolder.c_str());
}

void TMqttTestBroker::Start() {
    const std::string config = FFolder + "/mosquitto.conf";
    const char* program = "/usr/sbin/mosquitto";
    char* const argv[] = {const_cast<char*>(program), const_cast<char*>("-c"),
                          const_cast<char*>(config.c_str()), nullptr};
    ASSERT_EQ(posix_spawn(&FPid, program, nullptr, nullptr, argv, environ), 0)
        << "cannot start " << program;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!Accepts(FPort)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the broker did not start";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TMqttTestBroker::Kill() {
    if (FPid > 0) {
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
}

TMqttSubscriber::TMqttSubscriber(int port, const std::string& pattern) {
    const TMosquittoFunctions& library = Mosquitto();
    FClient = library.New(nullptr, true, this);
    library.MessageCallbackSet(FClient, &TMqttSubscriber::OnMessage);
    EXPECT_EQ(library.Connect(FClient, "127.0.0.1", port, 30), MOSQ_ERR_SUCCESS);
    EXPECT_EQ(library.Subscribe(FClient, nullptr, pattern.c_str(), 1), MOSQ_ERR_SUCCESS);
    library.LoopStart(FClient);
}

TMqttSubscriber::~TMqttSubscriber() {
    Mosquitto().Disconnect(FClient);
    Mosquitto().LoopStop(FClient, false);
    Mosquitto().Destroy(FClient);
}

void TMqttSubscriber::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* subscriber = static_cast<TMqttSubscriber*>(self);
    TMqttMessage copy{message->topic,
                      std::string(static_cast<const char*>(message->payload),
                                  static_cast<std::size_t>(message->payloadlen)),
                      message->retain};
    const std::lock_guard lock(subscriber->FMutex);
    subscriber->FMessages.push_back(std::move(copy));
    subscriber->FArrived.notify_all();
}

TMqttMessage TMqttSubscriber::WaitFor(const std::function<bool(const TMqttMessage&)>& match,
                                      std::chrono::seconds deadline) {
    std::unique_lock lock(FMutex);
    std::size_t seen = 0;
    const auto until = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        for (; seen < FMessages.size(); ++seen) {
            if (match(FMessages[seen])) {
                return FMessages[seen];
            }
        }
        if (std::chrono::steady_clock::now() >= until) {
            break;
        }
        FArrived.wait_until(lock, until);
    }
    ADD_FAILURE() << "no matching message arrived";
    return {};
}

TMqttMessage TMqttSubscriber::WaitFor(const std::string& topic, const std::string& payload) {
    return WaitFor([&](const TMqttMessage& m) { return m.Topic == topic && m.Payload == payload; });
}

std::vector<TMqttMessage>
TMqttSubscriber::Matching(const std::function<bool(const TMqttMessage&)>& match) {
    std::vector<TMqttMessage> found;
    for (const TMqttMessage& message : Messages()) {
        if (match(message)) {
            found.push_back(message);
        }
    }
    return found;
}

std::vector<TMqttMessage> TMqttSubscriber::Messages() {
    const std::lock_guard lock(FMutex);
    return FMessages;
}

void TMqttSubscriber::Clear() {
    const std::lock_guard lock(FMutex);
    FMessages.clear();
}

void TStatusLog::Add(const std::string& text) {
    const std::lock_guard lock(FMutex);
    FTexts.push_back(text);
    FChanged.notify_all();
}

std::function<void(const std::string&)> TStatusLog::Sink() {
    return [this](const std::string& text) { Add(text); };
}

bool TStatusLog::WaitFor(const std::string& part, std::chrono::seconds deadline) {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, deadline, [&] {
        for (const std::string& text : FTexts) {
            if (text.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    });
}

std::vector<std::string> TStatusLog::Texts() {
    const std::lock_guard lock(FMutex);
    return FTexts;
}
