#pragma once
// The main window's side of telling other programs about motion events: the
// frame steps of an automatic run make events (integration/EventTracker.h),
// and each event goes to whatever the Integration tab has turned on: the
// event commands, the MQTT broker and the tray notification. It also runs
// the command of a camera lost or back. With every option off it does
// nothing at all: no thread, no timer, no icon.

#include "integration/EventTracker.h"
#include "integration/MqttPublisher.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;
class TCommandRunner;
class TConfigForm;
class TTrayNotifier;

class TIntegration : public QObject {
    Q_OBJECT

public:
    explicit TIntegration(QObject* parent = nullptr);
    // A running event ends (its end is sent) and the broker hears "offline".
    ~TIntegration() override;

    // Takes the options of the Integration tab (and the post-roll, which is
    // how long an event outlasts its last movement).
    void Apply(const TConfigForm& options);
    // Whether an automatic run is going on (for the tray icon).
    void SetWatching(std::function<bool()> watching);
    // A frame step; only automatic steps make events.
    void FrameStep(bool automaticStep, bool movement, int percent);
    void ClipStarted(const QString& path);
    void ClipFinished(const QString& path);
    // Ends a running event now (the program stops).
    void Stop();

    bool Enabled() const;
    // The camera name in topics, notifications and commands: the one set, or
    // the connected source's.
    std::string Camera() const;
    TMqttPublisher* Mqtt() const { return FMqtt.get(); }
    TTrayNotifier* Tray() const { return FTray; }
    // The connected source has a picture (as last looked at).
    bool CameraLive() const { return FCameraLive; }

signals:
    // A text for the status line.
    void Status(const QString& text);
    // A click on a notification: show the events folder.
    void OpenFolderRequested();

private:
    void Poll();
    void WatchCamera();
    void SyncMqtt();
    void Deliver(const std::vector<TEventNotice>& notices);
    void Notify(const TEventNotice& notice);

    TEventTracker FTracker;
    TCommandRunner* FStartCommand;
    TCommandRunner* FEndCommand;
    TCommandRunner* FCameraCommand;
    QTimer* FPollTimer;
    TTrayNotifier* FTray = nullptr;
    std::unique_ptr<TMqttPublisher> FMqtt;
    TMqttSettings FMqttWanted;
    bool FMqttOn = false;
    std::string FCameraName;
    bool FCommandsOn = false;
    std::function<bool()> FWatching;
    bool FCameraLive = false;
    bool FCameraLost = false;
};
