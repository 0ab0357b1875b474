#include "app/SaveSpace.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string Mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

} // namespace

bool RoomToSave(const TDiskSpace& space, std::uint64_t fileBytes) {
    const std::uint64_t floor = FreeSpaceFloor(space.Total);
    return space.Free >= floor && space.Free - floor >= fileBytes;
}

std::uint64_t BmpFileBytes(int width, int height) {
    const std::uint64_t stride = (static_cast<std::uint64_t>(std::max(width, 0)) * 3 + 3) & ~3ULL;
    return 54 + stride * static_cast<std::uint64_t>(std::max(height, 0));
}

std::string SavingStoppedText(const std::string& folder, const TDiskSpace& space) {
    return "Saving images stopped: " + Mebibytes(space.Free) + " free in \"" + folder + "\", " +
           Mebibytes(FreeSpaceFloor(space.Total)) + " are kept free";
}
