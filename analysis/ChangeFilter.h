#pragma once
// Which changed pixels count. Before the comparison, a pixel that must not
// count gets the previous frame's level in a copy of the current frame, so
// that its change is 0 everywhere the comparison looks: the counts, the
// centres and the difference image. A pixel does not count when
// - a mask leaves it out (mask byte 0), or
// - it changed (|Current - Previous| > Tolerance) and fewer than Neighbours
//   of its 8 neighbours changed too (the speckle filter; 0 turns it off).
// Masked pixels do not count as changed neighbours, nor do pixels outside
// the frame. Pixels that did not change keep their own level, so the
// difference image still shows where a change stayed at the tolerance.

#include "analysis/ImageOperations.h"
#include "analysis/TBitmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct TChangeFilter {
    int Neighbours = 0;                 // 0 (off) .. 8
    const std::uint8_t* Mask = nullptr; // 1 watched, 0 ignored; null watches all
    std::size_t MaskStride = 0;         // bytes per mask row

    bool Active() const { return Neighbours > 0 || Mask != nullptr; }
};

// Writes Filtered (8-bit, the frames' size) as above. Scratch holds four
// rows of changed-pixel marks; it and Filtered are reallocated only when the
// size changes. Returns ResultWrongFormat (writing nothing) when the frames
// are not both 8-bit frames of one size, ResultDone otherwise.
int FilterChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                  const TChangeFilter& Filter, TBitmap& Filtered,
                  std::vector<std::uint8_t>& Scratch);
int FilterChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                  const TChangeFilter& Filter, TBitmap& Filtered,
                  std::vector<std::uint8_t>& Scratch, TKernelPath path);
