#pragma once
// The Qt-free pieces of the frame step: the movement percentage, the movement
// test and the names of saved movement images.

#include <cstdint>
#include <string>

// Folder of saved movement images, relative to the current directory.
inline constexpr const char* SavedImagesFolder = "./images/";

// changedPixels * 100 / frameArea, truncated toward zero; 0 when the area is
// 0. Computed in 64 bits, so frames of any size give the exact percentage.
int MovementPercent(int changedPixels, std::int64_t frameArea);

// A frame shows movement when strictly more pixels changed than the minimum.
bool IsMovement(int changedPixels, int minimalMovement);

// The number in general format with 15 significant digits: trailing zeros
// dropped, decimalSeparator before the fraction digits, plain notation down to
// 0.0001 and scientific below ("5.78703703703704E-5"); 0 gives "0".
std::string FormatDayFraction(double fraction, char decimalSeparator);

// The time of day as a fraction of the day (a 64-bit float).
double DayFraction(int hour, int minute, int second, int millisecond);

// "./images/" + the formatted day fraction + ".bmp", e.g. "./images/0.5.bmp".
std::string SavedImageName(int hour, int minute, int second, int millisecond,
                           char decimalSeparator);
