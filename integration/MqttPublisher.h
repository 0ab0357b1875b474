#pragma once
// Publishes the motion events of one camera to an MQTT broker through
// libmosquitto, whose own thread (mosquitto_loop_start) keeps the connection:
// it connects in the background, reconnects with a growing delay after a loss, and announces on
// each connection that the program is online (the broker's last will says
// "offline" when the program dies), the Home Assistant discovery record and
// the current motion state, all retained. Publishing never waits for the
// broker. Status texts come through the sink, from the constructor's thread
// or from the connection's thread.

#include "integration/EventTracker.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;

struct TMqttSettings {
    std::string Host = "localhost";
    int Port = 1883;
    std::string User; // no login when empty
    std::string Password;
    bool Tls = false; // verified against the system's certificate authorities
    std::string Camera;
    int KeepAliveSeconds = 30;
    unsigned RetryMinSeconds = 1;
    unsigned RetryMaxSeconds = 60;

    bool operator==(const TMqttSettings&) const = default;
};

class EMqtt : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TMqttPublisher {
public:
    using TStatusSink = std::function<void(const std::string& text)>;

    // Throws EMqtt when the client cannot be set up (e.g. no TLS support).
    TMqttPublisher(TMqttSettings settings, TStatusSink status);
    // Says "offline" and disconnects.
    ~TMqttPublisher();
    TMqttPublisher(const TMqttPublisher&) = delete;
    TMqttPublisher& operator=(const TMqttPublisher&) = delete;

    // Held ON while an event lasts (retained, sent again on reconnection).
    void SetMotion(bool on);
    // Sent only while connected: an event of the time the broker is away is
    // not kept for later.
    void PublishEvent(const TEventNotice& notice);
    bool Connected() const { return FConnected; }
    const TMqttSettings& Settings() const { return FSettings; }

private:
    struct TClientDeleter {
        void operator()(mosquitto* client) const;
    };

    void Run();
    static void OnConnect(mosquitto* client, void* self, int result);
    static void OnDisconnect(mosquitto* client, void* self, int result);
    void Announce();
    void Publish(const std::string& topic, const std::string& payload, bool retain);
    void Report(const std::string& text);
    std::string Address() const;

    const TMqttSettings FSettings;
    TStatusSink FStatus;
    std::unique_ptr<mosquitto, TClientDeleter> FClient;
    std::atomic<bool> FMotion{false};
    std::atomic<bool> FConnected{false};
    std::atomic<bool> FEverConnected{false};
    std::atomic<bool> FLoginRefused{false};
    std::mutex FReportMutex;
    std::string FLastReport;
    std::mutex FStopMutex;
    std::condition_variable FStopped;
    bool FStop = false;
    bool FLoopStarted = false;
    std::thread FThread;
};
