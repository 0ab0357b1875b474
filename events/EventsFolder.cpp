#include "events/EventsFolder.h"

#include "events/EventCodec.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

std::string EventBaseName(const std::tm& localTime) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &localTime);
    return text;
}

bool IsEventFileName(const std::string& name) {
    const std::string pattern = "dddd-dd-dd_dd-dd-dd";
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || !IsEventFileExtension(name.substr(dot)) ||
        dot < pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (pattern[i] == 'd' ? !digit : name[i] != pattern[i]) {
            return false;
        }
    }
    const std::string suffix = name.substr(pattern.size(), dot - pattern.size());
    if (suffix.empty()) {
        return true;
    }
    return suffix.size() >= 2 && suffix[0] == '_' &&
           std::all_of(suffix.begin() + 1, suffix.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string FreeEventPath(const std::string& folder, const std::tm& localTime,
                          const std::string& extension) {
    const std::string base = (fs::path(folder) / EventBaseName(localTime)).string();
    std::string path = base + extension;
    std::error_code error;
    for (int n = 2; fs::exists(path, error); ++n) {
        path = base + "_" + std::to_string(n) + extension;
    }
    return path;
}

std::vector<TEventFile> ListEventFiles(const std::string& folder) {
    std::vector<TEventFile> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code entryError;
        if (!entry.is_regular_file(entryError) ||
            !IsEventFileName(entry.path().filename().string())) {
            continue;
        }
        const auto size = entry.file_size(entryError);
        files.push_back({entry.path().string(), entryError ? 0 : size});
    }
    // Names sort by start time; a "_2" suffix sorts after its plain name.
    std::sort(files.begin(), files.end(), [](const TEventFile& a, const TEventFile& b) {
        const auto key = [](const std::string& path) {
            const std::string name = fs::path(path).stem().string();
            const std::string base = name.substr(0, 19);
            const int n = name.size() > 20 ? std::atoi(name.c_str() + 20) : 1;
            return std::make_pair(base, n);
        };
        return key(a.Path) < key(b.Path);
    });
    return files;
}

int EnforceFolderLimit(const std::string& folder, std::uint64_t limitBytes, std::uint64_t reserve,
                       const std::string& keep) {
    std::vector<TEventFile> files = ListEventFiles(folder);
    std::uint64_t total = reserve;
    for (const TEventFile& file : files) {
        total += file.Size;
    }
    int deleted = 0;
    for (const TEventFile& file : files) {
        if (total <= limitBytes) {
            break;
        }
        if (!keep.empty() && fs::path(file.Path) == fs::path(keep)) {
            continue;
        }
        std::error_code error;
        if (fs::remove(file.Path, error)) {
            total -= file.Size;
            ++deleted;
        }
    }
    return deleted;
}

TDiskSpace DiskSpaceOf(const std::string& folder) {
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0) {
        return {};
    }
    return {static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize,
            static_cast<std::uint64_t>(info.f_blocks) * info.f_frsize, true};
}

std::uint64_t FreeSpaceFloor(std::uint64_t volumeBytes) {
    return std::min<std::uint64_t>(1ull << 30, volumeBytes / 20);
}

void EnsureFolder(const std::string& folder) {
    std::error_code error;
    if (folder.empty()) {
        throw std::runtime_error("No events folder is set");
    }
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        throw std::runtime_error("Cannot create the events folder \"" + folder + "\". " +
                                 (error ? error.message() : "It is not a folder"));
    }
}
