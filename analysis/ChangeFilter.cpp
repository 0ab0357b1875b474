#include "analysis/ChangeFilter.h"

#include "analysis/KernelDispatch.h"

#include <algorithm>
#include <cstdlib>

namespace {

// Marks of one row: 1 where a watched pixel changed, else 0.
void MarkPixelsScalar(const std::uint8_t* previous, const std::uint8_t* current,
                      const std::uint8_t* mask, int first, int end, int tolerance,
                      std::uint8_t* marks) {
    for (int x = first; x < end; ++x) {
        const bool changed = std::abs(current[x] - previous[x]) > tolerance;
        marks[x] = static_cast<std::uint8_t>(changed && (mask == nullptr || mask[x] != 0));
    }
}

// One filtered row. above, centre and below are the marks of three rows,
// each readable from index -1 to width (0 outside the frame).
struct TMarkRows {
    const std::uint8_t* Above;
    const std::uint8_t* Centre;
    const std::uint8_t* Below;
};

void FilterPixelsScalar(const TMarkRows& marks, const std::uint8_t* mask,
                        const std::uint8_t* previous, const std::uint8_t* current, int first,
                        int end, int neighbours, std::uint8_t* filtered) {
    for (int x = first; x < end; ++x) {
        const int around = marks.Above[x - 1] + marks.Above[x] + marks.Above[x + 1] +
                           marks.Centre[x - 1] + marks.Centre[x + 1] + marks.Below[x - 1] +
                           marks.Below[x] + marks.Below[x + 1];
        const bool masked = mask != nullptr && mask[x] == 0;
        const bool speckle = marks.Centre[x] != 0 && around < neighbours;
        filtered[x] = masked || speckle ? previous[x] : current[x];
    }
}

void MarkRowScalar(const std::uint8_t* previous, const std::uint8_t* current,
                   const std::uint8_t* mask, int width, int tolerance, std::uint8_t* marks) {
    MarkPixelsScalar(previous, current, mask, 0, width, tolerance, marks);
}

void FilterRowScalar(const TMarkRows& marks, const std::uint8_t* mask, const std::uint8_t* previous,
                     const std::uint8_t* current, int width, int neighbours,
                     std::uint8_t* filtered) {
    FilterPixelsScalar(marks, mask, previous, current, 0, width, neighbours, filtered);
}

#ifdef STIRWATCH_X86
STIRWATCH_VECTOR_CODE_BEGIN

STIRWATCH_TARGET_AVX2 inline __m256i Load(const std::uint8_t* at) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

STIRWATCH_TARGET_AVX2 void MarkRowAvx2(const std::uint8_t* previous, const std::uint8_t* current,
                                       const std::uint8_t* mask, int width, int tolerance,
                                       std::uint8_t* marks) {
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(tolerance));
    const __m256i one = _mm256_set1_epi8(1);
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i before = Load(previous + x);
        const __m256i after = Load(current + x);
        const __m256i size =
            _mm256_max_epu8(_mm256_subs_epu8(after, before), _mm256_subs_epu8(before, after));
        const __m256i unchanged = _mm256_cmpeq_epi8(_mm256_subs_epu8(size, limit), zero);
        __m256i changed = _mm256_andnot_si256(unchanged, one);
        if (mask != nullptr) {
            changed = _mm256_and_si256(changed, Load(mask + x));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(marks + x), changed);
    }
    MarkPixelsScalar(previous, current, mask, x, width, tolerance, marks);
}

STIRWATCH_TARGET_AVX2 void FilterRowAvx2(const TMarkRows& marks, const std::uint8_t* mask,
                                         const std::uint8_t* previous, const std::uint8_t* current,
                                         int width, int neighbours, std::uint8_t* filtered) {
    const __m256i needed = _mm256_set1_epi8(static_cast<char>(neighbours));
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const __m256i column = _mm256_add_epi8(Load(marks.Above + x), Load(marks.Below + x));
        const __m256i left =
            _mm256_add_epi8(_mm256_add_epi8(Load(marks.Above + x - 1), Load(marks.Centre + x - 1)),
                            Load(marks.Below + x - 1));
        const __m256i right =
            _mm256_add_epi8(_mm256_add_epi8(Load(marks.Above + x + 1), Load(marks.Centre + x + 1)),
                            Load(marks.Below + x + 1));
        const __m256i around = _mm256_add_epi8(column, _mm256_add_epi8(left, right));
        const __m256i enough = _mm256_cmpeq_epi8(_mm256_max_epu8(around, needed), around);
        const __m256i changed = _mm256_cmpgt_epi8(Load(marks.Centre + x), zero);
        __m256i drop = _mm256_andnot_si256(enough, changed);
        if (mask != nullptr) {
            drop = _mm256_or_si256(drop, _mm256_cmpeq_epi8(Load(mask + x), zero));
        }
        const __m256i kept = _mm256_blendv_epi8(Load(current + x), Load(previous + x), drop);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + x), kept);
    }
    FilterPixelsScalar(marks, mask, previous, current, x, width, neighbours, filtered);
}

STIRWATCH_VECTOR_CODE_END
#endif

using TRowMarker = void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, int, int,
                            std::uint8_t*);
using TRowFilter = void (*)(const TMarkRows&, const std::uint8_t*, const std::uint8_t*,
                            const std::uint8_t*, int, int, std::uint8_t*);

constexpr TKernelSet<TRowMarker> RowMarkers = {MarkRowScalar, STIRWATCH_X86_ONLY(MarkRowAvx2)};
constexpr TKernelSet<TRowFilter> RowFilters = {FilterRowScalar, STIRWATCH_X86_ONLY(FilterRowAvx2)};

// Four rows of marks, each with one zero byte before and after the frame's
// width: three rolling rows and a row of zeros for the rows outside the frame.
class TMarkRing {
public:
    TMarkRing(std::vector<std::uint8_t>& storage, int width)
        : FStorage(storage), FRowBytes(std::size_t(width) + 2) {
        if (FStorage.size() != 4 * FRowBytes) {
            FStorage.assign(4 * FRowBytes, 0);
        }
        std::fill(Row(3) - 1, Row(3) + FRowBytes - 1, std::uint8_t{0});
    }

    // Marks of row y, y from -1 to height (the zero row outside the frame).
    std::uint8_t* Marks(int y, int height) { return y < 0 || y >= height ? Row(3) : Row(y % 3); }

    // Clears the bytes around a freshly marked row.
    void Border(int y, int width) {
        std::uint8_t* row = Row(y % 3);
        row[-1] = 0;
        row[width] = 0;
    }

private:
    std::uint8_t* Row(int index) { return FStorage.data() + index * FRowBytes + 1; }

    std::vector<std::uint8_t>& FStorage;
    std::size_t FRowBytes;
};

} // namespace

int FilterChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                  const TChangeFilter& Filter, TBitmap& Filtered,
                  std::vector<std::uint8_t>& Scratch) {
    return FilterChanges(Previous, Current, Tolerance, Filter, Filtered, Scratch, BestKernelPath());
}

int FilterChanges(const TBitmap& Previous, const TBitmap& Current, std::uint8_t Tolerance,
                  const TChangeFilter& Filter, TBitmap& Filtered,
                  std::vector<std::uint8_t>& Scratch, TKernelPath path) {
    if (Previous.PixelFormat() != pf8bit || Current.PixelFormat() != pf8bit ||
        Previous.Width() != Current.Width() || Previous.Height() != Current.Height()) {
        return ResultWrongFormat;
    }
    const int width = Previous.Width();
    const int height = Previous.Height();
    Filtered.Allocate(width, height, pf8bit);
    const TRowMarker markRow = RowMarkers.For(path);
    const TRowFilter filterRow = RowFilters.For(path);
    const int neighbours = std::clamp(Filter.Neighbours, 0, 8);
    auto maskRow = [&](int y) {
        return Filter.Mask == nullptr ? nullptr : Filter.Mask + std::size_t(y) * Filter.MaskStride;
    };
    auto mark = [&](TMarkRing& ring, int y) {
        markRow(Previous.ScanLine(y), Current.ScanLine(y), maskRow(y), width, Tolerance,
                ring.Marks(y, height));
        ring.Border(y, width);
    };
    TMarkRing ring(Scratch, width);
    if (height > 0) {
        mark(ring, 0);
    }
    for (int y = 0; y < height; ++y) {
        if (y + 1 < height) {
            mark(ring, y + 1);
        }
        const TMarkRows rows{ring.Marks(y - 1, height), ring.Marks(y, height),
                             ring.Marks(y + 1, height)};
        filterRow(rows, maskRow(y), Previous.ScanLine(y), Current.ScanLine(y), width, neighbours,
                  Filtered.ScanLine(y));
    }
    return ResultDone;
}
