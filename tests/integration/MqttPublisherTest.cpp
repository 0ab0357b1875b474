// The MQTT publisher against a real broker on 127.0.0.1: what a Home
// Assistant installation would see, the last will when the publishing
// process dies, and a broker that is down, refuses the login or restarts
// during an event.

#include "integration/MqttPublisher.h"
#include "integration/Payloads.h"
#include "tests/LoadedLibraries.h"
#include "tests/integration/MqttTestBroker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

const std::string Camera = "Front door";

// Whether libmosquitto was in the process before any test ran.
const bool MosquittoAtStart = LibraryMapped("/libmosquitto.so");

TMqttSettings SettingsFor(int port) {
    TMqttSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = port;
    settings.Camera = Camera;
    settings.RetryMinSeconds = 1;
    settings.RetryMaxSeconds = 2;
    return settings;
}

QJsonObject Json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

TEventNotice Event(TEventNotice::TKind kind, const std::string& clip = {}) {
    TEventNotice notice;
    notice.Kind = kind;
    notice.Start = std::chrono::system_clock::now();
    notice.Peak = 42;
    notice.Clip = clip;
    if (kind == TEventNotice::TKind::End) {
        notice.End = notice.Start + std::chrono::seconds(7);
    }
    return notice;
}

} // namespace

TEST(MqttPublisher, HomeAssistantSeesARetainedMotionSensorItsStateAndEvents) {
    TMqttTestBroker broker;
    broker.Start();
    TStatusLog status;
    TMqttPublisher publisher(SettingsFor(broker.Port()), status.Sink());
    ASSERT_TRUE(status.WaitFor("MQTT: connected to 127.0.0.1:"));
    {
        TMqttSubscriber early(broker.Port(), "#"); // the announcement is complete
        early.WaitFor("stirwatch/Front_door/motion", "OFF");
    }

    // A subscriber that comes later gets the retained records, as Home
    // Assistant does when it starts after the program.
    TMqttSubscriber late(broker.Port(), "#");
    const TMqttMessage discovery =
        late.WaitFor([](const TMqttMessage& m) { return m.Topic == DiscoveryTopic(Camera); });
    EXPECT_EQ(discovery.Topic, "homeassistant/binary_sensor/stirwatch_Front_door_motion/config");
    EXPECT_TRUE(discovery.Retained);
    const QJsonObject config = Json(discovery.Payload);
    EXPECT_EQ(config["device_class"].toString(), "motion");
    EXPECT_EQ(config["state_topic"].toString(), "stirwatch/Front_door/motion");
    EXPECT_EQ(config["availability_topic"].toString(), "stirwatch/available");
    EXPECT_EQ(config["unique_id"].toString(), "stirwatch_Front_door_motion");
    EXPECT_EQ(config["payload_on"].toString(), "ON");
    EXPECT_EQ(config["device"].toObject()["name"].toString(), "Front door");
    EXPECT_TRUE(late.WaitFor("stirwatch/available", "online").Retained);
    EXPECT_TRUE(late.WaitFor("stirwatch/Front_door/motion", "OFF").Retained);

    publisher.SetMotion(true);
    publisher.PublishEvent(Event(TEventNotice::TKind::New));
    publisher.PublishEvent(Event(TEventNotice::TKind::End, "/tmp/a \"b\" $(c).mkv"));
    publisher.SetMotion(false);
    late.WaitFor("stirwatch/Front_door/motion", "ON");
    const TMqttMessage end = late.WaitFor([](const TMqttMessage& m) {
        return m.Topic == "stirwatch/Front_door/events" && Json(m.Payload)["type"] == "end";
    });
    const QJsonObject event = Json(end.Payload);
    EXPECT_FALSE(end.Retained);
    EXPECT_EQ(event["clip"].toString(), "/tmp/a \"b\" $(c).mkv");
    EXPECT_EQ(event["peak"].toInt(), 42);
    EXPECT_EQ(event["camera"].toString(), "Front door");
    EXPECT_TRUE(event["end"].isString());
    late.WaitFor("stirwatch/Front_door/motion", "OFF");
    const auto messages = late.Messages();
    const auto news = std::count_if(messages.begin(), messages.end(), [](const TMqttMessage& m) {
        return m.Topic == "stirwatch/Front_door/events" && Json(m.Payload)["type"] == "new";
    });
    EXPECT_EQ(news, 1);
}

// A program that publishes nothing does not carry libmosquitto and the TLS
// libraries it brings.
TEST(MqttPublisher, LibmosquittoIsLoadedByTheFirstClient) {
    EXPECT_FALSE(MosquittoAtStart);
    TMqttTestBroker broker;
    broker.Start();
    TStatusLog status;
    TMqttPublisher publisher(SettingsFor(broker.Port()), status.Sink());
    EXPECT_TRUE(status.WaitFor("MQTT: connected to 127.0.0.1:"));
    EXPECT_TRUE(LibraryMapped("/libmosquitto.so"));
}

TEST(MqttPublisher, AClosedProgramSaysOfflineAndAKilledOneLeavesItToItsLastWill) {
    TMqttTestBroker broker;
    broker.Start();
    TMqttSubscriber subscriber(broker.Port(), "stirwatch/available");
    {
        TStatusLog status;
        TMqttPublisher publisher(SettingsFor(broker.Port()), status.Sink());
        subscriber.WaitFor("stirwatch/available", "online");
    }
    subscriber.WaitFor("stirwatch/available", "offline");
    subscriber.Clear();

    // A second process of this test publishes until it is killed.
    const std::string port = "STIRWATCH_MQTT_CHILD_PORT=" + std::to_string(broker.Port());
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable) {
        environment.push_back(*variable);
    }
    environment.push_back(const_cast<char*>(port.c_str()));
    environment.push_back(nullptr);
    const char* filter = "--gtest_filter=MqttPublisherChild.PublishesUntilKilled";
    char* const argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(filter), nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, environment.data()), 0);
    subscriber.WaitFor("stirwatch/available", "online");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    subscriber.WaitFor("stirwatch/available", "offline");
    TMqttSubscriber after(broker.Port(), "stirwatch/available");
    const TMqttMessage retained = after.WaitFor(
        [](const TMqttMessage& m) { return m.Topic == "stirwatch/available" && m.Retained; });
    EXPECT_EQ(retained.Payload, "offline");
}

// Runs only as the child of the test above.
TEST(MqttPublisherChild, PublishesUntilKilled) {
    const char* port = std::getenv("STIRWATCH_MQTT_CHILD_PORT");
    if (!port) {
        GTEST_SKIP() << "the child process of the last-will test";
    }
    TMqttPublisher publisher(SettingsFor(std::atoi(port)), nullptr);
    publisher.SetMotion(true);
    for (;;) {
        pause();
    }
}

TEST(MqttPublisher, ABrokerRestartedDuringAnEventGetsTheMotionHeldOnAgain) {
    TMqttTestBroker broker;
    broker.Start();
    TStatusLog status;
    TMqttPublisher publisher(SettingsFor(broker.Port()), status.Sink());
    ASSERT_TRUE(status.WaitFor("MQTT: connected"));
    publisher.SetMotion(true);

    broker.Kill();
    ASSERT_TRUE(status.WaitFor("MQTT: lost 127.0.0.1:"));
    // Publishing while the broker is away returns at once.
    publisher.PublishEvent(Event(TEventNotice::TKind::Update));
    broker.Start(); // same port, no memory of retained messages
    TMqttSubscriber subscriber(broker.Port(), "#");
    subscriber.WaitFor("stirwatch/Front_door/motion", "ON");
    subscriber.WaitFor("stirwatch/available", "online");
    subscriber.WaitFor([](const TMqttMessage& m) { return m.Topic == DiscoveryTopic(Camera); });
    EXPECT_EQ(status.Texts().back().rfind("MQTT: connected", 0), 0u);
}

TEST(MqttPublisher, ABrokerThatIsDownOrRefusesTheLoginIsNamedAndTriedAgain) {
    TMqttTestBroker down;
    TStatusLog status;
    {
        TMqttPublisher publisher(SettingsFor(down.Port()), status.Sink());
        ASSERT_TRUE(status.WaitFor("MQTT: cannot reach 127.0.0.1:" + std::to_string(down.Port())));
        down.Start();
        ASSERT_TRUE(status.WaitFor("MQTT: connected"));
        down.Kill();
        ASSERT_TRUE(status.WaitFor("MQTT: lost"));
    } // and it stops while waiting to try again

    TMqttTestBroker strict(false);
    strict.Start();
    TStatusLog refused;
    TMqttSettings settings = SettingsFor(strict.Port());
    settings.User = "someone";
    settings.Password = "wrong";
    TMqttPublisher publisher(settings, refused.Sink());
    EXPECT_TRUE(refused.WaitFor("refused the login"));
}
