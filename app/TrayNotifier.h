#pragma once
// The tray icon: idle, watching (an automatic run) or recording (an event is
// going on), and a desktop notification when an event starts. Notifications
// come at most once per MinimumGap; a click on one asks for the events
// folder.

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

signals:
    void Clicked();

private:
    QSystemTrayIcon* FIcon;
    TState FState = TState::Idle;
    std::optional<std::chrono::steady_clock::time_point> FLastNotice;
};
