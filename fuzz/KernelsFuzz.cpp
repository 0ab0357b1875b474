// Gray conversion and frame differencing on random frame sizes and pixels:
// every code path this processor runs gives exactly the portable path's
// result (gray frame, counts, sums, direction and difference image).

#include "analysis/FrameDifferencing.h"
#include "analysis/GrayConversion.h"
#include "fuzz/FuzzInput.h"
#include "tests/analysis/KernelPaths.h"

#include <cstdlib>
#include <cstring>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) {
        return false;
    }
    const std::size_t rowBytes =
        static_cast<std::size_t>(a.Width()) * TBitmap::BytesPerPixel(a.PixelFormat());
    for (int y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

bool SameResult(const TDifferenceResult& a, const TDifferenceResult& b) {
    return a.PositiveCount == b.PositiveCount && a.NegativeCount == b.NegativeCount &&
           a.PositiveSumX == b.PositiveSumX && a.PositiveSumY == b.PositiveSumY &&
           a.NegativeSumX == b.NegativeSumX && a.NegativeSumY == b.NegativeSumY &&
           a.Direction.X == b.Direction.X && a.Direction.Y == b.Direction.Y;
}

// Pixels from the input; a short input repeats itself, and a few patterns
// with long runs of equal or nearly equal bytes reach the vector loops' edges.
void Fill(TBitmap& frame, TFuzzInput& input, const std::vector<std::uint8_t>& noise) {
    const std::size_t rowBytes =
        static_cast<std::size_t>(frame.Width()) * TBitmap::BytesPerPixel(frame.PixelFormat());
    const int pattern = input.Byte() % 3;
    const std::uint8_t base = input.Byte();
    std::size_t k = input.Word();
    for (int y = 0; y < frame.Height(); ++y) {
        std::uint8_t* row = frame.ScanLine(y);
        for (std::size_t i = 0; i < rowBytes; ++i, ++k) {
            const std::uint8_t n = noise.empty() ? 0 : noise[k % noise.size()];
            row[i] = pattern == 0   ? n
                     : pattern == 1 ? base
                                    : static_cast<std::uint8_t>(base + (n & 3));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TFuzzInput input(data, size);
    const int width = input.Between(1, 300);
    const int height = input.Between(1, 40);
    const auto tolerance = static_cast<std::uint8_t>(input.Byte());
    const std::string rest = input.Text(4096);
    const std::vector<std::uint8_t> noise(rest.begin(), rest.end());

    TBitmap colour;
    colour.Allocate(width, height, pf24bit);
    Fill(colour, input, noise);
    TBitmap previous;
    previous.Allocate(width, height, pf8bit);
    Fill(previous, input, noise);

    TBitmap gray;
    TBitmap difference;
    TDifferenceResult result;
    result.Direction = {-1, -1};
    Check(ConvertToGray(colour, gray, TKernelPath::Scalar) == ResultDone);
    Check(CompareFrames(previous, gray, difference, tolerance, result, TKernelPath::Scalar) ==
          ResultDone);
    for (const TKernelPath path : SupportedPaths()) {
        TBitmap pathGray;
        TBitmap pathDifference;
        TDifferenceResult pathResult;
        pathResult.Direction = {-1, -1};
        Check(ConvertToGray(colour, pathGray, path) == ResultDone);
        Check(SamePixels(gray, pathGray));
        Check(CompareFrames(previous, pathGray, pathDifference, tolerance, pathResult, path) ==
              ResultDone);
        Check(SameResult(result, pathResult));
        Check(SamePixels(difference, pathDifference));
    }
    return 0;
}
