// The tray notifier against a real D-Bus: a private session bus started
// here, on which the test registers as the desktop's notification server.
// The notification arrives with its texts and the click action, a click on
// it asks for the events folder, and a second one within the gap is held
// back.

#include "app/TrayNotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The desktop's notification server, as far as the notifier uses it.
class TNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList Summaries;
    QStringList Bodies;
    QStringList Actions;

public slots:
    uint Notify(const QString& /*app*/, uint /*replaces*/, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& /*hints*/, int /*timeout*/) {
        Summaries << summary;
        Bodies << body;
        Actions = actions;
        return 40 + static_cast<uint>(Summaries.size());
    }
};

pid_t BusPid = -1;

} // namespace

TEST(TrayNotifier, ANotificationGoesToTheDesktopsServerAndItsClickOpensTheFolder) {
    QDBusConnection server =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server");
    ASSERT_TRUE(server.isConnected());
    TNotificationServer notifications;
    ASSERT_TRUE(server.registerObject("/org/freedesktop/Notifications", &notifications,
                                      QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));

    TTrayNotifier tray;
    QSignalSpy clicked(&tray, &TTrayNotifier::Clicked);
    EXPECT_EQ(tray.ToolTip(), "Stirwatch: idle");
    tray.SetState(TTrayNotifier::TState::Recording);
    EXPECT_EQ(tray.ToolTip(), "Stirwatch: recording");
    const auto now = std::chrono::steady_clock::now();
    ASSERT_TRUE(tray.Notify("Motion on Yard", "An event started at 12:00:00.", now));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications.Summaries.size() == 1; }, 10000));
    EXPECT_EQ(notifications.Summaries.front(), "Motion on Yard");
    EXPECT_EQ(notifications.Bodies.front(), "An event started at 12:00:00.");
    EXPECT_EQ(notifications.Actions, (QStringList{"default", "Open events folder"}));
    EXPECT_FALSE(tray.Notify("again", "too soon", now + TTrayNotifier::MinimumGap / 2));

    // A click on someone else's notification is not ours.
    const auto invoke = [&](uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
        signal << id << QStringLiteral("default");
        server.send(signal);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.NoticeId() == 41; }, 10000));
    invoke(7); // delivered in order: before the next one
    invoke(41);
    ASSERT_TRUE(QTest::qWaitFor([&] { return clicked.count() > 0; }, 10000));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(tray.Notify("later", "after the gap", now + TTrayNotifier::MinimumGap));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notifications.Summaries.size() == 2; }, 10000));
    server.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus("notification-server");
}

// A private session bus for the whole process, started before the
// application object so that every connection of Qt uses it.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char folder[] = "/tmp/stirwatch-bus-XXXXXX";
    const std::string address = std::string("unix:path=") + mkdtemp(folder) + "/bus";
    const std::string listen = "--address=" + address;
    char* const busArgv[] = {const_cast<char*>("dbus-daemon"),  const_cast<char*>("--session"),
                             const_cast<char*>("--nofork"),     const_cast<char*>("--nopidfile"),
                             const_cast<char*>(listen.c_str()), nullptr};
    if (posix_spawnp(&BusPid, "dbus-daemon", nullptr, nullptr, busArgv, environ) != 0) {
        std::fprintf(stderr, "cannot start dbus-daemon\n");
        return 1;
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    const std::string socket = std::string(folder) + "/bus";
    for (int i = 0; i < 400 && access(socket.c_str(), F_OK) != 0; ++i) {
        usleep(25000); // the daemon makes its socket
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(BusPid, SIGTERM);
    waitpid(BusPid, nullptr, 0);
    std::remove(socket.c_str());
    rmdir(folder);
    return result;
}

#include "TrayNotifierTest.moc"
