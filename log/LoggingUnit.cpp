#include "log/LoggingUnit.h"

#include "types/Exception.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char PathDelimiter = '/';

std::string Format(const char* pattern, const TLogTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second,
                  t.Millisecond);
    return text;
}

std::string SystemText(int error) {
    return std::strerror(error);
}

// Errors name the file in full: a relative log folder is taken from the
// current folder, which the message would not show.
std::string FullPath(const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return error ? path : full.lexically_normal().string();
}

[[noreturn]] void CannotCreate(const std::string& path, const std::string& reason) {
    throw EFCreateError("Cannot create file \"" + FullPath(path) + "\". " + reason);
}

// Closes the descriptor on every way out of a call.
class TFileHandle {
public:
    explicit TFileHandle(int fd) : Fd(fd) {}
    ~TFileHandle() {
        if (Fd >= 0) {
            close(Fd);
        }
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Get() const { return Fd; }

private:
    int Fd;
};

// Opens the existing file for writing, or creates it. An existing file is
// never truncated: a failed open must not cost the records already there.
int OpenOrCreate(const std::string& path, bool& created) {
    created = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const int made = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (made >= 0 || errno != EEXIST) {
            created = made >= 0;
            return made;
        }
    }
    return -1;
}

} // namespace

TLogTime LocalTimeNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,           local.tm_hour,
            local.tm_min,         local.tm_sec,     static_cast<int>(millis)};
}

std::string LogFileName(const std::string& folder, const TLogTime& start) {
    std::string name = folder;
    if (name.empty() || name.back() != PathDelimiter) {
        name += PathDelimiter;
    }
    return name + Format("movement_%04d-%02d-%02d_%02d-%02d-%02d-%03d.csv", start);
}

std::string LogRecord(const TLogTime& time, int pixels, int percent) {
    return Format("%04d-%02d-%02d %02d:%02d:%02d:%03d", time) + ", " + std::to_string(pixels) +
           ", " + std::to_string(percent) + "\r\n";
}

MovementLog::MovementLog() : Write(::write) {}

void MovementLog::SetWriteFunction(TWriteFunction write) {
    Write = write ? std::move(write) : TWriteFunction(::write);
}

// The root of the file system is never a log's folder: an empty folder (no
// documents folder was found and none was chosen), or the root itself, means
// the home folder. Without a home folder other than the root, the session
// names no folder and its first record fails with that reason.
std::string LogFolderFor(const std::string& folder) {
    const auto isRoot = [](const std::string& path) {
        return path.find_first_not_of(PathDelimiter) == std::string::npos;
    };
    if (!isRoot(folder)) {
        return folder;
    }
    const char* home = std::getenv("HOME");
    return home && !isRoot(home) ? std::string(home) : std::string();
}

void MovementLog::StartSession(const std::string& folder) {
    SessionFolder = folder;
    const std::string logFolder = LogFolderFor(folder);
    WithoutFolder = logFolder.empty();
    LogFile = LogFileName(logFolder, LocalTimeNow());
}

void MovementLog::StopSession() {
    LogFile.clear();
}

void MovementLog::LogMovement(int pixels, int percent) {
    if (LogFile.empty()) {
        return;
    }
    if (WithoutFolder) {
        throw EFCreateError("Cannot create a log file: no log folder is set and there is no home "
                            "folder to use instead");
    }
    const std::string record = LogRecord(LocalTimeNow(), pixels, percent);

    bool created = false;
    const TFileHandle file(OpenOrCreate(LogFile, created));
    if (file.Get() < 0) {
        CannotCreate(LogFile, SystemText(errno));
    }
    // Exclusive while open: a concurrent writer fails rather than interleaves.
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
        CannotCreate(LogFile, errno == EWOULDBLOCK ? "The file is in use by another process."
                                                   : SystemText(errno));
    }
    try {
        Append(file.Get(), record);
    } catch (...) {
        if (created) {
            unlink(LogFile.c_str());
        }
        throw;
    }
}

// Writes the whole record at the end of the file. When the file takes only a
// part of it, the file is cut back to its former length so that no torn
// record stays behind, and the failure is raised.
void MovementLog::Append(int fd, const std::string& record) {
    const off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        throw EFCreateError("Cannot write file \"" + FullPath(LogFile) + "\". " +
                            SystemText(errno));
    }
    std::size_t done = 0;
    while (done < record.size()) {
        const ssize_t written = Write(fd, record.data() + done, record.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        const int error = written == 0 ? ENOSPC : errno;
        if (done > 0 && ftruncate(fd, end) != 0) {
            throw EFCreateError("Cannot write file \"" + FullPath(LogFile) + "\". " +
                                SystemText(error) + " The last record may be incomplete.");
        }
        throw EFCreateError("Cannot write file \"" + FullPath(LogFile) + "\". " +
                            SystemText(error));
    }
}
