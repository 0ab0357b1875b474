#include "tests/support/PipeWireCamera.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The full path of a program on PATH, or "" when it is not installed.
std::string FindExecutable(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

void StopChild(pid_t child) {
    kill(child, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace

TPipeWireCamera::TPipeWireCamera(int width, int height, int fps) {
    for (const char* tool : {"dbus-daemon", "pipewire", "wireplumber", "gst-launch-1.0"}) {
        if (FindExecutable(tool).empty()) {
            FReason = std::string(tool) + " is not installed";
            return;
        }
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "pipewire-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        FReason = "cannot make a runtime folder";
        return;
    }
    FFolder = pattern;
    chmod(FFolder.c_str(), 0700);

    const std::string bus = "unix:path=" + FFolder + "/bus";
    if (!Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus},
               "dbus.log") ||
        !WaitForSocket("bus", "dbus.log")) {
        return;
    }
    if (!Spawn({"pipewire"}, "pipewire.log") || !WaitForSocket("pipewire-0", "pipewire.log")) {
        return;
    }
    if (!Spawn({"wireplumber"}, "wireplumber.log")) {
        return;
    }
    const std::string caps = "video/x-raw,format=YUY2,width=" + std::to_string(width) +
                             ",height=" + std::to_string(height) +
                             ",framerate=" + std::to_string(fps) + "/1";
    if (!Spawn({"gst-launch-1.0", "-q", "videotestsrc", "is-live=true", "pattern=ball", "!", caps,
                "!", "pipewiresink", "mode=provide",
                std::string("stream-properties=\"props,media.class=Video/Source,") +
                    "node.name=stirwatch-virtual-camera,node.description=\\\"" + Name + "\\\"\""},
               "camera.log")) {
        return;
    }
    // This process's own PipeWire clients (the device monitor, pipewiresrc) use the session.
    const char* old = std::getenv("PIPEWIRE_RUNTIME_DIR");
    FHadRuntimeDir = old != nullptr;
    FOldRuntimeDir = old ? old : "";
    setenv("PIPEWIRE_RUNTIME_DIR", FFolder.c_str(), 1);
}

TPipeWireCamera::~TPipeWireCamera() {
    for (auto child = FChildren.rbegin(); child != FChildren.rend(); ++child) {
        StopChild(*child);
    }
    if (FHadRuntimeDir) {
        setenv("PIPEWIRE_RUNTIME_DIR", FOldRuntimeDir.c_str(), 1);
    } else {
        unsetenv("PIPEWIRE_RUNTIME_DIR");
    }
    if (!FFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
}

// Starts a child with the session's environment, its output going to a log in the folder.
bool TPipeWireCamera::Spawn(const std::vector<std::string>& command, const std::string& log) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 &&
            entry.rfind("PIPEWIRE_RUNTIME_DIR=", 0) != 0 &&
            entry.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0) {
            environment.push_back(entry);
        }
    }
    environment.push_back("XDG_RUNTIME_DIR=" + FFolder);
    environment.push_back("PIPEWIRE_RUNTIME_DIR=" + FFolder);
    environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + FFolder + "/bus");
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const std::string program = FindExecutable(command[0]);
    const std::string logPath = FFolder + "/" + log;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls here. The child goes when this process
        // goes, also when a test crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        const int output = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (child < 0) {
        FReason = "cannot start " + command[0];
        return false;
    }
    FChildren.push_back(child);
    return true;
}

bool TPipeWireCamera::WaitForSocket(const std::string& name, const std::string& log) {
    const std::string path = FFolder + "/" + name;
    for (int i = 0; i < 250; ++i) {
        if (access(path.c_str(), F_OK) == 0) {
            return true;
        }
        if (waitpid(FChildren.back(), nullptr, WNOHANG) == FChildren.back()) {
            FChildren.pop_back();
            FReason = log.substr(0, log.find('.')) + " exited: " + LogTail(log);
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    FReason = log.substr(0, log.find('.')) + " did not open its socket: " + LogTail(log);
    return false;
}

std::string TPipeWireCamera::LogTail(const std::string& log) const {
    std::ifstream file(FFolder + "/" + log);
    std::string line;
    std::string last;
    while (std::getline(file, line)) {
        if (!line.empty()) {
            last = line;
        }
    }
    return last.empty() ? "(no output)" : last;
}
