#include "analysis/FrameDifferencing.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define STIRWATCH_X86 1
#endif

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
                      std::uint8_t* difference, int width, int tolerance, TRowSums& sums) {
    ComparePixelsScalar(previous, current, difference, 0, width, tolerance, sums);
}

#ifdef STIRWATCH_X86

// Byte shuffles that interleave three planes of 16 bytes (blue, green, red)
// into 48 bytes of pixels: Interleave[part][channel] picks, for output bytes
// 16 * part .. 16 * part + 15, the bytes that come from that channel.
struct alignas(32) TShuffle {
    std::array<std::int8_t, 32> Bytes;
};

constexpr TShuffle InterleaveShuffle(int part, int channel) {
    TShuffle shuffle{};
    for (int k = 0; k < 32; ++k) {
        const int byte = 16 * part + k % 16;
        shuffle.Bytes[k] = static_cast<std::int8_t>(byte % 3 == channel ? byte / 3 : -128);
    }
    return shuffle;
}

constexpr std::array<std::array<TShuffle, 3>, 3> Interleave = {{
    {InterleaveShuffle(0, 0), InterleaveShuffle(0, 1), InterleaveShuffle(0, 2)},
    {InterleaveShuffle(1, 0), InterleaveShuffle(1, 1), InterleaveShuffle(1, 2)},
    {InterleaveShuffle(2, 0), InterleaveShuffle(2, 1), InterleaveShuffle(2, 2)},
}};

__attribute__((target("avx2"))) inline __m256i LoadShuffle(const TShuffle& shuffle) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(shuffle.Bytes.data()));
}

__attribute__((target("avx2"))) inline __m256i InterleavePart(int part, __m256i blue, __m256i green,
                                                              __m256i red) {
    const auto& masks = Interleave[part];
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(blue, LoadShuffle(masks[0])),
                                           _mm256_shuffle_epi8(green, LoadShuffle(masks[1]))),
                           _mm256_shuffle_epi8(red, LoadShuffle(masks[2])));
}

// Writes 32 pixels given as planes; each 128-bit half of a plane holds 16
// consecutive pixels.
__attribute__((target("avx2"))) inline void StorePixels(std::uint8_t* target, __m256i blue,
                                                        __m256i green, __m256i red) {
    const __m256i part0 = InterleavePart(0, blue, green, red);
    const __m256i part1 = InterleavePart(1, blue, green, red);
    const __m256i part2 = InterleavePart(2, blue, green, red);
    auto* out = reinterpret_cast<__m256i*>(target);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(part0, part1, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(part2, part0, 0x30));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(part1, part2, 0x31));
}

__attribute__((target("avx2"))) inline std::int64_t Sum64(__m256i lanes) {
    const __m128i pair =
        _mm_add_epi64(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1));
    return _mm_cvtsi128_si64(pair) + _mm_extract_epi64(pair, 1);
}

__attribute__((target("avx2"))) inline std::int64_t Sum32(__m256i lanes) {
    const __m256i wide =
        _mm256_add_epi64(_mm256_cvtepi32_epi64(_mm256_castsi256_si128(lanes)),
                         _mm256_cvtepi32_epi64(_mm256_extracti128_si256(lanes, 1)));
    return Sum64(wide);
}

// The vector sums of one kind of change (brightened or darkened) over a row.
// Block b of 32 pixels starts at x0; pixel i of it lies at x0 + i.
struct TChangeAccumulator {
    __m256i Total;        // 4 x 64-bit sums of |d|
    __m256i BlockOffsets; // 4 x 64-bit sums of x0 * |d|
    __m256i InBlock;      // 8 x 32-bit sums of i * |d|
    std::int64_t Count;
};

__attribute__((target("avx2"))) inline void Reset(TChangeAccumulator& accumulator) {
    accumulator.Total = _mm256_setzero_si256();
    accumulator.BlockOffsets = _mm256_setzero_si256();
    accumulator.InBlock = _mm256_setzero_si256();
    accumulator.Count = 0;
}

__attribute__((target("avx2,popcnt"))) inline void
Accumulate(TChangeAccumulator& accumulator, __m256i sizes, __m256i mask, std::int64_t blockStart) {
    const __m256i indices =
        _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                         21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i counted = _mm256_and_si256(sizes, mask);
    const __m256i blockTotals = _mm256_sad_epu8(counted, _mm256_setzero_si256());
    accumulator.Total = _mm256_add_epi64(accumulator.Total, blockTotals);
    accumulator.BlockOffsets = _mm256_add_epi64(
        accumulator.BlockOffsets, _mm256_mul_epu32(blockTotals, _mm256_set1_epi64x(blockStart)));
    // Each 16-bit pair sum is at most 255 * (30 + 31), each 32-bit one at most
    // twice that, so the 32-bit lanes hold 32,768 blocks without overflow.
    const __m256i pairs = _mm256_maddubs_epi16(counted, indices);
    accumulator.InBlock =
        _mm256_add_epi32(accumulator.InBlock, _mm256_madd_epi16(pairs, _mm256_set1_epi16(1)));
    accumulator.Count += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_epi8(mask)));
}

__attribute__((target("avx2,popcnt"))) inline void Flush(TChangeAccumulator& accumulator,
                                                         std::int64_t& count, std::int64_t& total,
                                                         std::int64_t& sumX) {
    count += accumulator.Count;
    total += Sum64(accumulator.Total);
    sumX += Sum64(accumulator.BlockOffsets) + Sum32(accumulator.InBlock);
    Reset(accumulator);
}

__attribute__((target("avx2,popcnt"))) void CompareRowAvx2(const std::uint8_t* previous,
                                                           const std::uint8_t* current,
                                                           std::uint8_t* difference, int width,
                                                           int tolerance, TRowSums& sums) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi8(-1);
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(tolerance));
    const __m256i grayStep = _mm256_set1_epi8(Unchanged - ToleranceGray);
    const __m256i colourOffset = _mm256_set1_epi8(static_cast<char>(0x80));
    TChangeAccumulator brightened;
    TChangeAccumulator darkened;
    Reset(brightened);
    Reset(darkened);
    int blocks = 0;
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(previous + x));
        const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(current + x));
        const __m256i up = _mm256_subs_epu8(after, before);   // d where d > 0
        const __m256i down = _mm256_subs_epu8(before, after); // -d where d < 0
        const __m256i isUp =
            _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_subs_epu8(up, limit), zero), ones); // d > T
        const __m256i isDown = _mm256_xor_si256(
            _mm256_cmpeq_epi8(_mm256_subs_epu8(down, limit), zero), ones); // d < -T
        const __m256i atLimit =
            _mm256_and_si256(_mm256_cmpeq_epi8(up, limit), _mm256_cmpeq_epi8(down, zero));
        const __m256i changed = _mm256_or_si256(isUp, isDown);
        const __m256i background = _mm256_andnot_si256(
            changed, _mm256_xor_si256(ones, _mm256_and_si256(atLimit, grayStep)));
        const __m256i red =
            _mm256_or_si256(background, _mm256_and_si256(isUp, _mm256_xor_si256(up, colourOffset)));
        const __m256i blue = _mm256_or_si256(
            background, _mm256_and_si256(isDown, _mm256_xor_si256(down, colourOffset)));
        StorePixels(difference + 3 * x, blue, background, red);
        Accumulate(brightened, up, isUp, x);
        Accumulate(darkened, down, isDown, x);
        if (++blocks == 32768) {
            Flush(brightened, sums.PositiveCount, sums.PositiveTotal, sums.PositiveSumX);
            Flush(darkened, sums.NegativeCount, sums.NegativeTotal, sums.NegativeSumX);
            blocks = 0;
        }
    }
    Flush(brightened, sums.PositiveCount, sums.PositiveTotal, sums.PositiveSumX);
    Flush(darkened, sums.NegativeCount, sums.NegativeTotal, sums.NegativeSumX);
    ComparePixelsScalar(previous, current, difference, x, width, tolerance, sums);
}

#endif

using TRowComparer = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, int, int,
                              TRowSums&);

TRowComparer RowComparer(TKernelPath path) {
#ifdef STIRWATCH_X86
    if (path == TKernelPath::Avx2 && KernelPathSupported(TKernelPath::Avx2)) {
        return CompareRowAvx2;
    }
#else
    (void)path;
#endif
    return CompareRowScalar;
}

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

// The centres, the direction point and the three markers, when there are both
// brightened and darkened pixels.
void MarkCentres(const TFrameSums& sums, TBitmap& difference, TDifferenceResult& result) {
    if (sums.PositiveCount <= 0 || sums.NegativeCount <= 0 || sums.PositiveTotal <= 0) {
        return;
    }
    const TPoint positiveCentre{static_cast<int>(sums.PositiveSumX / sums.PositiveTotal),
                                static_cast<int>(sums.PositiveSumY / sums.PositiveTotal)};
    const TPoint negativeCentre{static_cast<int>(sums.NegativeSumX / sums.NegativeTotal),
                                static_cast<int>(sums.NegativeSumY / sums.NegativeTotal)};
    DrawMarker(difference, positiveCentre, PositiveCentreMarker);
    DrawMarker(difference, negativeCentre, NegativeCentreMarker);
    const TPoint direction{(positiveCentre.X + negativeCentre.X) / 2,
                           (positiveCentre.Y + negativeCentre.Y) / 2};
    DrawMarker(difference, direction, DirectionMarker);
    result.Direction = direction;
}

bool Comparable(const TBitmap& previous, const TBitmap& current) {
    return previous.PixelFormat() == pf8bit && current.PixelFormat() == pf8bit &&
           previous.Width() == current.Width() && previous.Height() == current.Height();
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
    const TRowComparer compareRow = RowComparer(path);
    TFrameSums sums;
    for (int y = 0; y < height; ++y) {
        TRowSums row;
        compareRow(Previous.ScanLine(y), Current.ScanLine(y), Difference.ScanLine(y), width,
                   Tolerance, row);
        sums.AddRow(row, y);
    }
    WriteResult(sums, Result);
    MarkCentres(sums, Difference, Result);
    return ResultDone;
}
