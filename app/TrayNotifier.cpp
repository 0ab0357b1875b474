#include "app/TrayNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

const char* const NotifyService = "org.freedesktop.Notifications";
const char* const NotifyPath = "/org/freedesktop/Notifications";
const char* const NotifyInterface = "org.freedesktop.Notifications";

// A round lamp: gray idle, green watching, red recording.
QIcon Lamp(TTrayNotifier::TState state) {
    QColor color(128, 128, 128);
    if (state == TTrayNotifier::TState::Watching) {
        color = QColor(0, 160, 0);
    } else if (state == TTrayNotifier::TState::Recording) {
        color = QColor(220, 0, 0);
    }
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(color);
    painter.drawEllipse(3, 3, 26, 26);
    return QIcon(pixmap);
}

} // namespace

TTrayNotifier::TTrayNotifier(QObject* parent) : QObject(parent), FIcon(new QSystemTrayIcon(this)) {
    FIcon->setIcon(Lamp(FState));
    FIcon->setToolTip(ToolTip());
    connect(FIcon, &QSystemTrayIcon::messageClicked, this, &TTrayNotifier::Clicked);
    QDBusConnection::sessionBus().connect(NotifyService, NotifyPath, NotifyInterface,
                                          "ActionInvoked", this,
                                          SLOT(OnActionInvoked(uint, QString)));
    FIcon->show();
}

TTrayNotifier::~TTrayNotifier() {
    FIcon->hide();
}

QString TTrayNotifier::ToolTip() const {
    switch (FState) {
    case TState::Idle:
        return QStringLiteral("Stirwatch: idle");
    case TState::Watching:
        return QStringLiteral("Stirwatch: watching");
    case TState::Recording:
        return QStringLiteral("Stirwatch: recording");
    }
    return {};
}

void TTrayNotifier::SetState(TState state) {
    if (state == FState) {
        return;
    }
    FState = state;
    FIcon->setIcon(Lamp(state));
    FIcon->setToolTip(ToolTip());
}

bool TTrayNotifier::Notify(const QString& title, const QString& text,
                           std::chrono::steady_clock::time_point now) {
    if (FLastNotice && now - *FLastNotice < MinimumGap) {
        return false;
    }
    FLastNotice = now;
    if (!NotifyOverDBus(title, text)) {
        FIcon->showMessage(title, text, QSystemTrayIcon::Information);
    }
    return true;
}

// Sent without waiting for the server's answer; the answer's id tells which
// notification a later click belongs to. Without a server the tray icon
// shows the message.
bool TTrayNotifier::NotifyOverDBus(const QString& title, const QString& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(NotifyService, NotifyPath, NotifyInterface, "Notify");
    call << QStringLiteral("Stirwatch") << uint(0) << QStringLiteral("org.stirwatch.Stirwatch")
         << title << text << QStringList{"default", "Open events folder"} << QVariantMap()
         << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, title, text](QDBusPendingCallWatcher* done) {
                const QDBusPendingReply<uint> reply = *done;
                if (reply.isValid()) {
                    FNoticeId = reply.value();
                } else {
                    FIcon->showMessage(title, text, QSystemTrayIcon::Information);
                }
                done->deleteLater();
            });
    return true;
}

void TTrayNotifier::OnActionInvoked(uint id, const QString& action) {
    if (id != 0 && id == FNoticeId && action == "default") {
        emit Clicked();
    }
}
