#pragma once
// Areas of the picture to ignore, or the only areas to watch: polygons in
// coordinates relative to the frame (0,0 the top left corner, 1,1 the bottom
// right one), so that a mask stays in place when the frame size changes.
//
// Text form, one item per line or between semicolons (blank lines and lines
// starting with # are skipped):
//   ignore            (or: watch)   what the polygons are
//   0.1,0.1 0.4,0.1 0.4,0.3         one polygon: at least 3 x,y pairs

#include <cstdint>
#include <string>
#include <vector>

enum class TMaskMode { Ignore, WatchOnly };

struct TMaskPoint {
    double X = 0;
    double Y = 0;
    bool operator==(const TMaskPoint&) const = default;
};

using TMaskPolygon = std::vector<TMaskPoint>;

struct TDetectionMask {
    TMaskMode Mode = TMaskMode::Ignore;
    std::vector<TMaskPolygon> Polygons;

    // A mask without polygons watches every pixel, whatever its mode.
    bool Empty() const { return Polygons.empty(); }
    bool operator==(const TDetectionMask&) const = default;
};

// The text form above; throws EInvalidOperation naming the faulty line.
TDetectionMask ParseMask(const std::string& text);
std::string MaskText(const TDetectionMask& mask);

// One byte per pixel, rows of `width` bytes: 1 where the pixel is watched,
// 0 where the mask leaves it out. A pixel belongs to a polygon when its
// centre lies inside (even-odd rule). Returns the number of watched pixels.
// Reuses the vector's storage.
std::int64_t RasteriseMask(const TDetectionMask& mask, int width, int height,
                           std::vector<std::uint8_t>& pixels);
