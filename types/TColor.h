#pragma once
// Colours of the whole system: 0x00BBGGRR, red in the low byte, then green,
// then blue. So 0x0000FF is pure red and 0xFF0000 pure blue.

#include <cstdint>

using TColor = std::uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
