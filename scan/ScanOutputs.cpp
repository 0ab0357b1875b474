#include "scan/ScanOutputs.h"

#include "log/LoggingUnit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr std::int64_t NsPerMs = 1000000;

TLogTime VideoTime(std::int64_t ms) {
    TLogTime time;
    time.Day = static_cast<int>(ms / 86400000);
    time.Hour = static_cast<int>(ms / 3600000 % 24);
    time.Minute = static_cast<int>(ms / 60000 % 60);
    time.Second = static_cast<int>(ms / 1000 % 60);
    time.Millisecond = static_cast<int>(ms % 1000);
    return time;
}

TLogTime WallTime(std::int64_t madeSeconds, std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(madeSeconds + ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900,
            local.tm_mon + 1,
            local.tm_mday,
            local.tm_hour,
            local.tm_min,
            local.tm_sec,
            static_cast<int>(ms % 1000)};
}

[[noreturn]] void CannotWrite(const std::string& path, int error) {
    throw EScanFileError("cannot write " + path + ": " + std::strerror(error));
}

} // namespace

std::string MovementLogText(const std::vector<TStepRecord>& steps, const TCreationTime& creation) {
    std::string text;
    for (const TStepRecord& step : steps) {
        const std::int64_t ms = std::max<std::int64_t>(0, step.TimeNs / NsPerMs);
        const TLogTime time = creation ? WallTime(*creation, ms) : VideoTime(ms);
        text += LogRecord(time, step.ChangedPixels, step.Percent);
    }
    return text;
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    const std::string partial = path + ".partial";
    const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        CannotWrite(path, errno);
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            const int error = written == 0 ? ENOSPC : errno;
            close(fd);
            unlink(partial.c_str());
            CannotWrite(path, error);
        }
        done += static_cast<std::size_t>(written);
    }
    const int syncError = fsync(fd) == 0 ? 0 : errno;
    const int closeError = close(fd) == 0 ? 0 : errno;
    if (syncError != 0 || closeError != 0) {
        unlink(partial.c_str());
        CannotWrite(path, syncError != 0 ? syncError : closeError);
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(partial.c_str());
        CannotWrite(path, error);
    }
}

TOutputNames OutputNamesFor(const std::string& folder, const std::string& inputPath) {
    const std::filesystem::path base =
        std::filesystem::path(folder) / std::filesystem::path(inputPath).stem();
    const std::string stem = base.string();
    return {stem + ".movement.csv", stem + ".events.csv", stem + ".events.json", stem + ".plot.png",
            stem};
}
