#pragma once
// A folder whose disk work is as slow as a test wants: every open of the
// folder or of a file in it waits, while the gate holds, until it is
// released, and the thread of each open is noted. Built on fanotify's
// permission events, which need root; Available() is false elsewhere.

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFolderGate {
public:
    explicit TFolderGate(const std::string& folder) {
        FFd = fanotify_init(FAN_CLASS_CONTENT | FAN_REPORT_TID | FAN_CLOEXEC, O_RDONLY);
        if (FFd >= 0 &&
            fanotify_mark(FFd, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD | FAN_ONDIR,
                          AT_FDCWD, folder.c_str()) != 0) {
            close(FFd);
            FFd = -1;
        }
        if (FFd >= 0) {
            FListener = std::thread([this] { Listen(); });
        }
    }
    ~TFolderGate() {
        {
            std::lock_guard lock(FMutex);
            FStop = true;
        }
        FChanged.notify_all();
        if (FListener.joinable()) {
            FListener.join();
        }
        if (FFd >= 0) {
            close(FFd); // any open still waiting is allowed
        }
    }
    TFolderGate(const TFolderGate&) = delete;
    TFolderGate& operator=(const TFolderGate&) = delete;

    bool Available() const { return FFd >= 0; }

    void Hold() {
        std::lock_guard lock(FMutex);
        FHold = true;
    }
    void Release() {
        std::lock_guard lock(FMutex);
        FHold = false;
        FChanged.notify_all();
    }
    // Whether an open was held at the gate (waiting at most `timeout` for one).
    bool WaitUntilHolding(std::chrono::seconds timeout) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, timeout, [this] { return FHeld > 0; });
    }
    // The threads (kernel ids) that opened something in the folder so far.
    std::vector<pid_t> Openers() {
        std::lock_guard lock(FMutex);
        return FOpeners;
    }

private:
    // A held open is let through after this at the latest, so that a fault
    // in what is tested fails the test instead of hanging it.
    static constexpr auto LongestHold = std::chrono::seconds(10);

    void Listen() {
        alignas(fanotify_event_metadata) char buffer[4096];
        while (!Stopping()) {
            pollfd ready{FFd, POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0) {
                continue;
            }
            const ssize_t length = read(FFd, buffer, sizeof buffer);
            auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
            for (ssize_t left = length; FAN_EVENT_OK(event, left);
                 event = FAN_EVENT_NEXT(event, left)) {
                Admit(event->pid);
                const fanotify_response response{event->fd, FAN_ALLOW};
                (void)!write(FFd, &response, sizeof response);
                close(event->fd);
            }
        }
    }
    // Notes the thread and waits while the gate holds.
    void Admit(pid_t thread) {
        std::unique_lock lock(FMutex);
        FOpeners.push_back(thread);
        FHeld += FHold ? 1 : 0;
        FChanged.notify_all();
        FChanged.wait_for(lock, LongestHold, [this] { return !FHold || FStop; });
    }
    bool Stopping() {
        std::lock_guard lock(FMutex);
        return FStop;
    }

    int FFd = -1;
    std::thread FListener;
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FHold = false;
    int FHeld = 0;
    bool FStop = false;
    std::vector<pid_t> FOpeners;
};
