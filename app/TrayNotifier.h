#pragma once
// The tray icon: idle, watching (an automatic run) or recording (an event is
// going on), and a desktop notification when an event starts. The
// notification goes to the desktop's notification server
// (org.freedesktop.Notifications on the session bus), which shows it also
// where there is no tray; without a server the tray icon shows it.
// Notifications come at most once per MinimumGap; a click on one asks for
// the events folder.

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

class QSystemTrayIcon;

class TTrayNotifier : public QObject {
    Q_OBJECT

public:
    enum class TState { Idle, Watching, Recording };
    static constexpr std::chrono::seconds MinimumGap{30};

    explicit TTrayNotifier(QObject* parent = nullptr);
    ~TTrayNotifier() override;

    void SetState(TState state);
    TState State() const { return FState; }
    QString ToolTip() const;
    // Shows the notification unless one was shown less than MinimumGap ago;
    // false when held back.
    bool Notify(const QString& title, const QString& text,
                std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

    // The server's id of the last notification (0 before its answer).
    uint NoticeId() const { return FNoticeId; }

signals:
    void Clicked();

private:
    bool NotifyOverDBus(const QString& title, const QString& text);
private slots:
    void OnActionInvoked(uint id, const QString& action);

private:
    QSystemTrayIcon* FIcon;
    TState FState = TState::Idle;
    std::optional<std::chrono::steady_clock::time_point> FLastNotice;
    uint FNoticeId = 0;
};
