#include "integration/MqttPublisher.h"

#include "integration/MosquittoLibrary.h"
#include "integration/Payloads.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int Qos = 1;

std::string ErrorText(int result) {
    if (result == MOSQ_ERR_ERRNO) {
        return std::strerror(errno);
    }
    return Mosquitto().ErrorText(result);
}

} // namespace

void TMqttPublisher::TClientDeleter::operator()(mosquitto* client) const {
    Mosquitto().Destroy(client);
}

TMqttPublisher::TMqttPublisher(TMqttSettings settings, TStatusSink status)
    : FSettings(std::move(settings)), FStatus(std::move(status)) {
    const TMosquittoFunctions& library = Mosquitto();
    const std::string id =
        "stirwatch-" + TopicSlug(FSettings.Camera) + "-" + std::to_string(getpid());
    FClient.reset(library.New(id.c_str(), true, this));
    if (!FClient) {
        throw EMqtt("MQTT: cannot create a client: " + ErrorText(MOSQ_ERR_ERRNO));
    }
    mosquitto* client = FClient.get();
    const std::string offline = "offline";
    library.WillSet(client, AvailabilityTopic().c_str(), static_cast<int>(offline.size()),
                    offline.data(), Qos, true);
    if (!FSettings.User.empty()) {
        library.UsernamePasswordSet(client, FSettings.User.c_str(), FSettings.Password.c_str());
    }
    if (FSettings.Tls) {
        const int result =
            library.TlsSet(client, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        if (result != MOSQ_ERR_SUCCESS) {
            throw EMqtt("MQTT: cannot use TLS: " + ErrorText(result));
        }
    }
    library.ConnectCallbackSet(client, &TMqttPublisher::OnConnect);
    library.DisconnectCallbackSet(client, &TMqttPublisher::OnDisconnect);
    library.ReconnectDelaySet(client, FSettings.RetryMinSeconds, FSettings.RetryMaxSeconds, true);
    FThread = std::thread([this] { Run(); });
}

// The first connection, on a thread of its own so that neither a name
// lookup nor a broker that is down holds up the caller: a try that fails at
// once is repeated here. Once a connection has been started, libmosquitto's
// thread keeps it, reconnecting with the same growing delay.
void TMqttPublisher::Run() {
    mosquitto* client = FClient.get();
    unsigned delay = std::max(1u, FSettings.RetryMinSeconds);
    for (;;) {
        const int connect = Mosquitto().ConnectAsync(client, FSettings.Host.c_str(), FSettings.Port,
                                                     FSettings.KeepAliveSeconds);
        std::unique_lock lock(FStopMutex);
        if (FStop) {
            return;
        }
        if (connect == MOSQ_ERR_SUCCESS) {
            FLoopStarted = Mosquitto().LoopStart(client) == MOSQ_ERR_SUCCESS;
            return;
        }
        lock.unlock();
        Report("MQTT: cannot reach " + Address() + " (" + ErrorText(connect) + "); retrying");
        lock.lock();
        if (FStopped.wait_for(lock, std::chrono::seconds(delay), [this] { return FStop; })) {
            return;
        }
        delay = std::min(delay * 2, std::max(delay, FSettings.RetryMaxSeconds));
    }
}

TMqttPublisher::~TMqttPublisher() {
    mosquitto* client = FClient.get();
    {
        const std::lock_guard lock(FStopMutex);
        FStop = true;
    }
    FStopped.notify_all();
    FThread.join();
    if (FConnected) {
        Publish(AvailabilityTopic(), "offline", true);
    }
    // A disconnection asked for ends libmosquitto's loop, also during its wait
    // before the next try.
    Mosquitto().Disconnect(client);
    if (FLoopStarted) {
        Mosquitto().LoopStop(client, false);
    }
}

std::string TMqttPublisher::Address() const {
    return FSettings.Host + ":" + std::to_string(FSettings.Port);
}

void TMqttPublisher::Report(const std::string& text) {
    {
        const std::lock_guard lock(FReportMutex);
        if (text == FLastReport) {
            return;
        }
        FLastReport = text;
    }
    if (FStatus) {
        FStatus(text);
    }
}

void TMqttPublisher::Publish(const std::string& topic, const std::string& payload, bool retain) {
    Mosquitto().Publish(FClient.get(), nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), Qos, retain);
}

void TMqttPublisher::Announce() {
    Publish(AvailabilityTopic(), "online", true);
    Publish(DiscoveryTopic(FSettings.Camera), DiscoveryJson(FSettings.Camera), true);
    Publish(MotionTopic(FSettings.Camera), FMotion ? "ON" : "OFF", true);
}

// While the broker is away nothing is queued: the motion state goes out
// with the next connection, the events of the meantime are not sent.
void TMqttPublisher::SetMotion(bool on) {
    FMotion = on;
    if (!FConnected) {
        return;
    }
    Publish(MotionTopic(FSettings.Camera), on ? "ON" : "OFF", true);
}

void TMqttPublisher::PublishEvent(const TEventNotice& notice) {
    if (!FConnected) {
        return;
    }
    Publish(EventsTopic(FSettings.Camera), EventJson(notice, FSettings.Camera), false);
}

void TMqttPublisher::OnConnect(mosquitto* /*client*/, void* self, int result) {
    auto* publisher = static_cast<TMqttPublisher*>(self);
    if (result != 0) {
        publisher->FLoginRefused = true;
        publisher->Report("MQTT: " + publisher->Address() + " refused the login (" +
                          Mosquitto().ConnackText(result) + "); retrying");
        return;
    }
    publisher->FLoginRefused = false;
    publisher->FConnected = true;
    publisher->FEverConnected = true;
    publisher->Announce();
    publisher->Report("MQTT: connected to " + publisher->Address());
}

void TMqttPublisher::OnDisconnect(mosquitto* /*client*/, void* self, int result) {
    auto* publisher = static_cast<TMqttPublisher*>(self);
    const bool wasConnected = publisher->FConnected.exchange(false);
    if (result == 0 || publisher->FLoginRefused) {
        return; // asked for, or already named
    }
    publisher->Report("MQTT: " + std::string(wasConnected ? "lost " : "cannot reach ") +
                      publisher->Address() + " (" + ErrorText(result) + "); retrying");
}
