#include "app/SaveSpace.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

std::string Mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

} // namespace

std::optional<TVolumeSpace> VolumeSpaceOf(const std::string& path) {
    struct statvfs volume {};
    if (statvfs(path.c_str(), &volume) != 0) {
        return std::nullopt;
    }
    return TVolumeSpace{static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize,
                        static_cast<std::uint64_t>(volume.f_blocks) * volume.f_frsize};
}

std::uint64_t FreeSpaceFloor(std::uint64_t total) {
    return std::min(GiB, total / 20);
}

bool RoomToSave(const TVolumeSpace& space, std::uint64_t fileBytes) {
    const std::uint64_t floor = FreeSpaceFloor(space.Total);
    return space.Available >= floor && space.Available - floor >= fileBytes;
}

std::uint64_t BmpFileBytes(int width, int height) {
    const std::uint64_t stride = (static_cast<std::uint64_t>(std::max(width, 0)) * 3 + 3) & ~3ULL;
    return 54 + stride * static_cast<std::uint64_t>(std::max(height, 0));
}

std::string SavingStoppedText(const std::string& folder, const TVolumeSpace& space) {
    return "Saving images stopped: " + Mebibytes(space.Available) + " free in \"" + folder +
           "\", " + Mebibytes(FreeSpaceFloor(space.Total)) + " are kept free";
}
