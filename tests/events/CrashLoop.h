#pragma once
// Kills a recorder process (event_record_child) at random moments of an
// event and checks what a user finds afterwards: after the repair at the
// next start, every clip opens in GStreamer's discoverer, or was moved aside
// with a status, and no marker is left. Used by the crash test (a few kills)
// and the crash benchmark (many).

#include "events/EventRepair.h"
#include "events/EventsFolder.h"

#include "EventTestSupport.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

struct TCrashFigures {
    int Kills = 0;
    int Playable = 0;           // clips the discoverer opens after the repair
    int MovedAside = 0;         // killed before anything playable was written
    int Unexplained = 0;        // neither: a clip lost without a word, or a marker left
    double MostSecondsLost = 0; // of the playable ones: recorded time minus clip time
    double LongestKilledAt = 0; // seconds into the event, of the moved-aside ones
    std::string Notes;
};

// One child: started, read until its event runs, then signalled after
// `delay`. Returns the event's time at the signal (pre-roll included), or a
// negative value when the child never started an event.
class TRecorderChild {
public:
    TRecorderChild(const std::string& program, const std::string& folder, const char* codec) {
        int out[2];
        if (pipe(out) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char* args[] = {program.c_str(), folder.c_str(), codec, nullptr};
        if (posix_spawn(&FPid, program.c_str(), &actions, nullptr, const_cast<char**>(args),
                        environ) != 0) {
            FPid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FOut = out[0];
    }
    ~TRecorderChild() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        if (FOut >= 0) {
            close(FOut);
        }
    }
    // The next line of the child's output, or "" after `timeout`.
    std::string ReadLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (FBuffer.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd wait{FOut, POLLIN, 0};
            if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char chunk[256];
            const ssize_t got = read(FOut, chunk, sizeof chunk);
            if (got <= 0) {
                return {};
            }
            FBuffer.append(chunk, static_cast<std::size_t>(got));
        }
        const auto end = FBuffer.find('\n');
        std::string line = FBuffer.substr(0, end);
        FBuffer.erase(0, end + 1);
        return line;
    }
    // Sends `signal` and waits for the child to end; its exit status.
    int Signal(int signal) {
        kill(FPid, signal);
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return status;
    }

private:
    pid_t FPid = -1;
    int FOut = -1;
    std::string FBuffer;
};

// Runs `kills` children one after another, each killed at a random moment
// from 0 to `longest` into its event, and repairs and opens what each left.
inline TCrashFigures KillAtRandomMoments(const std::string& program, int kills,
                                         std::chrono::milliseconds longest, const char* codec,
                                         std::uint32_t seed) {
    namespace fs = std::filesystem;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, static_cast<int>(longest.count()));
    TCrashFigures figures;
    for (int i = 0; i < kills; ++i) {
        char pattern[] = "/tmp/stirwatch-crash-XXXXXX";
        const std::string folder = mkdtemp(pattern);
        double killedAt = -1;
        {
            TRecorderChild child(program, folder, codec);
            std::istringstream line(child.ReadLine(std::chrono::seconds(60)));
            std::string word;
            unsigned long long preRoll = 0;
            line >> word >> preRoll;
            if (word == "recording") {
                const auto start = std::chrono::steady_clock::now();
                std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
                child.Signal(SIGKILL);
                killedAt = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                               .count() +
                           static_cast<double>(preRoll) / GST_SECOND;
            }
        }
        if (killedAt < 0) {
            figures.Notes += "a child never started its event; ";
            ++figures.Unexplained;
            fs::remove_all(folder);
            continue;
        }
        ++figures.Kills;
        const std::vector<TRepairResult> repairs = RepairUnfinishedEvents(folder);
        const std::vector<TEventFile> clips = ListEventFiles(folder);
        bool markerLeft = false;
        for (const auto& entry : fs::directory_iterator(folder)) {
            markerLeft |= entry.path().extension() == ".unfinished";
        }
        if (repairs.size() == 1 && repairs[0].Kind == TRepairResult::MovedAside && clips.empty() &&
            !markerLeft) {
            ++figures.MovedAside;
            figures.LongestKilledAt = std::max(figures.LongestKilledAt, killedAt);
        } else if (const GstClockTime kept =
                       clips.size() == 1 ? DiscoveredDuration(clips[0].Path) : GST_CLOCK_TIME_NONE;
                   kept != GST_CLOCK_TIME_NONE && !markerLeft) {
            ++figures.Playable;
            figures.MostSecondsLost = std::max(figures.MostSecondsLost,
                                               killedAt - static_cast<double>(kept) / GST_SECOND);
        } else {
            ++figures.Unexplained;
            figures.Notes += "kill at " + std::to_string(killedAt) + " s left " +
                             std::to_string(clips.size()) + " clips, " +
                             std::to_string(repairs.size()) + " repairs" +
                             (repairs.empty() ? "" : " (" + repairs[0].Text + ")") +
                             (markerLeft ? ", a marker" : "") + "; ";
        }
        fs::remove_all(folder);
    }
    return figures;
}
