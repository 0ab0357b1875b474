#pragma once
// The events folder: names of event files, the folder's size limit (the
// oldest event files go first) and the free-space floor of its disk. Only
// files named like events ("2026-12-09_14-03-27.mp4", optionally with a
// "_2" suffix before the extension) are counted or ever deleted.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct TEventFile {
    std::string Path;
    std::uint64_t Size = 0;
};

// "YYYY-MM-DD_HH-MM-SS" of a local time.
std::string EventBaseName(const std::tm& localTime);

// Whether a file name (without folder) is one of an event file.
bool IsEventFileName(const std::string& name);

// A path in `folder` for an event that starts at `localTime`, not yet taken:
// "<folder>/<base><extension>", else "<base>_2<extension>", "_3", ...
std::string FreeEventPath(const std::string& folder, const std::tm& localTime,
                          const std::string& extension);

// The event files of the folder, oldest first (by name, which sorts by start time).
std::vector<TEventFile> ListEventFiles(const std::string& folder);

// Deletes the oldest event files (never `keep`) until the event files plus
// `reserve` bytes fit within `limitBytes`. Returns the number deleted.
int EnforceFolderLimit(const std::string& folder, std::uint64_t limitBytes, std::uint64_t reserve,
                       const std::string& keep = {});

struct TDiskSpace {
    std::uint64_t Free = 0;  // bytes an unprivileged writer may still use
    std::uint64_t Total = 0; // size of the volume
    bool Known = false;
};
TDiskSpace DiskSpaceOf(const std::string& folder);

// Below this many free bytes no event starts: 1 GiB, or 5% of the volume
// when that is less.
std::uint64_t FreeSpaceFloor(std::uint64_t volumeBytes);

// Creates the folder and its parents when missing; throws std::runtime_error
// with the reason when it cannot.
void EnsureFolder(const std::string& folder);
