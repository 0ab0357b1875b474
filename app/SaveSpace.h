#pragma once
// The free space that saving movement images leaves on its volume. Saving on
// every moving step can fill a disk within minutes, and on a full disk every
// later write of anything fails (the settings, the movement log). Saving
// therefore stops while the images' volume is short of space and resumes by
// itself when space is back.

#include <cstdint>
#include <optional>
#include <string>

struct TVolumeSpace {
    std::uint64_t Available = 0; // bytes this process may still write
    std::uint64_t Total = 0;     // size of the volume in bytes
};

// The space of the volume that holds path; nothing when it cannot be told
// (for instance when path does not exist).
std::optional<TVolumeSpace> VolumeSpaceOf(const std::string& path);

// The space always kept free: 1 GiB, or 5 % of the volume when that is less.
std::uint64_t FreeSpaceFloor(std::uint64_t total);

// True when a file of the given size still leaves the floor free.
bool RoomToSave(const TVolumeSpace& space, std::uint64_t fileBytes);

// Bytes of the 24-bit BMP file of a frame of this size.
std::uint64_t BmpFileBytes(int width, int height);

// The status line's notice, e.g. "Saving images stopped: 120 MiB free in
// "/home/u/images", 1024 MiB are kept free".
std::string SavingStoppedText(const std::string& folder, const TVolumeSpace& space);
