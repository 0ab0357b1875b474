#pragma once
// The free space that saving movement images leaves on its volume. Saving on
// every moving step can fill a disk within minutes, and on a full disk every
// later write of anything fails (the settings, the movement log). Saving
// therefore stops while the images' volume is below the free-space floor that
// event recording keeps too (events/EventsFolder.h), and resumes by itself
// when space is back.

#include "events/EventsFolder.h"

#include <cstdint>
#include <string>

// True when a file of the given size still leaves the floor free.
bool RoomToSave(const TDiskSpace& space, std::uint64_t fileBytes);

// Bytes of the 24-bit BMP file of a frame of this size.
std::uint64_t BmpFileBytes(int width, int height);

// The status line's notice, e.g. "Saving images stopped: 120.0 MiB free in
// "/home/u/images", 1024.0 MiB are kept free".
std::string SavingStoppedText(const std::string& folder, const TDiskSpace& space);
