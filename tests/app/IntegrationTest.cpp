// Events told to other programs from an automatic run on the test scene:
// with the Integration options on, a real broker on 127.0.0.1 sees what Home
// Assistant expects, the commands get the clip's path as one argument and
// the tray notifies; with them off, nothing is sent, started or shown.

#include "app/Integration.h"
#include "app/EventRecording.h"
#include "app/TApplication.h"
#include "app/TTimer.h"
#include "app/TrayNotifier.h"
#include "app/WVideo.h"
#include "integration/Payloads.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "tests/app/EventWindowFixture.h"
#include "tests/integration/MqttTestBroker.h"
#include "tests/support/RtspTestServer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

class IntegrationTest : public TEventWindowFixture {
protected:
    // A folder name no shell could take literally.
    QString EventsFolder() const override {
        return Events.path() + "/it's \"my\" $(touch pwned) clips";
    }
    void Apply() {
        Window->Events()->Apply(*ConfigForm); // as closing the configuration window does
        Window->Integration()->Apply(*ConfigForm);
    }
    // Starts video and runs `steps` automatic steps that found movement:
    // with "Record On Move" on, once a second of pre-roll is kept.
    void AutoRun(int steps) {
        QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
        if (Window->Events()->Active()) {
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return Window->Events()->Recorder()->PreRollSpan() >= GST_SECOND; }, 60000))
                << "the pre-roll never filled";
        }
        int moved = 0;
        auto reported = QObject::connect(Window.get(), &TVideo::StepReported, Window->Timer1, [&] {
            moved += Window->PixNumLab->text().toInt() > 0 ? 1 : 0;
        });
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return moved >= steps; }, 60000)) << moved << " steps";
        QTest::mouseClick(Window->AutoBut, Qt::LeftButton);
        QObject::disconnect(reported);
    }
    // A program that writes its arguments, one per line, to `out`.
    QString Recorder(const QString& out) {
        const QString path = out + ".sh";
        QFile script(path);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + out + "'\n").toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    // Waits, with the event loop running, for the messages that match.
    static std::vector<TMqttMessage> Arrived(TMqttSubscriber& subscriber,
                                             const std::function<bool(const TMqttMessage&)>& match,
                                             std::size_t count = 1) {
        (void)QTest::qWaitFor([&] { return subscriber.Matching(match).size() >= count; }, 20000);
        return subscriber.Matching(match);
    }
    static std::function<bool(const TMqttMessage&)> Is(const std::string& topic,
                                                       const std::string& payload) {
        return [=](const TMqttMessage& m) { return m.Topic == topic && m.Payload == payload; };
    }
    static QJsonObject Json(const TMqttMessage& message) {
        return QJsonDocument::fromJson(QByteArray::fromStdString(message.Payload)).object();
    }
    static QStringList Lines(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n')
                                              : QStringList();
    }
};

TEST_F(IntegrationTest, AnAutomaticRunReachesTheBrokerTheCommandsAndTheTray) {
    TMqttTestBroker broker;
    broker.Start();
    TMqttSubscriber subscriber(broker.Port(), "#");
    const QString startOut = WorkFolder.filePath("start.txt");
    const QString endOut = WorkFolder.filePath("end.txt");
    ConfigForm->RecordOnMoveCheck->setChecked(true);
    ConfigForm->CameraNameEdit->setText("Test door");
    ConfigForm->StartCmdEdit->setText("'" + Recorder(startOut) + "' start {camera} {start}");
    ConfigForm->EndCmdEdit->setText("'" + Recorder(endOut) + "' end {clip} {peak}");
    ConfigForm->MqttCheck->setChecked(true);
    ConfigForm->MqttHostEdit->setText("127.0.0.1");
    ConfigForm->MqttPortEdit->SetValue(broker.Port());
    ConfigForm->TrayCheck->setChecked(true);
    Apply();
    ASSERT_NE(Window->Integration()->Tray(), nullptr);
    subscriber.WaitFor("stirwatch/Test_door/motion", "OFF");
    const TMqttMessage discovery = subscriber.WaitFor(
        [](const TMqttMessage& m) { return m.Topic == DiscoveryTopic("Test door"); });
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(discovery.Payload))
                  .object()["device_class"]
                  .toString(),
              "motion");

    const auto beforeRun = std::chrono::steady_clock::now();
    AutoRun(12);
    const auto isEvent = [](const TMqttMessage& m) {
        return m.Topic == "stirwatch/Test_door/events";
    };
    const auto events = Arrived(
        subscriber, [&](const TMqttMessage& m) { return isEvent(m) && Json(m)["type"] == "end"; });
    ASSERT_EQ(events.size(), 1u);
    const QJsonObject end = Json(events.front());
    // OFF (retained, before the run), ON for the event, OFF after it. The
    // state may be told again unchanged (once more as the client connects).
    const auto motion = [&] {
        std::vector<std::string> states;
        for (const TMqttMessage& m : subscriber.Matching(
                 [](const TMqttMessage& m) { return m.Topic == "stirwatch/Test_door/motion"; })) {
            if (states.empty() || states.back() != m.Payload) {
                states.push_back(m.Payload);
            }
        }
        return states;
    };
    (void)QTest::qWaitFor([&] { return motion().size() >= 3; }, 20000);
    EXPECT_EQ(motion(), (std::vector<std::string>{"OFF", "ON", "OFF"}));
    EXPECT_EQ(Json(subscriber.Matching(isEvent).front())["type"], "new");
    const QString clip = end["clip"].toString();
    EXPECT_TRUE(clip.startsWith(EventsFolder() + "/")) << clip.toStdString();
    EXPECT_TRUE(QFile::exists(clip)) << "the end is told once the clip is finished";
    EXPECT_EQ(end["camera"].toString(), "Test door");
    EXPECT_GT(end["peak"].toInt(), 0);

    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines(endOut).size() >= 3; }, 20000));
    const QStringList endArguments = Lines(endOut);
    EXPECT_EQ(endArguments[0], "end");
    EXPECT_EQ(endArguments[1], clip);
    EXPECT_EQ(endArguments[2], QString::number(end["peak"].toInt()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines(startOut).size() >= 3; }, 20000));
    EXPECT_EQ(Lines(startOut)[0], "start");
    EXPECT_EQ(Lines(startOut)[1], "Test door");
    EXPECT_EQ(Lines(startOut)[2], QString::fromStdString(end["start"].toString().toStdString()));
    EXPECT_FALSE(QFile::exists(WorkFolder.filePath("pwned")));

    // The event is over and the run stopped: the tray is idle again, and the
    // next notification waits for its gap.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Window->Integration()->Tray()->State() == TTrayNotifier::TState::Idle; },
        20000));
    // The event's notice came after `beforeRun`: asked for within the gap of
    // it on the notifier's clock, at any speed of the machine.
    EXPECT_FALSE(Window->Integration()->Tray()->Notify(
        "again", "too soon", beforeRun + TTrayNotifier::MinimumGap - std::chrono::seconds(1)));
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

TEST_F(IntegrationTest, ACameraLostAndBackRunsItsCommandOnceEach) {
    TRtspTestServer server;
    server.Start();
    qputenv("STIRWATCH_SOURCE", QByteArray::fromStdString(server.Url()));
    const QString out = WorkFolder.filePath("camera.txt");
    ConfigForm->CameraNameEdit->setText("Yard");
    ConfigForm->CameraCmdEdit->setText("'" + Recorder(out) + "' {camera} {state} {reason}");
    Apply();
    QTest::mouseClick(Window->SpeedButton3, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Window->Integration()->CameraLive(); }, 30000));

    server.Stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines(out).size() >= 4; }, 30000));
    EXPECT_EQ(Lines(out).mid(0, 2), (QStringList{"Yard", "lost"}));
    EXPECT_FALSE(Lines(out)[2].isEmpty()) << "the reason";
    server.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Lines(out).size() >= 7; }, 60000));
    EXPECT_EQ(Lines(out).mid(3, 3), (QStringList{"Yard", "back", ""}));

    // Stopping the video loses no camera.
    QTest::mouseClick(Window->SpeedButton7, Qt::LeftButton);
    QTest::qWait(1500);
    EXPECT_EQ(Lines(out).size(), 7); // six lines and the empty rest
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

TEST_F(IntegrationTest, WithTheOptionsOffNothingIsSentStartedOrShown) {
    TMqttTestBroker broker;
    broker.Start();
    TMqttSubscriber subscriber(broker.Port(), "#");
    ConfigForm->MqttHostEdit->setText("127.0.0.1");
    ConfigForm->MqttPortEdit->SetValue(broker.Port());
    Apply();
    EXPECT_FALSE(Window->Integration()->Enabled());
    AutoRun(8);
    QTest::qWait(1500);
    EXPECT_EQ(Window->Integration()->Mqtt(), nullptr);
    EXPECT_EQ(Window->Integration()->Tray(), nullptr);
    EXPECT_TRUE(subscriber.Messages().empty());
    EXPECT_TRUE(Errors.empty()) << Errors.front().toStdString();
}

} // namespace
