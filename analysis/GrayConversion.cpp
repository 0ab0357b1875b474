#include "analysis/GrayConversion.h"

#include "analysis/KernelDispatch.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

// With s = 30R + 59G + 11B the exact luminance is s / 100, so the gray level
// is (s + 50) / 100 in integers everywhere except at the decimal halves
// (s mod 100 = 50). There the weights' binary rounding decides: the 80-bit
// evaluation lands exactly on the half, just below or just above it. Those
// outcomes are computed once, by an exact software model of the 80-bit
// evaluation, into a table of 65,536 bytes indexed by (R, G): for a given R
// and G the halves occur at no more than three blue values, B0, B0 + 100 and
// B0 + 200 with B0 < 100, so bit B / 100 of the entry says "round down".

namespace {

using uint128 = unsigned __int128;

// A non-negative value of the 80-bit format: Significand * 2^Exponent with the
// significand's top bit set, or zero.
struct TExtended {
    std::uint64_t Significand = 0;
    int Exponent = 0;
};

int BitLength(uint128 value) {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    if (high != 0) {
        return 128 - __builtin_clzll(high);
    }
    const auto low = static_cast<std::uint64_t>(value);
    return low == 0 ? 0 : 64 - __builtin_clzll(low);
}

// Rounds exact * 2^exponent to 64 significant bits, to nearest, ties to even.
TExtended RoundToExtended(uint128 exact, int exponent) {
    const int length = BitLength(exact);
    if (length == 0) {
        return {};
    }
    if (length <= 64) {
        const int shift = 64 - length;
        return {static_cast<std::uint64_t>(exact << shift), exponent - shift};
    }
    const int shift = length - 64;
    uint128 kept = exact >> shift;
    const uint128 rest = exact & ((uint128{1} << shift) - 1);
    const uint128 half = uint128{1} << (shift - 1);
    if (rest > half || (rest == half && (kept & 1) != 0)) {
        ++kept;
    }
    if (kept >> 64 != 0) {
        return {std::uint64_t{1} << 63, exponent + shift + 1};
    }
    return {static_cast<std::uint64_t>(kept), exponent + shift};
}

// The format's value nearest to numerator / denominator * 2^-exponentShift,
// for a quotient whose significand needs exactly 64 bits at that scale.
TExtended NearestExtended(std::uint64_t numerator, std::uint64_t denominator, int scale) {
    const uint128 scaled = uint128{numerator} << scale;
    uint128 quotient = scaled / denominator;
    const uint128 twiceRest = (scaled % denominator) * 2;
    if (twiceRest > denominator || (twiceRest == denominator && (quotient & 1) != 0)) {
        ++quotient;
    }
    return RoundToExtended(quotient, -scale);
}

TExtended Multiply(TExtended value, unsigned factor) {
    return RoundToExtended(uint128{value.Significand} * factor, value.Exponent);
}

TExtended Add(TExtended a, TExtended b) {
    if (a.Significand == 0) {
        return b;
    }
    if (b.Significand == 0) {
        return a;
    }
    if (a.Exponent < b.Exponent) {
        std::swap(a, b);
    }
    const int difference = a.Exponent - b.Exponent;
    if (difference <= 63) {
        return RoundToExtended((uint128{a.Significand} << difference) + b.Significand, b.Exponent);
    }
    // b lies far below a's last bit: keep it as a sticky bit, which decides
    // the rounding exactly as the full value would.
    const std::uint64_t sticky = (b.Significand >> (difference - 63)) | 1;
    return RoundToExtended((uint128{a.Significand} << 63) + sticky, a.Exponent - 63);
}

// Rounds to the nearest integer, ties to even (values below 2^63).
std::uint64_t RoundToInteger(TExtended value) {
    if (value.Exponent >= 0) {
        return value.Significand << value.Exponent;
    }
    const int shift = -value.Exponent;
    if (shift > 64) {
        return 0; // below one half
    }
    const uint128 significand = value.Significand;
    const uint128 integer = significand >> shift;
    const uint128 rest = significand - (integer << shift);
    const uint128 half = uint128{1} << (shift - 1);
    const bool up = rest > half || (rest == half && (integer & 1) != 0);
    return static_cast<std::uint64_t>(integer) + (up ? 1 : 0);
}

unsigned ExtendedGrayLevel(unsigned red, unsigned green, unsigned blue) {
    static const TExtended redWeight = NearestExtended(30, 100, 65);
    static const TExtended greenWeight = NearestExtended(59, 100, 64);
    static const TExtended blueWeight = NearestExtended(11, 100, 67);
    const TExtended redGreen = Add(Multiply(redWeight, red), Multiply(greenWeight, green));
    return static_cast<unsigned>(RoundToInteger(Add(redGreen, Multiply(blueWeight, blue))));
}

unsigned WeightedSum(unsigned red, unsigned green, unsigned blue) {
    return 30 * red + 59 * green + 11 * blue;
}

using THalfTable = std::array<std::uint8_t, 65536>;

THalfTable BuildHalfTable() {
    THalfTable table{};
    for (unsigned red = 0; red < 256; ++red) {
        for (unsigned green = 0; green < 256; ++green) {
            // 11 * 91 = 1 (mod 100): the blue value that makes s end in 50.
            const unsigned needed = (50 + 100 * 100 - WeightedSum(red, green, 0) % 100) % 100;
            const unsigned firstBlue = needed * 91 % 100;
            std::uint8_t roundDown = 0;
            for (unsigned blue = firstBlue, bit = 0; blue < 256; blue += 100, ++bit) {
                const unsigned up = (WeightedSum(red, green, blue) + 50) / 100;
                if (ExtendedGrayLevel(red, green, blue) != up) {
                    roundDown |= 1u << bit;
                }
            }
            table[red << 8 | green] = roundDown;
        }
    }
    return table;
}

const THalfTable& HalfTable() {
    static const THalfTable table = BuildHalfTable();
    return table;
}

inline unsigned RoundDownAtHalf(const THalfTable& table, unsigned red, unsigned green,
                                unsigned blue) {
    return (table[red << 8 | green] >> (blue / 100)) & 1;
}

// The gray level of a colour known to sit on a half.
inline std::uint8_t GrayAtHalf(const THalfTable& table, unsigned red, unsigned green,
                               unsigned blue) {
    const unsigned up = (WeightedSum(red, green, blue) + 50) / 100;
    return static_cast<std::uint8_t>(up - RoundDownAtHalf(table, red, green, blue));
}

inline std::uint8_t GrayOf(const THalfTable& table, unsigned red, unsigned green, unsigned blue) {
    const unsigned shifted = WeightedSum(red, green, blue) + 50;
    const unsigned gray = shifted / 100;
    if (gray * 100 == shifted) [[unlikely]] {
        return GrayAtHalf(table, red, green, blue);
    }
    return static_cast<std::uint8_t>(gray);
}

void ConvertRowScalar(const THalfTable& table, const std::uint8_t* source, std::uint8_t* target,
                      int pixels, bool /*stream*/ = false) {
    for (int x = 0; x < pixels; ++x, source += 3) {
        target[x] = GrayOf(table, source[2], source[1], source[0]);
    }
}

#ifdef STIRWATCH_X86
STIRWATCH_VECTOR_CODE_BEGIN

// Sixteen pixels (48 bytes) to their shifted sums s + 50 as 16-bit lanes, in
// the lane order 0-3, 8-11 | 4-7, 12-15.
STIRWATCH_TARGET_AVX2 inline __m256i ShiftedSums16(const std::uint8_t* source) {
    // Each 128-bit half takes four pixels and spreads them to B, G, R, 0.
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i spreadFromFour =
        _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                         4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m256i weights =
        _mm256_setr_epi8(11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0,
                         11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0);
    const __m256i ones = _mm256_set1_epi16(1);
    auto load = [](const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    // Pixels 0-3 and 4-7 (bytes 0 and 12), 8-11 and 12-15 (bytes 24 and 32,
    // the last starting 4 bytes in so that nothing past byte 47 is read).
    const __m256i first =
        _mm256_inserti128_si256(_mm256_castsi128_si256(load(source)), load(source + 12), 1);
    const __m256i second =
        _mm256_inserti128_si256(_mm256_castsi128_si256(load(source + 24)), load(source + 32), 1);
    // 11B + 59G and 30R as 16-bit lanes, then their sum per pixel as 32 bits.
    const __m256i sumsFirst =
        _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(first, spread), weights), ones);
    const __m256i sumsSecond = _mm256_madd_epi16(
        _mm256_maddubs_epi16(_mm256_shuffle_epi8(second, spreadFromFour), weights), ones);
    return _mm256_add_epi16(_mm256_packs_epi32(sumsFirst, sumsSecond), _mm256_set1_epi16(50));
}

// Thirty-two pixels: stores the gray levels rounded up at every half and
// returns the bit mask of the pixels that sit on a half.
STIRWATCH_TARGET_AVX2 inline std::uint32_t ConvertBlockAvx2(const std::uint8_t* source,
                                                            std::uint8_t* target) {
    const __m256i shiftedLow = ShiftedSums16(source);
    const __m256i shiftedHigh = ShiftedSums16(source + 48);
    // x / 100 = (x * 5243) >> 19 for every x up to 25,550.
    const __m256i reciprocal = _mm256_set1_epi16(5243);
    const __m256i grayLow = _mm256_srli_epi16(_mm256_mulhi_epu16(shiftedLow, reciprocal), 3);
    const __m256i grayHigh = _mm256_srli_epi16(_mm256_mulhi_epu16(shiftedHigh, reciprocal), 3);
    const __m256i hundred = _mm256_set1_epi16(100);
    const __m256i halfLow = _mm256_cmpeq_epi16(_mm256_mullo_epi16(grayLow, hundred), shiftedLow);
    const __m256i halfHigh = _mm256_cmpeq_epi16(_mm256_mullo_epi16(grayHigh, hundred), shiftedHigh);
    // Packing leaves groups of four pixels in the order 0, 8, 16, 24, 4, 12, 20, 28.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i gray = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(grayLow, grayHigh), order);
    const __m256i halves =
        _mm256_permutevar8x32_epi32(_mm256_packs_epi16(halfLow, halfHigh), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(target), gray);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(halves));
}

// Rows are converted in chunks of up to ChunkPixels. The vector pass notes
// the positions of the pixels on a half without a branch for the common case
// of at most one per block; a second pass over the chunk, still in the first
// level cache, lowers those that round down.
constexpr int ChunkPixels = 1024;

// Notes the pixels of a block (bit i of halves: pixel x + i) that sit on a
// half; returns the new number of positions.
inline int NoteHalves(std::uint64_t halves, int x, std::uint16_t* positions, int count) {
    positions[count] = static_cast<std::uint16_t>(x + __builtin_ctzll(halves | (1ull << 63)));
    const int found = __builtin_popcountll(halves);
    if (found > 1) [[unlikely]] {
        int slot = count + 1;
        for (halves &= halves - 1; halves != 0; halves &= halves - 1) {
            positions[slot++] = static_cast<std::uint16_t>(x + __builtin_ctzll(halves));
        }
    }
    return count + found;
}

// Rewritten from the source rather than read back: reading bytes of the
// vector stores just made would stall on store forwarding.
inline void LowerHalves(const THalfTable& table, const std::uint8_t* source, std::uint8_t* target,
                        const std::uint16_t* positions, int count) {
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* pixel = source + 3 * positions[i];
        target[positions[i]] = GrayAtHalf(table, pixel[2], pixel[1], pixel[0]);
    }
}

STIRWATCH_TARGET_AVX2 int ConvertChunkAvx2(const std::uint8_t* source, std::uint8_t* target,
                                           int pixels, std::uint16_t* positions) {
    int count = 0;
    for (int x = 0; x + 32 <= pixels; x += 32) {
        count = NoteHalves(ConvertBlockAvx2(source + 3 * x, target + x), x, positions, count);
    }
    return count;
}

STIRWATCH_TARGET_AVX2 void ConvertRowAvx2(const THalfTable& table, const std::uint8_t* source,
                                          std::uint8_t* target, int pixels,
                                          bool /*stream*/ = false) {
    std::uint16_t positions[ChunkPixels];
    const int blockPixels = pixels / 32 * 32;
    for (int start = 0; start < blockPixels; start += ChunkPixels) {
        const int count = ConvertChunkAvx2(source + 3 * start, target + start,
                                           std::min(ChunkPixels, blockPixels - start), positions);
        LowerHalves(table, source + 3 * start, target + start, positions, count);
    }
    ConvertRowScalar(table, source + 3 * blockPixels, target + blockPixels, pixels - blockPixels);
}

// The AVX-512 path takes 64 pixels (192 bytes) at a time: a byte permutation
// spreads 16 pixels to B, G, R, x in 32-bit lanes, one dot-product
// instruction gives s + 50 per lane, and a two-table byte permutation puts
// the gray levels back in pixel order.

// Byte 4p + c of the spread takes channel c of pixel p (c < 3); the fourth
// byte is weighted 0 and may be anything. `offset` is where pixel 0 starts.
constexpr std::array<std::uint8_t, 64> SpreadIndex(int offset) {
    std::array<std::uint8_t, 64> index{};
    for (int k = 0; k < 64; ++k) {
        const int channel = k % 4 == 3 ? 2 : k % 4;
        index[k] = static_cast<std::uint8_t>(offset + 3 * (k / 4) + channel);
    }
    return index;
}

// Packing 32-bit lanes of blocks of 16 pixels (0-15 with 16-31, 32-47 with
// 48-63) into 16-bit lanes interleaves them by four per 128-bit lane; byte
// p of the result takes the low byte of pixel p's 16-bit lane from the two
// packed vectors (indices 64 and up select the second).
constexpr std::array<std::uint8_t, 64> PackedOrder() {
    std::array<std::uint8_t, 64> index{};
    for (int p = 0; p < 64; ++p) {
        const int q = p % 32;
        const int lane = q % 16 / 4;
        const int element = 8 * lane + q % 4 + 4 * (q / 16);
        index[p] = static_cast<std::uint8_t>(64 * (p / 32) + 2 * element);
    }
    return index;
}

alignas(64) constexpr std::array<std::uint8_t, 64> Spread = SpreadIndex(0);
alignas(64) constexpr std::array<std::uint8_t, 64> SpreadFrom16 = SpreadIndex(16);
alignas(64) constexpr std::array<std::uint8_t, 64> GrayOrder = PackedOrder();

STIRWATCH_TARGET_AVX512 inline __m512i Load64(const std::array<std::uint8_t, 64>& bytes) {
    return _mm512_load_si512(bytes.data());
}

// Sixteen pixels spread by `index` from the 64 bytes at `bytes`: s + 50 in 32-bit lanes.
STIRWATCH_TARGET_AVX512 inline __m512i ShiftedSums512(const std::uint8_t* bytes, __m512i index) {
    // 11, 59, 30, 0 for blue, green, red and the spare byte.
    const __m512i weights = _mm512_set1_epi32(0x001E3B0B);
    return _mm512_dpbusd_epi32(_mm512_set1_epi32(50),
                               _mm512_permutexvar_epi8(index, _mm512_loadu_si512(bytes)), weights);
}

// Sixty-four pixels: stores the gray levels rounded up at every half and
// returns the bit mask of the pixels that sit on a half.
STIRWATCH_TARGET_AVX512 inline std::uint64_t ConvertBlockAvx512(const std::uint8_t* source,
                                                                std::uint8_t* target) {
    const __m512i spread = Load64(Spread);
    const auto sums = ShiftedSums512;
    // Pixels 48-63 are read from byte 128 so that nothing past byte 191 is read.
    const __m512i low = _mm512_packus_epi32(sums(source, spread), sums(source + 48, spread));
    const __m512i high =
        _mm512_packus_epi32(sums(source + 96, spread), sums(source + 128, Load64(SpreadFrom16)));
    // x / 100 = (x * 5243) >> 19 for every x up to 25,550.
    const __m512i reciprocal = _mm512_set1_epi16(5243);
    const __m512i grayLow = _mm512_srli_epi16(_mm512_mulhi_epu16(low, reciprocal), 3);
    const __m512i grayHigh = _mm512_srli_epi16(_mm512_mulhi_epu16(high, reciprocal), 3);
    const __m512i hundred = _mm512_set1_epi16(100);
    const __mmask32 halfLow = _mm512_cmpeq_epi16_mask(_mm512_mullo_epi16(grayLow, hundred), low);
    const __mmask32 halfHigh = _mm512_cmpeq_epi16_mask(_mm512_mullo_epi16(grayHigh, hundred), high);
    const __m512i order = Load64(GrayOrder);
    _mm512_storeu_si512(target, _mm512_permutex2var_epi8(grayLow, order, grayHigh));
    const __m512i halves =
        _mm512_permutex2var_epi8(_mm512_movm_epi16(halfLow), order, _mm512_movm_epi16(halfHigh));
    return _mm512_movepi8_mask(halves);
}

STIRWATCH_TARGET_AVX512 int ConvertChunkAvx512(const std::uint8_t* source, std::uint8_t* target,
                                               int pixels, std::uint16_t* positions) {
    int count = 0;
    for (int x = 0; x + 64 <= pixels; x += 64) {
        count = NoteHalves(ConvertBlockAvx512(source + 3 * x, target + x), x, positions, count);
    }
    return count;
}

// With `stream`, a chunk is converted into a buffer in the first-level cache
// and written out with streaming stores, which neither read the target's
// lines first nor keep them in the caches.
STIRWATCH_TARGET_AVX512 void ConvertRowAvx512(const THalfTable& table, const std::uint8_t* source,
                                              std::uint8_t* target, int pixels, bool stream) {
    std::uint16_t positions[ChunkPixels];
    alignas(64) std::uint8_t buffer[ChunkPixels];
    stream = stream && reinterpret_cast<std::uintptr_t>(target) % 64 == 0;
    const int blockPixels = pixels / 64 * 64;
    for (int start = 0; start < blockPixels; start += ChunkPixels) {
        const int chunk = std::min(ChunkPixels, blockPixels - start);
        std::uint8_t* out = stream ? buffer : target + start;
        const int count = ConvertChunkAvx512(source + 3 * start, out, chunk, positions);
        LowerHalves(table, source + 3 * start, out, positions, count);
        if (stream) {
            for (int x = 0; x < chunk; x += 64) {
                _mm512_stream_si512(reinterpret_cast<__m512i*>(target + start + x),
                                    _mm512_load_si512(buffer + x));
            }
        }
    }
    ConvertRowAvx2(table, source + 3 * blockPixels, target + blockPixels, pixels - blockPixels);
}

STIRWATCH_VECTOR_CODE_END
#endif

using TRowConverter = void (*)(const THalfTable&, const std::uint8_t*, std::uint8_t*, int, bool);

// Gray frames from this size on (far larger than the second-level cache) are
// written with streaming stores where the path has them.
constexpr std::size_t StreamingBytes = std::size_t{4} << 20;

constexpr TKernelSet<TRowConverter> RowConverters = {
    ConvertRowScalar, STIRWATCH_X86_ONLY(ConvertRowAvx2), STIRWATCH_X86_ONLY(ConvertRowAvx512)};

} // namespace

std::uint8_t GrayLevel(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return GrayOf(HalfTable(), red, green, blue);
}

int ConvertToGray(const TBitmap& Source, TBitmap& Target) {
    return ConvertToGray(Source, Target, BestKernelPath());
}

int ConvertToGray(const TBitmap& Source, TBitmap& Target, TKernelPath path) {
    if (Source.PixelFormat() != pf24bit) {
        return ResultWrongFormat;
    }
    if (Source.Empty()) {
        return ResultSourceEmpty;
    }
    Target.Allocate(Source.Width(), Source.Height(), pf8bit);
    ConvertBgrRowsToGray(Source.ScanLine(0), Source.Stride(), Target.ScanLine(0), Target.Stride(),
                         Source.Width(), Source.Height(), path);
    return ResultDone;
}

void ConvertBgrRowsToGray(const std::uint8_t* source, std::size_t sourceStride,
                          std::uint8_t* target, std::size_t targetStride, int width, int height) {
    ConvertBgrRowsToGray(source, sourceStride, target, targetStride, width, height,
                         BestKernelPath());
}

void ConvertBgrRowsToGray(const std::uint8_t* source, std::size_t sourceStride,
                          std::uint8_t* target, std::size_t targetStride, int width, int height,
                          TKernelPath path) {
    const THalfTable& table = HalfTable();
    const TRowConverter convertRow = RowConverters.For(path);
    const bool stream = targetStride * static_cast<std::size_t>(height) >= StreamingBytes;
    for (int y = 0; y < height; ++y) {
        convertRow(table, source + y * sourceStride, target + y * targetStride, width, stream);
    }
#ifdef STIRWATCH_X86
    if (stream) {
        _mm_sfence(); // the streamed rows are complete before anything reads them
    }
#endif
}
