#include "analysis/FrameDifferencing.h"

#include "analysis/KernelDispatch.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr std::uint8_t ToleranceGray = 192;
constexpr std::uint8_t Unchanged = 255;

// The sums of one row. Darkened pixels are summed by the size of their change
// |d|; the caller turns them negative.
struct TRowSums {
    std::int64_t PositiveCount = 0;
    std::int64_t PositiveTotal = 0;
    std::int64_t PositiveSumX = 0;
    std::int64_t NegativeCount = 0;
    std::int64_t NegativeTotal = 0;
    std::int64_t NegativeSumX = 0;
};

// The running sums of a whole comparison, with the working totals of d.
struct TFrameSums {
    std::int64_t PositiveCount = 0;
    std::int64_t NegativeCount = 0;
    std::int64_t PositiveSumX = 0;
    std::int64_t PositiveSumY = 0;
    std::int64_t NegativeSumX = 0;
    std::int64_t NegativeSumY = 0;
    std::int64_t PositiveTotal = 0;
    std::int64_t NegativeTotal = 0;

    void AddRow(const TRowSums& row, int y) {
        PositiveCount += row.PositiveCount;
        NegativeCount += row.NegativeCount;
        PositiveSumX += row.PositiveSumX;
        PositiveSumY += y * row.PositiveTotal;
        PositiveTotal += row.PositiveTotal;
        NegativeSumX -= row.NegativeSumX;
        NegativeSumY -= y * row.NegativeTotal;
        NegativeTotal -= row.NegativeTotal;
    }
};

void ComparePixelsScalar(const std::uint8_t* previous, const std::uint8_t* current,
                         std::uint8_t* difference, int first, int end, int tolerance,
                         TRowSums& sums) {
    for (int x = first; x < end; ++x) {
        const int d = current[x] - previous[x];
        std::uint8_t* pixel = difference + 3 * x;
        if (d > tolerance) {
            pixel[0] = 0;
            pixel[1] = 0;
            pixel[2] = static_cast<std::uint8_t>(d + 128);
            ++sums.PositiveCount;
            sums.PositiveTotal += d;
            sums.PositiveSumX += std::int64_t{x} * d;
        } else if (d < -tolerance) {
            pixel[0] = static_cast<std::uint8_t>(-d + 128);
            pixel[1] = 0;
            pixel[2] = 0;
            ++sums.NegativeCount;
            sums.NegativeTotal -= d;
            sums.NegativeSumX -= std::int64_t{x} * d;
        } else {
            const std::uint8_t level = d == tolerance ? ToleranceGray : Unchanged;
            pixel[0] = pixel[1] = pixel[2] = level;
        }
    }
}

void CompareRowScalar(const std::uint8_t* previous, const std::uint8_t* current,
                      std::uint8_t* difference, int width, int tolerance, bool /*stream*/,
                      TRowSums& sums) {
    ComparePixelsScalar(previous, current, difference, 0, width, tolerance, sums);
}

#ifdef STIRWATCH_X86
STIRWATCH_VECTOR_CODE_BEGIN

// A 32-byte constant, the same 16 bytes in both 128-bit halves.
struct alignas(32) TLaneBytes {
    std::array<std::int8_t, 32> Bytes;
};

// Interleaving three planes of 16 bytes (blue, green, red) into 48 bytes of
// pixels: output part j (bytes 16j .. 16j + 15) takes byte k from channel
// (j + k) mod 3, pixel (16j + k) / 3. For one channel each position k is
// taken by exactly one part, so one shuffle per channel, Gather[c], brings
// every byte to its position, and blends by k mod 3 (Position[m]) pick the
// channel per part.
constexpr TLaneBytes GatherShuffle(int channel) {
    TLaneBytes shuffle{};
    for (int k = 0; k < 32; ++k) {
        const int position = k % 16;
        const int part = ((channel - position) % 3 + 3) % 3;
        shuffle.Bytes[k] = static_cast<std::int8_t>((16 * part + position) / 3);
    }
    return shuffle;
}

constexpr TLaneBytes PositionMask(int remainder) {
    TLaneBytes mask{};
    for (int k = 0; k < 32; ++k) {
        mask.Bytes[k] = static_cast<std::int8_t>(k % 16 % 3 == remainder ? -1 : 0);
    }
    return mask;
}

constexpr std::array<TLaneBytes, 3> Gather = {GatherShuffle(0), GatherShuffle(1), GatherShuffle(2)};
constexpr std::array<TLaneBytes, 3> Position = {PositionMask(0), PositionMask(1), PositionMask(2)};

STIRWATCH_TARGET_AVX2 inline __m256i Load(const TLaneBytes& constant) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(constant.Bytes.data()));
}

// Writes 32 pixels given as planes; each 128-bit half of a plane holds 16
// consecutive pixels.
STIRWATCH_TARGET_AVX2 inline void StorePixels(std::uint8_t* target, __m256i blue, __m256i green,
                                              __m256i red) {
    const __m256i gathered[3] = {_mm256_shuffle_epi8(blue, Load(Gather[0])),
                                 _mm256_shuffle_epi8(green, Load(Gather[1])),
                                 _mm256_shuffle_epi8(red, Load(Gather[2]))};
    __m256i parts[3];
    for (int part = 0; part < 3; ++part) {
        // Channel c sits where k mod 3 = (c - part) mod 3.
        const __m256i withGreen =
            _mm256_blendv_epi8(gathered[0], gathered[1], Load(Position[(1 - part + 3) % 3]));
        parts[part] =
            _mm256_blendv_epi8(withGreen, gathered[2], Load(Position[(2 - part + 3) % 3]));
    }
    auto* out = reinterpret_cast<__m256i*>(target);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(parts[0], parts[1], 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(parts[2], parts[0], 0x30));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(parts[1], parts[2], 0x31));
}

STIRWATCH_TARGET_AVX2 inline std::int64_t Sum64(__m256i lanes) {
    const __m128i pair =
        _mm_add_epi64(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    return _mm_cvtsi128_si64(pair) + _mm_extract_epi64(pair, 1);
}

STIRWATCH_TARGET_AVX2 inline std::int64_t Sum32(__m256i lanes) {
    const __m256i wide =
        _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(lanes)),
                         _mm256_cvtepi32_epi64(_mm256_extracti128_si256(lanes, 1)));
    return Sum64(wide);
}

STIRWATCH_TARGET_AVX2 inline std::int64_t SumBytes(__m256i lanes) {
    return Sum64(_mm256_sad_epu8(lanes, _mm256_setzero_si256()));
}

// The vector sums of one kind of change (brightened or darkened) over a run
// of at most 255 blocks of 32 pixels that contain changed pixels.
struct TChangeAccumulator {
    __m256i Uncounted;    // 32 x 8-bit counts of pixels not of this kind
    __m256i Total;        // 4 x 64-bit sums of |d|
    __m256i BlockOffsets; // 4 x 64-bit sums of x0 * |d|, x0 where the block starts
    __m256i InBlock;      // 8 x 32-bit sums of i * |d|, i the position in the block
};

STIRWATCH_TARGET_AVX2 inline TChangeAccumulator EmptyAccumulator() {
    const __m256i zero = _mm256_setzero_si256();
    return {zero, zero, zero, zero};
}

// sizes holds |d| of every pixel, uncounted marks the pixels that are not of
// this kind, blockStart is x0.
STIRWATCH_TARGET_AVX2 inline void Accumulate(TChangeAccumulator& accumulator, __m256i sizes,
                                             __m256i uncounted, __m256i blockStart) {
    const __m256i indices =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i counted = _mm256_andnot_si256(uncounted, sizes);
    accumulator.Uncounted = _mm256_sub_epi8(accumulator.Uncounted, uncounted);
    const __m256i totals = _mm256_sad_epu8(counted, _mm256_setzero_si256());
    accumulator.Total = _mm256_add_epi64(accumulator.Total, totals);
    accumulator.BlockOffsets =
        _mm256_add_epi64(accumulator.BlockOffsets, _mm256_mul_epu32(totals, blockStart));
    // Each 16-bit pair sum is at most 255 * (30 + 31) and each 32-bit lane
    // gains at most twice that per block.
    const __m256i pairs = _mm256_maddubs_epi16(counted, indices);
    accumulator.InBlock =
        _mm256_add_epi32(accumulator.InBlock, _mm256_madd_epi16(pairs, _mm256_set1_epi16(1)));
}

// Adds the accumulated blocks to the sums of one kind of change. Kept out of
// line so that the accumulators of the scan stay in registers.
STIRWATCH_TARGET_AVX2 __attribute__((noinline)) void Flush(TChangeAccumulator accumulator,
                                                           int blocks, std::int64_t& count,
                                                           std::int64_t& total,
                                                           std::int64_t& sumX) {
    count += 32 * blocks - SumBytes(accumulator.Uncounted);
    total += Sum64(accumulator.Total);
    sumX += Sum64(accumulator.BlockOffsets) + Sum32(accumulator.InBlock);
}

// Byte counts hold 255 blocks.
constexpr int BlocksPerRun = 255;

STIRWATCH_TARGET_AVX2 void CompareRowAvx2(const std::uint8_t* previous, const std::uint8_t* current,
                                          std::uint8_t* difference, int width, int tolerance,
                                          bool /*stream*/, TRowSums& sums) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(-1);
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(tolerance));
    const __m256i white = _mm256_set1_epi8(static_cast<char>(Unchanged));
    const __m256i gray = _mm256_set1_epi8(static_cast<char>(ToleranceGray));
    const __m256i colourOffset = _mm256_set1_epi8(static_cast<char>(0x80));
    int x = 0;
    while (x + 32 <= width) {
        TChangeAccumulator brightened = EmptyAccumulator();
        TChangeAccumulator darkened = EmptyAccumulator();
        // Blocks with changed pixels, the only ones that add to the sums.
        int blocks = 0;
        for (int scanned = 0; scanned < BlocksPerRun && x + 32 <= width; ++scanned, x += 32) {
            const __m256i before =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(previous + x));
            const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(current + x));
            const __m256i up = _mm256_subs_epu8(after, before);   // d where d > 0
            const __m256i down = _mm256_subs_epu8(before, after); // -d where d < 0
            const __m256i notUp = _mm256_cmpeq_epi8(_mm256_subs_epu8(up, limit), zero); // d <= T
            const __m256i notDown =
                _mm256_cmpeq_epi8(_mm256_subs_epu8(down, limit), zero); // d >= -T
            const __m256i unchanged = _mm256_and_si256(notUp, notDown);
            // up = T alone marks d = T among the unchanged pixels: with T = 0 a
            // darkened pixel also has up = 0, but it is changed.
            const __m256i atTolerance = _mm256_cmpeq_epi8(up, limit);
            if (_mm256_testc_si256(unchanged, ones) && _mm256_testz_si256(atTolerance, ones)) {
                // The common block: nothing changed, nothing at the tolerance.
                auto* out = reinterpret_cast<__m256i*>(difference + 3 * x);
                _mm256_storeu_si256(out, white);
                _mm256_storeu_si256(out + 1, white);
                _mm256_storeu_si256(out + 2, white);
                continue;
            }
            const __m256i background =
                _mm256_and_si256(unchanged, _mm256_blendv_epi8(white, gray, atTolerance));
            const __m256i red = _mm256_or_si256(
                background, _mm256_andnot_si256(notUp, _mm256_xor_si256(up, colourOffset)));
            const __m256i blue = _mm256_or_si256(
                background, _mm256_andnot_si256(notDown, _mm256_xor_si256(down, colourOffset)));
            StorePixels(difference + 3 * x, blue, background, red);
            if (!_mm256_testc_si256(unchanged, ones)) {
                const __m256i blockStart = _mm256_set1_epi64x(x);
                Accumulate(brightened, up, notUp, blockStart);
                Accumulate(darkened, down, notDown, blockStart);
                ++blocks;
            }
        }
        Flush(brightened, blocks, sums.PositiveCount, sums.PositiveTotal, sums.PositiveSumX);
        Flush(darkened, blocks, sums.NegativeCount, sums.NegativeTotal, sums.NegativeSumX);
    }
    ComparePixelsScalar(previous, current, difference, x, width, tolerance, sums);
}

// The AVX-512 path takes 64 pixels at a time. Mask registers classify the
// pixels, two byte permutations per 64 output bytes interleave the three
// planes, and the sums of a block are one dot-product instruction per kind.

// Output part j (bytes 64j .. 64j + 63 of 64 pixels) from the blue and red
// planes: byte k holds channel c = (64j + k) mod 3 of pixel (64j + k) / 3;
// indices 64 and up select the red plane. Green bytes are filled afterwards.
constexpr std::array<std::uint8_t, 64> BlueRedIndex(int part) {
    std::array<std::uint8_t, 64> index{};
    for (int k = 0; k < 64; ++k) {
        const int byte = 64 * part + k;
        index[k] = static_cast<std::uint8_t>(byte / 3 + (byte % 3 == 2 ? 64 : 0));
    }
    return index;
}

constexpr std::uint64_t GreenBytes(int part) {
    std::uint64_t mask = 0;
    for (int k = 0; k < 64; ++k) {
        mask |= std::uint64_t{(64 * part + k) % 3 == 1} << k;
    }
    return mask;
}

constexpr std::array<std::uint8_t, 64> PixelIndex() {
    std::array<std::uint8_t, 64> index{};
    for (int k = 0; k < 64; ++k) {
        index[k] = static_cast<std::uint8_t>(k);
    }
    return index;
}

alignas(64) constexpr std::array<std::array<std::uint8_t, 64>, 3> BlueRed = {
    BlueRedIndex(0), BlueRedIndex(1), BlueRedIndex(2)};
constexpr std::array<std::uint64_t, 3> Green = {GreenBytes(0), GreenBytes(1), GreenBytes(2)};
alignas(64) constexpr std::array<std::uint8_t, 64> Pixels64 = PixelIndex();

STIRWATCH_TARGET_AVX512 inline __m512i Load64(const std::array<std::uint8_t, 64>& bytes) {
    return _mm512_load_si512(bytes.data());
}

// Sums of one kind of change over a row: 8 x 64-bit sums of |d| and of
// x0 * |d| (x0 where a block starts), 16 x 32-bit sums of i * |d| (i the
// position in the block).
struct TChangeSums512 {
    std::int64_t Count = 0;
    __m512i Total;
    __m512i BlockOffsets;
    __m512i InBlock;
};

STIRWATCH_TARGET_AVX512 inline void Accumulate512(TChangeSums512& sums, __mmask64 kind,
                                                  __m512i sizes, __m512i blockStart) {
    const __m512i counted = _mm512_maskz_mov_epi8(kind, sizes);
    const __m512i totals = _mm512_sad_epu8(counted, _mm512_setzero_si512());
    sums.Count += __builtin_popcountll(kind);
    sums.Total = _mm512_add_epi64(sums.Total, totals);
    sums.BlockOffsets = _mm512_add_epi64(sums.BlockOffsets, _mm512_mul_epu32(totals, blockStart));
    sums.InBlock = _mm512_dpbusd_epi32(sums.InBlock, counted, Load64(Pixels64));
}

STIRWATCH_TARGET_AVX512 inline void AddSums512(const TChangeSums512& sums, std::int64_t& count,
                                               std::int64_t& total, std::int64_t& sumX) {
    count += sums.Count;
    total += _mm512_reduce_add_epi64(sums.Total);
    sumX += _mm512_reduce_add_epi64(sums.BlockOffsets) +
            _mm512_reduce_add_epi64(_mm512_add_epi64(
                _mm512_cvtepi32_epi64(_mm512_castsi512_si256(sums.InBlock)),
                _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(sums.InBlock, 1))));
}

// A 32-bit lane of InBlock gains at most 4 * 63 * 255 per block.
constexpr int BlocksPerRun512 = 65536;

// Streaming stores write whole cache lines without reading them first and
// keep the image out of the caches: for images far larger than the caches,
// of which the caller reads little.
STIRWATCH_TARGET_AVX512 inline void Store512(std::uint8_t* at, __m512i bytes, bool stream) {
    if (stream) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(at), bytes);
    } else {
        _mm512_storeu_si512(at, bytes);
    }
}

STIRWATCH_TARGET_AVX512 void CompareRowAvx512(const std::uint8_t* previous,
                                              const std::uint8_t* current, std::uint8_t* difference,
                                              int width, int tolerance, bool stream,
                                              TRowSums& sums) {
    const __m512i limit = _mm512_set1_epi8(static_cast<char>(tolerance));
    const __m512i white = _mm512_set1_epi8(static_cast<char>(Unchanged));
    const __m512i gray = _mm512_set1_epi8(static_cast<char>(ToleranceGray));
    const __m512i colourOffset = _mm512_set1_epi8(static_cast<char>(0x80));
    const int blockPixels = width / 64 * 64;
    stream = stream && reinterpret_cast<std::uintptr_t>(difference) % 64 == 0;
    int x = 0;
    while (x < blockPixels) {
        const __m512i zero = _mm512_setzero_si512();
        TChangeSums512 brightened{0, zero, zero, zero};
        TChangeSums512 darkened{0, zero, zero, zero};
        const int runEnd = x + std::min(blockPixels - x, 64 * BlocksPerRun512);
        for (; x < runEnd; x += 64) {
            const __m512i before = _mm512_loadu_si512(previous + x);
            const __m512i after = _mm512_loadu_si512(current + x);
            const __m512i up = _mm512_subs_epu8(after, before);             // d where d > 0
            const __m512i down = _mm512_subs_epu8(before, after);           // -d where d < 0
            const __mmask64 upward = _mm512_cmpgt_epu8_mask(up, limit);     // d > T
            const __mmask64 downward = _mm512_cmpgt_epu8_mask(down, limit); // d < -T
            const __mmask64 changed = upward | downward;
            // up = T marks d = T among the unchanged pixels (with T = 0 a
            // darkened pixel has up = 0 too, but it is changed).
            const __mmask64 atTolerance = _mm512_cmpeq_epi8_mask(up, limit) & ~changed;
            std::uint8_t* out = difference + 3 * x;
            if ((changed | atTolerance) == 0) {
                // The common block: nothing changed, nothing at the tolerance.
                Store512(out, white, stream);
                Store512(out + 64, white, stream);
                Store512(out + 128, white, stream);
                continue;
            }
            const __m512i green =
                _mm512_maskz_mov_epi8(~changed, _mm512_mask_blend_epi8(atTolerance, white, gray));
            // Changed pixels have green 0; their channel is (|d| + 128) mod 256.
            const __m512i red = _mm512_mask_add_epi8(green, upward, up, colourOffset);
            const __m512i blue = _mm512_mask_add_epi8(green, downward, down, colourOffset);
            for (int part = 0; part < 3; ++part) {
                const __m512i blueRed = _mm512_permutex2var_epi8(blue, Load64(BlueRed[part]), red);
                Store512(out + 64 * part,
                         _mm512_mask_permutexvar_epi8(blueRed, Green[part], Load64(BlueRed[part]),
                                                      green),
                         stream);
            }
            if (changed != 0) {
                const __m512i blockStart = _mm512_set1_epi64(x);
                Accumulate512(brightened, upward, up, blockStart);
                Accumulate512(darkened, downward, down, blockStart);
            }
        }
        AddSums512(brightened, sums.PositiveCount, sums.PositiveTotal, sums.PositiveSumX);
        AddSums512(darkened, sums.NegativeCount, sums.NegativeTotal, sums.NegativeSumX);
    }
    // The rest of the row, shorter than a block, on the AVX2 path, its sums
    // of x * |d| moved to where it starts.
    TRowSums rest;
    CompareRowAvx2(previous + x, current + x, difference + 3 * x, width - x, tolerance, false,
                   rest);
    sums.PositiveCount += rest.PositiveCount;
    sums.PositiveTotal += rest.PositiveTotal;
    sums.PositiveSumX += rest.PositiveSumX + std::int64_t{x} * rest.PositiveTotal;
    sums.NegativeCount += rest.NegativeCount;
    sums.NegativeTotal += rest.NegativeTotal;
    sums.NegativeSumX += rest.NegativeSumX + std::int64_t{x} * rest.NegativeTotal;
}

STIRWATCH_VECTOR_CODE_END
#endif

using TRowComparer = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int, int,
                              bool, TRowSums&);

// Difference images from this size on (half a large third-level cache) are
// written with streaming stores where the path has them: the frame step shows
// only a small part of them.
constexpr std::size_t StreamingBytes = std::size_t{16} << 20;

constexpr TKernelSet<TRowComparer> RowComparers = {
    CompareRowScalar, STIRWATCH_X86_ONLY(CompareRowAvx2), STIRWATCH_X86_ONLY(CompareRowAvx512)};

void DrawMarker(TBitmap& image, TPoint centre, TColor colour) {
    image.Canvas().BrushColor = colour;
    image.Canvas().Rectangle(centre.X - 5, centre.Y - 5, centre.X + 5, centre.Y + 5);
}

void WriteResult(const TFrameSums& sums, TDifferenceResult& result) {
    result.PositiveCount = static_cast<int>(sums.PositiveCount);
    result.NegativeCount = static_cast<int>(sums.NegativeCount);
    result.PositiveSumX = sums.PositiveSumX;
    result.PositiveSumY = sums.PositiveSumY;
    result.NegativeSumX = sums.NegativeSumX;
    result.NegativeSumY = sums.NegativeSumY;
}

// The centres and the direction point, when there are both brightened and
// darkened pixels.
void FindCentres(const TFrameSums& sums, TDifferenceResult& result) {
    if (sums.PositiveCount <= 0 || sums.NegativeCount <= 0 || sums.PositiveTotal <= 0) {
        return;
    }
    result.Centred = true;
    result.PositiveCentre = {static_cast<int>(sums.PositiveSumX / sums.PositiveTotal),
                             static_cast<int>(sums.PositiveSumY / sums.PositiveTotal)};
    result.NegativeCentre = {static_cast<int>(sums.NegativeSumX / sums.NegativeTotal),
                             static_cast<int>(sums.NegativeSumY / sums.NegativeTotal)};
    result.Direction = {(result.PositiveCentre.X + result.NegativeCentre.X) / 2,
                        (result.PositiveCentre.Y + result.NegativeCentre.Y) / 2};
}

void MarkCentres(const TDifferenceResult& result, TBitmap& difference) {
    if (!result.Centred) {
        return;
    }
    DrawMarker(difference, result.PositiveCentre, PositiveCentreMarker);
    DrawMarker(difference, result.NegativeCentre, NegativeCentreMarker);
    DrawMarker(difference, result.Direction, DirectionMarker);
}

bool Comparable(const TBitmap& previous, const TBitmap& current) {
    return previous.PixelFormat() == pf8bit && current.PixelFormat() == pf8bit &&
           previous.Width() == current.Width() && previous.Height() == current.Height();
}

// Compares every row, the colours of row y going to differenceRow(y).
template <class TDifferenceRow>
TFrameSums CompareRows(const TBitmap& previous, const TBitmap& current, std::uint8_t tolerance,
                       TKernelPath path, bool stream, TDifferenceRow differenceRow) {
    const TRowComparer compareRow = RowComparers.For(path);
    TFrameSums sums;
    for (int y = 0; y < previous.Height(); ++y) {
        TRowSums row;
        compareRow(previous.ScanLine(y), current.ScanLine(y), differenceRow(y), previous.Width(),
                   tolerance, stream, row);
        sums.AddRow(row, y);
    }
#ifdef STIRWATCH_X86
    if (stream) {
        _mm_sfence(); // the streamed rows are complete before anything else reads or draws
    }
#endif
    return sums;
}

} // namespace

int CompareFrames(const TBitmap& Previous, const TBitmap& Current, TBitmap& Difference,
                  std::uint8_t Tolerance, TDifferenceResult& Result) {
    return CompareFrames(Previous, Current, Difference, Tolerance, Result, BestKernelPath());
}

int CompareFrames(const TBitmap& Previous, const TBitmap& Current, TBitmap& Difference,
                  std::uint8_t Tolerance, TDifferenceResult& Result, TKernelPath path) {
    if (!Comparable(Previous, Current)) {
        return ResultWrongFormat;
    }
    const int width = Previous.Width();
    const int height = Previous.Height();
    Difference.Allocate(width, height, pf24bit);
    const bool stream = Difference.Stride() * static_cast<std::size_t>(height) >= StreamingBytes;
    const TFrameSums sums = CompareRows(Previous, Current, Tolerance, path, stream,
                                        [&](int y) { return Difference.ScanLine(y); });
    WriteResult(sums, Result);
    FindCentres(sums, Result);
    MarkCentres(Result, Difference);
    return ResultDone;
}

int CountChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                 TDifferenceResult& Result, TBitmap& RowScratch) {
    return CountChanges(Previous, Current, Tolerance, Result, RowScratch, BestKernelPath());
}

int CountChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                 TDifferenceResult& Result, TBitmap& RowScratch, TKernelPath path) {
    if (!Comparable(Previous, Current)) {
        return ResultWrongFormat;
    }
    // One row, written over and over, stays in the first-level cache.
    RowScratch.Allocate(std::max(Previous.Width(), 1), 1, pf24bit);
    std::uint8_t* row = RowScratch.ScanLine(0);
    const TFrameSums sums =
        CompareRows(Previous, Current, Tolerance, path, false, [row](int) { return row; });
    WriteResult(sums, Result);
    FindCentres(sums, Result);
    return ResultDone;
}
