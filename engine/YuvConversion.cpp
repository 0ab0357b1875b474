#include "engine/YuvConversion.h"

#include "analysis/KernelDispatch.h"

#include <algorithm>
#include <cstring>

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

void YuvRowScalar(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                  const std::uint8_t* v, int chromaStep, std::uint8_t* bgr, int first, int width) {
    for (int x = first; x < width; ++x) {
        const int pair = (x >> 1) * chromaStep;
        Pixel(w, luma[x], u[pair] - 128, v[pair] - 128, bgr + 3 * x);
    }
}

// One pixel as 0xffRRGGBB; `u` and `v` with 128 taken off.
inline std::uint32_t Rgb32(const TYuvWeights& w, int y, int u, int v) {
    std::uint8_t bgr[3];
    Pixel(w, y, u, v, bgr);
    return 0xff000000u | std::uint32_t{bgr[2]} << 16 | std::uint32_t{bgr[1]} << 8 | bgr[0];
}

void YuvPackedScalar(const TYuvWeights& w, std::uint32_t* pixels, int first, int count) {
    for (int x = first; x < count; ++x) {
        const std::uint32_t yuv = pixels[x];
        pixels[x] = Rgb32(w, static_cast<int>(yuv & 0xff), static_cast<int>(yuv >> 8 & 0xff) - 128,
                          static_cast<int>(yuv >> 16 & 0xff) - 128);
    }
}

void YuvRowRgb32Scalar(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                       const std::uint8_t* v, int chromaStep, std::uint32_t* rgb, int first,
                       int width) {
    for (int x = first; x < width; ++x) {
        const int pair = (x >> 1) * chromaStep;
        rgb[x] = Rgb32(w, luma[x], u[pair] - 128, v[pair] - 128);
    }
}

void YuvHalvedScalar(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                     const std::uint8_t* v, int chromaStep, std::uint32_t* rgb, int first,
                     int count) {
    for (int x = first; x < count; ++x) {
        const int pair = x * chromaStep;
        rgb[x] = Rgb32(w, luma[2 * x], u[pair] - 128, v[pair] - 128);
    }
}

void YuvPackedPortable(const TYuvWeights& w, std::uint32_t* pixels, int count) {
    YuvPackedScalar(w, pixels, 0, count);
}

void YuvRowRgb32Portable(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                         const std::uint8_t* v, int chromaStep, std::uint32_t* rgb, int width) {
    YuvRowRgb32Scalar(w, luma, u, v, chromaStep, rgb, 0, width);
}

void YuvHalvedPortable(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                       const std::uint8_t* v, int chromaStep, std::uint32_t* rgb, int count) {
    YuvHalvedScalar(w, luma, u, v, chromaStep, rgb, 0, count);
}

void YuvRowPortable(const TYuvWeights& w, const std::uint8_t* luma, const std::uint8_t* u,
                    const std::uint8_t* v, int chromaStep, std::uint8_t* bgr, int width) {
    YuvRowScalar(w, luma, u, v, chromaStep, bgr, 0, width);
}

#ifdef STIRWATCH_X86
STIRWATCH_VECTOR_CODE_BEGIN

// The chroma of eight pixels (four pairs, each pair's values twice) as 32-bit
// lanes, 128 already taken off.
STIRWATCH_TARGET_AVX2 inline void ChromaOf8(const std::uint8_t* u, const std::uint8_t* v,
                                            int chromaStep, int x, __m256i& uu, __m256i& vv) {
    __m128i pairs;
    if (chromaStep == 1) {
        std::uint32_t uBytes, vBytes;
        std::memcpy(&uBytes, u + x / 2, 4);
        std::memcpy(&vBytes, v + x / 2, 4);
        const __m128i both = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(uBytes)),
                                                _mm_cvtsi32_si128(static_cast<int>(vBytes)));
        pairs = _mm_shuffle_epi8(both, _mm_setr_epi8(0, 0, 1, 1, 2, 2, 3, 3, //
                                                     4, 4, 5, 5, 6, 6, 7, 7));
    } else {
        // Interleaved: u0 v0 u1 v1 u2 v2 u3 v3 from the pair of pixel x on.
        const __m128i uv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x));
        pairs = _mm_shuffle_epi8(uv, _mm_setr_epi8(0, 0, 2, 2, 4, 4, 6, 6, //
                                                   1, 1, 3, 3, 5, 5, 7, 7));
    }
    const __m256i offset = _mm256_set1_epi32(128);
    uu = _mm256_sub_epi32(_mm256_cvtepu8_epi32(pairs), offset);
    vv = _mm256_sub_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(pairs, 8)), offset);
}

// Eight pixels at a time with the same fixed-point arithmetic as Pixel; the
// packing instructions saturate exactly as its clamp does.
STIRWATCH_TARGET_AVX2 void YuvRowAvx2(const TYuvWeights& w, const std::uint8_t* luma,
                                      const std::uint8_t* u, const std::uint8_t* v, int chromaStep,
                                      std::uint8_t* bgr, int width) {
    const __m256i lumaOffset = _mm256_set1_epi32(w.LumaOffset);
    const __m256i lumaWeight = _mm256_set1_epi32(w.Luma);
    const __m256i half = _mm256_set1_epi32(32768);
    const __m256i redFromV = _mm256_set1_epi32(w.RedFromV);
    const __m256i greenFromU = _mm256_set1_epi32(w.GreenFromU);
    const __m256i greenFromV = _mm256_set1_epi32(w.GreenFromV);
    const __m256i blueFromU = _mm256_set1_epi32(w.BlueFromU);
    // Per 128-bit lane after packing: b0-3, g0-3, r0-3, r0-3; to b g r per pixel.
    const __m256i interleave =
        _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1, 0, 4, 8, 1, 5, 9, 2,
                         6, 10, 3, 7, 11, -1, -1, -1, -1);
    int x = 0;
    // A pair's chroma is read 4 bytes (I420) or 8 bytes (NV12) at a time: stop
    // where that would read past the last pair.
    const int pairs = (width + 1) / 2;
    for (; x + 8 <= width && x / 2 + 4 <= pairs; x += 8) {
        const __m256i y =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + x)));
        __m256i uu, vv;
        ChromaOf8(u, v, chromaStep, x, uu, vv);
        const __m256i l =
            _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(y, lumaOffset), lumaWeight), half);
        const __m256i b =
            _mm256_srai_epi32(_mm256_add_epi32(l, _mm256_mullo_epi32(uu, blueFromU)), 16);
        const __m256i g = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_add_epi32(l, _mm256_mullo_epi32(uu, greenFromU)),
                             _mm256_mullo_epi32(vv, greenFromV)),
            16);
        const __m256i r =
            _mm256_srai_epi32(_mm256_add_epi32(l, _mm256_mullo_epi32(vv, redFromV)), 16);
        const __m256i bytes = _mm256_shuffle_epi8(
            _mm256_packus_epi16(_mm256_packs_epi32(b, g), _mm256_packs_epi32(r, r)), interleave);
        const __m128i low = _mm256_castsi256_si128(bytes);
        const __m128i high = _mm256_extracti128_si256(bytes, 1);
        std::uint8_t* out = bgr + 3 * x;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), low);
        const int lowRest = _mm_cvtsi128_si32(_mm_srli_si128(low, 8));
        std::memcpy(out + 8, &lowRest, 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12), high);
        const int highRest = _mm_cvtsi128_si32(_mm_srli_si128(high, 8));
        std::memcpy(out + 20, &highRest, 4);
    }
    YuvRowScalar(w, luma, u, v, chromaStep, bgr, x, width);
}

STIRWATCH_TARGET_AVX2 inline __m256i Load8(const std::uint8_t* bytes) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)));
}

// A colour in 16-bit fixed point, rounding already added, as 0-255.
STIRWATCH_TARGET_AVX2 inline __m256i Channel8(__m256i fixed) {
    return _mm256_max_epi32(_mm256_min_epi32(_mm256_srai_epi32(fixed, 16), _mm256_set1_epi32(255)),
                            _mm256_setzero_si256());
}

// Eight pixels as 0xffRRGGBB with Pixel's arithmetic, from their luma and
// chroma (128 taken off) in 32-bit lanes; each colour is clamped to 0-255
// before it is shifted into place.
STIRWATCH_TARGET_AVX2 inline __m256i Rgb32Of8(const TYuvWeights& w, __m256i y, __m256i uu,
                                              __m256i vv) {
    const __m256i l =
        _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(y, _mm256_set1_epi32(w.LumaOffset)),
                                            _mm256_set1_epi32(w.Luma)),
                         _mm256_set1_epi32(32768));
    const __m256i b =
        Channel8(_mm256_add_epi32(l, _mm256_mullo_epi32(uu, _mm256_set1_epi32(w.BlueFromU))));
    const __m256i g = Channel8(_mm256_add_epi32(
        _mm256_add_epi32(l, _mm256_mullo_epi32(uu, _mm256_set1_epi32(w.GreenFromU))),
        _mm256_mullo_epi32(vv, _mm256_set1_epi32(w.GreenFromV))));
    const __m256i r =
        Channel8(_mm256_add_epi32(l, _mm256_mullo_epi32(vv, _mm256_set1_epi32(w.RedFromV))));
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_set1_epi32(static_cast<int>(0xff000000u)), _mm256_slli_epi32(r, 16)),
        _mm256_or_si256(_mm256_slli_epi32(g, 8), b));
}

// Eight pixels at a time, each with its own chroma, converted where they are.
STIRWATCH_TARGET_AVX2 void YuvPackedAvx2(const TYuvWeights& w, std::uint32_t* pixels, int count) {
    const __m256i byte = _mm256_set1_epi32(0xff);
    const __m256i chromaOffset = _mm256_set1_epi32(128);
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        auto* at = reinterpret_cast<__m256i*>(pixels + x);
        const __m256i yuv = _mm256_loadu_si256(at);
        const __m256i uu =
            _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(yuv, 8), byte), chromaOffset);
        const __m256i vv =
            _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(yuv, 16), byte), chromaOffset);
        _mm256_storeu_si256(at, Rgb32Of8(w, _mm256_and_si256(yuv, byte), uu, vv));
    }
    YuvPackedScalar(w, pixels, x, count);
}

// A whole row, a chroma pair per two pixels, as YuvRowAvx2 reads it.
STIRWATCH_TARGET_AVX2 void YuvRowRgb32Avx2(const TYuvWeights& w, const std::uint8_t* luma,
                                           const std::uint8_t* u, const std::uint8_t* v,
                                           int chromaStep, std::uint32_t* rgb, int width) {
    int x = 0;
    const int pairs = (width + 1) / 2;
    for (; x + 8 <= width && x / 2 + 4 <= pairs; x += 8) {
        __m256i uu, vv;
        ChromaOf8(u, v, chromaStep, x, uu, vv);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(rgb + x),
                            Rgb32Of8(w, Load8(luma + x), uu, vv));
    }
    YuvRowRgb32Scalar(w, luma, u, v, chromaStep, rgb, x, width);
}

// Eight pixels of a half-width row from pixel x on; `lumaBytes` holds the 16
// luma bytes from 2x, or from 2x - 1 when `fromOdd` (the row's last eight
// pixels, whose last sample ends the row). Interleaved chroma is read 16
// bytes at a time, up to the eighth pixel's V exactly.
STIRWATCH_TARGET_AVX2 inline void HalvedOf8(const TYuvWeights& w, const std::uint8_t* lumaBytes,
                                            bool fromOdd, const std::uint8_t* u,
                                            const std::uint8_t* v, int chromaStep, int x,
                                            std::uint32_t* rgb) {
    const __m256i byte = _mm256_set1_epi32(0xff);
    const __m256i chromaOffset = _mm256_set1_epi32(128);
    const __m256i words =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lumaBytes)));
    const __m256i y = fromOdd ? _mm256_srli_epi32(words, 8) : _mm256_and_si256(words, byte);
    __m256i uu, vv;
    if (chromaStep == 1) {
        uu = Load8(u + x);
        vv = Load8(v + x);
    } else {
        const __m256i pairs =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + 2 * x)));
        uu = _mm256_and_si256(pairs, byte);
        vv = _mm256_srli_epi32(pairs, 8);
    }
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(rgb + x),
        Rgb32Of8(w, y, _mm256_sub_epi32(uu, chromaOffset), _mm256_sub_epi32(vv, chromaOffset)));
}

// Every other luma sample with a chroma pair each, eight pixels at a time.
// Eight pixels span 15 luma bytes, read 16 at a time: the loop stops while a
// further sample follows, and the last eight pixels (over some already done,
// to the same values) are read from the byte before their first sample.
STIRWATCH_TARGET_AVX2 void YuvHalvedAvx2(const TYuvWeights& w, const std::uint8_t* luma,
                                         const std::uint8_t* u, const std::uint8_t* v,
                                         int chromaStep, std::uint32_t* rgb, int count) {
    if (count <= 8) {
        YuvHalvedScalar(w, luma, u, v, chromaStep, rgb, 0, count);
        return;
    }
    for (int x = 0; x + 8 < count; x += 8) {
        HalvedOf8(w, luma + 2 * x, false, u, v, chromaStep, x, rgb);
    }
    const int last = count - 8;
    HalvedOf8(w, luma + 2 * last - 1, true, u, v, chromaStep, last, rgb);
}

STIRWATCH_VECTOR_CODE_END
#endif

using TYuvPacked = void (*)(const TYuvWeights&, std::uint32_t*, int);

constexpr TKernelSet<TYuvPacked> YuvPackedSets = {YuvPackedPortable,
                                                  STIRWATCH_X86_ONLY(YuvPackedAvx2)};

using TYuvRowRgb32 = void (*)(const TYuvWeights&, const std::uint8_t*, const std::uint8_t*,
                              const std::uint8_t*, int, std::uint32_t*, int);

constexpr TKernelSet<TYuvRowRgb32> YuvRowsRgb32 = {YuvRowRgb32Portable,
                                                   STIRWATCH_X86_ONLY(YuvRowRgb32Avx2)};
constexpr TKernelSet<TYuvRowRgb32> YuvHalvedRows = {YuvHalvedPortable,
                                                    STIRWATCH_X86_ONLY(YuvHalvedAvx2)};

using TYuvRow = void (*)(const TYuvWeights&, const std::uint8_t*, const std::uint8_t*,
                         const std::uint8_t*, int, std::uint8_t*, int);

constexpr TKernelSet<TYuvRow> YuvRows = {YuvRowPortable, STIRWATCH_X86_ONLY(YuvRowAvx2)};

} // namespace

void YuvRowToBgr(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                 int chromaStep, std::uint8_t* bgr, int width, TYuvColors colors,
                 TKernelPath path) {
    YuvRows.For(path)(WeightsOf(colors), luma, u, v, chromaStep, bgr, width);
}

void YuvPackedToRgb32(std::uint32_t* pixels, int count, TYuvColors colors, TKernelPath path) {
    YuvPackedSets.For(path)(WeightsOf(colors), pixels, count);
}

void YuvRowToRgb32(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                   int chromaStep, std::uint32_t* rgb, int width, TYuvColors colors,
                   TKernelPath path) {
    YuvRowsRgb32.For(path)(WeightsOf(colors), luma, u, v, chromaStep, rgb, width);
}

void YuvHalvedRowToRgb32(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
                         int chromaStep, std::uint32_t* rgb, int count, TYuvColors colors,
                         TKernelPath path) {
    YuvHalvedRows.For(path)(WeightsOf(colors), luma, u, v, chromaStep, rgb, count);
}

void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, TYuvColors colors,
              std::uint8_t bgr[3]) {
    Pixel(WeightsOf(colors), y, u - 128, v - 128, bgr);
}
