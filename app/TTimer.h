#pragma once
// The window-message style timer of the main window: an interval in
// milliseconds and an enabled flag. Unlike QTimer, an interval of 0 gives no
// ticks at all, and a tick that falls due while the program is busy is
// delivered once afterwards, never queued up.

#include <QObject>

class TTimer : public QObject {
    Q_OBJECT
public:
    // Created disabled with an interval of 1000 ms.
    explicit TTimer(QObject* owner = nullptr);
    ~TTimer() override;

    int Interval() const { return FInterval; }
    // A running timer restarts its count with the new interval at once.
    // Intervals of 0 or below give no ticks while the timer stays enabled.
    void SetInterval(int milliseconds);

    bool Enabled() const { return FEnabled; }
    // Throws EOutOfResources "Not enough timers available" when the platform
    // refuses a timer; the timer is then left disabled.
    void SetEnabled(bool enabled);

signals:
    void OnTimer();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void UpdateTimer();
    void KillPlatformTimer();

    int FInterval = 1000;
    bool FEnabled = false;
    int FTimerId = 0;
};
