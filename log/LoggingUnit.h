#pragma once
// The movement log of automatic mode: one CSV file per run, one record per
// frame step, "time, pixels, percent" with CR LF, no header. A session only
// fixes the file name; the file comes into being with the first record and is
// open, exclusively, only for the duration of one call.

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>

// A local date and time with milliseconds.
struct TLogTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

TLogTime LocalTimeNow();

// folder + "/" (unless it ends in one) + "movement_yyyy-mm-dd_hh-nn-ss-zzz.csv"
std::string LogFileName(const std::string& folder, const TLogTime& start);

// The folder a session given `folder` writes to: `folder` itself, or the home
// folder for an empty folder or the root; empty when there is no home folder
// other than the root.
std::string LogFolderFor(const std::string& folder);

// "yyyy-mm-dd hh:nn:ss:zzz, pixels, percent\r\n"
std::string LogRecord(const TLogTime& time, int pixels, int percent);

class MovementLog {
public:
    // The one place where records reach the file, as write(2): bytes written
    // or -1 with errno set. Replaceable to cause write faults in tests.
    using TWriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;

    MovementLog();

    // An empty folder, or the root, stands for the home folder: no log is
    // ever written to the root of the file system.
    void StartSession(const std::string& folder);
    void StopSession();
    // Appends one record while a session is active. A record is either
    // written whole or not at all: a failed or short write is undone and
    // raised as an error, and the session stays active for the next call.
    void LogMovement(int pixels, int percent);

    const std::string& FileName() const { return LogFile; }
    const std::string& Folder() const { return SessionFolder; }

    void SetWriteFunction(TWriteFunction write);

private:
    std::string SessionFolder;
    std::string LogFile;
    // The session has no folder to write to: its records fail.
    bool WithoutFolder = false;
    TWriteFunction Write;

    void Append(int fd, const std::string& record);
};
