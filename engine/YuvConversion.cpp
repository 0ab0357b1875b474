#include "engine/YuvConversion.h"

#include <algorithm>

namespace {

// Weights in 16-bit fixed point: colour = (Luma * (Y - LumaOffset) + the
// chroma terms of (U - 128) and (V - 128) + 2^15) >> 16.
struct TYuvWeights {
    int LumaOffset;
    int Luma;
    int RedFromV;
    int GreenFromU;
    int GreenFromV;
    int BlueFromU;
};

constexpr int Fixed(double value) {
    return static_cast<int>(value * 65536.0 + (value < 0 ? -0.5 : 0.5));
}

constexpr TYuvWeights Weights(double kr, double kb, bool studio) {
    const double kg = 1.0 - kr - kb;
    const double luma = studio ? 255.0 / 219.0 : 1.0;
    const double chroma = studio ? 255.0 / 224.0 : 1.0;
    return {studio ? 16 : 0,
            Fixed(luma),
            Fixed(chroma * 2 * (1 - kr)),
            Fixed(-chroma * 2 * kb * (1 - kb) / kg),
            Fixed(-chroma * 2 * kr * (1 - kr) / kg),
            Fixed(chroma * 2 * (1 - kb))};
}

constexpr TYuvWeights Bt601Studio = Weights(0.299, 0.114, true);
constexpr TYuvWeights Bt601Full = Weights(0.299, 0.114, false);
constexpr TYuvWeights Bt709Studio = Weights(0.2126, 0.0722, true);
constexpr TYuvWeights Bt709Full = Weights(0.2126, 0.0722, false);

const TYuvWeights& WeightsOf(TYuvColors colors) {
    switch (colors) {
    case TYuvColors::Bt601Full:
        return Bt601Full;
    case TYuvColors::Bt709Studio:
        return Bt709Studio;
    case TYuvColors::Bt709Full:
        return Bt709Full;
    case TYuvColors::Bt601Studio:
        break;
    }
    return Bt601Studio;
}

inline std::uint8_t Channel(int fixed) {
    return static_cast<std::uint8_t>(std::clamp((fixed + 32768) >> 16, 0, 255));
}

inline void Pixel(const TYuvWeights& w, int y, int u, int v, std::uint8_t* bgr) {
    const int luma = w.Luma * (y - w.LumaOffset);
    bgr[0] = Channel(luma + w.BlueFromU * u);
    bgr[1] = Channel(luma + w.GreenFromU * u + w.GreenFromV * v);
    bgr[2] = Channel(luma + w.RedFromV * v);
}

} // namespace

void YuvRowToBgr(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                 int chromaStep, std::uint8_t* bgr, int width, TYuvColors colors) {
    const TYuvWeights& w = WeightsOf(colors);
    for (int x = 0; x < width; ++x) {
        const int pair = (x >> 1) * chromaStep;
        Pixel(w, luma[x], u[pair] - 128, v[pair] - 128, bgr + 3 * x);
    }
}

void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, TYuvColors colors,
              std::uint8_t bgr[3]) {
    Pixel(WeightsOf(colors), y, u - 128, v - 128, bgr);
}
