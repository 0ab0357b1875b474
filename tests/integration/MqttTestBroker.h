#pragma once
// A private Mosquitto broker on 127.0.0.1 (Debian's `mosquitto` with a
// configuration file written here, never the system's service), and a
// libmosquitto subscriber that keeps every message it receives.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

struct mosquitto;

class TMqttTestBroker {
public:
    // Picks a free port; `anonymous` false refuses every login.
    explicit TMqttTestBroker(bool anonymous = true);
    ~TMqttTestBroker();

    // Starts the broker and waits until it takes connections.
    void Start();
    // Kills it with SIGKILL and reaps it.
    void Kill();
    int Port() const { return FPort; }

private:
    std::string FFolder;
    int FPort = 0;
    pid_t FPid = -1;
};

struct TMqttMessage {
    std::string Topic;
    std::string Payload;
    bool Retained = false;
};

class TMqttSubscriber {
public:
    TMqttSubscriber(int port, const std::string& pattern);
    ~TMqttSubscriber();

    // Waits until a message that matches arrives (or has arrived) and returns
    // it; fails the test after the deadline.
    TMqttMessage WaitFor(const std::function<bool(const TMqttMessage&)>& match,
                         std::chrono::seconds deadline = std::chrono::seconds(20));
    TMqttMessage WaitFor(const std::string& topic, const std::string& payload);
    // The messages so far that match, without waiting (for a test whose
    // event loop must keep running).
    std::vector<TMqttMessage> Matching(const std::function<bool(const TMqttMessage&)>& match);
    std::vector<TMqttMessage> Messages();
    void Clear();

private:
    static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message);
    mosquitto* FClient = nullptr;
    std::mutex FMutex;
    std::condition_variable FArrived;
    std::vector<TMqttMessage> FMessages;
};

// Collects status texts from any thread and waits for one.
class TStatusLog {
public:
    void Add(const std::string& text);
    std::function<void(const std::string&)> Sink();
    // Waits for a text containing `part`; false after the deadline.
    bool WaitFor(const std::string& part, std::chrono::seconds deadline = std::chrono::seconds(30));
    std::vector<std::string> Texts();

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<std::string> FTexts;
};
