// Speed of gray conversion and frame differencing on realistic frames
// (gradients plus sensor noise; the second frame has a moved object) on every
// code path, next to the defining 80-bit evaluation, OpenCV and a plain copy
// of the same bytes. Without arguments every benchmark is repeated and only
// the mean, median and spread are shown; a ratio table per frame size follows.
// Built without OpenCV (STIRWATCH_BENCH_OPENCV off) the program still runs but
// ends with an error, so that missing OpenCV rows never pass unnoticed.

#include "analysis/ChangeFilter.h"
#include "analysis/FrameDifferencing.h"
#include "analysis/GrayConversion.h"
#include "bench/BenchSupport.h"

#include <benchmark/benchmark.h>

#ifdef STIRWATCH_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t Tolerance = 20;

struct TFramePair {
    TBitmap Colour[2];
    TBitmap Gray[2];
};

std::uint32_t NextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Smooth colour gradients, a textured object whose left edge is at
// objectLeft, and independent noise of +-6 levels per channel.
TBitmap Scene(int width, int height, int objectLeft, std::uint32_t seed) {
    TBitmap frame;
    frame.Allocate(width, height, pf24bit);
    const int objectTop = height / 3;
    const int objectSize = height / 4;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* pixel = frame.ScanLine(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            int blue = 40 + 150 * x / width;
            int green = 30 + 180 * y / height;
            int red = 60 + 120 * (x + y) / (width + height);
            const int u = x - objectLeft;
            const int v = y - objectTop;
            if (u >= 0 && u < objectSize && v >= 0 && v < objectSize) {
                const int texture = ((u / 8 + v / 8) % 2) * 90;
                blue = 20 + texture;
                green = 200 - texture;
                red = 120 + texture / 2;
            }
            const std::uint32_t noise = NextRandom(seed);
            pixel[0] = Clamp(blue + static_cast<int>(noise % 13) - 6);
            pixel[1] = Clamp(green + static_cast<int>(noise / 13 % 13) - 6);
            pixel[2] = Clamp(red + static_cast<int>(noise / 169 % 13) - 6);
        }
    }
    return frame;
}

const TFramePair& Frames(int width, int height) {
    static std::map<std::pair<int, int>, std::unique_ptr<TFramePair>> cache;
    auto& entry = cache[{width, height}];
    if (!entry) {
        entry = std::make_unique<TFramePair>();
        entry->Colour[0] = Scene(width, height, width / 4, 1);
        entry->Colour[1] = Scene(width, height, width / 4 + width / 20, 2);
        for (int i = 0; i < 2; ++i) {
            ConvertToGray(entry->Colour[i], entry->Gray[i]);
        }
    }
    return *entry;
}

void SetPixelCounters(benchmark::State& state) {
    const double pixels = static_cast<double>(state.range(0)) * static_cast<double>(state.range(1));
    state.counters["Mpixel/s"] =
        benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void ExtendedReference(benchmark::State& state) {
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    const TBitmap& source = frames.Colour[0];
    TBitmap gray;
    gray.Allocate(source.Width(), source.Height(), pf8bit);
    for (auto _ : state) {
        for (int y = 0; y < source.Height(); ++y) {
            const std::uint8_t* pixel = source.ScanLine(y);
            std::uint8_t* out = gray.ScanLine(y);
            for (int x = 0; x < source.Width(); ++x, pixel += 3) {
                const long double luminance =
                    (pixel[2] * 0.30L + pixel[1] * 0.59L) + pixel[0] * 0.11L;
                out[x] = static_cast<std::uint8_t>(std::rintl(luminance));
            }
        }
        benchmark::DoNotOptimize(gray.ScanLine(0));
        benchmark::ClobberMemory();
    }
    SetPixelCounters(state);
}

void Gray(benchmark::State& state, TKernelPath path) {
    if (!KernelPathSupported(path)) {
        state.SkipWithError("not supported by this processor");
        return;
    }
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    TBitmap gray;
    ConvertToGray(frames.Colour[0], gray, path);
    for (auto _ : state) {
        ConvertToGray(frames.Colour[0], gray, path);
        benchmark::DoNotOptimize(gray.ScanLine(0));
        benchmark::ClobberMemory();
    }
    SetPixelCounters(state);
}

void Compare(benchmark::State& state, TKernelPath path) {
    if (!KernelPathSupported(path)) {
        state.SkipWithError("not supported by this processor");
        return;
    }
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    TBitmap difference;
    TDifferenceResult result;
    CompareFrames(frames.Gray[0], frames.Gray[1], difference, Tolerance, result, path);
    for (auto _ : state) {
        CompareFrames(frames.Gray[0], frames.Gray[1], difference, Tolerance, result, path);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    state.counters["changed"] = result.PositiveCount + result.NegativeCount;
    SetPixelCounters(state);
}

// The comparison that counts without an image, and the speckle filter
// (3 neighbours) that runs before it when the filter is on.
void Count(benchmark::State& state, TKernelPath path) {
    if (!KernelPathSupported(path)) {
        state.SkipWithError("not supported by this processor");
        return;
    }
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    TBitmap row;
    TDifferenceResult result;
    for (auto _ : state) {
        CountChanges(frames.Gray[0], frames.Gray[1], Tolerance, result, row, path);
        benchmark::DoNotOptimize(result);
    }
    SetPixelCounters(state);
}

void Speckle(benchmark::State& state, TKernelPath path) {
    if (!KernelPathSupported(path)) {
        state.SkipWithError("not supported by this processor");
        return;
    }
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    TBitmap filtered;
    std::vector<std::uint8_t> scratch;
    const TChangeFilter filter{3, nullptr, 0};
    for (auto _ : state) {
        FilterChanges(frames.Gray[0], frames.Gray[1], Tolerance, filter, filtered, scratch, path);
        benchmark::DoNotOptimize(filtered.ScanLine(0));
        benchmark::ClobberMemory();
    }
    SetPixelCounters(state);
}

// The worst case: every pixel changes by more than the tolerance.
void CompareAllChanged(benchmark::State& state, TKernelPath path) {
    if (!KernelPathSupported(path)) {
        state.SkipWithError("not supported by this processor");
        return;
    }
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    TBitmap inverted = frames.Gray[0];
    for (int y = 0; y < inverted.Height(); ++y) {
        std::uint8_t* row = inverted.ScanLine(y);
        for (int x = 0; x < inverted.Width(); ++x) {
            row[x] = static_cast<std::uint8_t>(row[x] < 128 ? 255 : 0);
        }
    }
    TBitmap difference;
    TDifferenceResult result;
    for (auto _ : state) {
        CompareFrames(frames.Gray[0], inverted, difference, Tolerance, result, path);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    state.counters["changed"] = result.PositiveCount + result.NegativeCount;
    SetPixelCounters(state);
}

// A copy of as many bytes as a 24-bit frame (and a difference image) holds.
void CopyColourFrame(benchmark::State& state) {
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    const TBitmap& source = frames.Colour[0];
    TBitmap target;
    target.Allocate(source.Width(), source.Height(), pf24bit);
    const std::size_t bytes = source.Stride() * static_cast<std::size_t>(source.Height());
    for (auto _ : state) {
        std::memcpy(target.ScanLine(0), source.ScanLine(0), bytes);
        benchmark::ClobberMemory();
    }
    SetPixelCounters(state);
}

#ifdef STIRWATCH_BENCH_OPENCV

cv::Mat Wrap(const TBitmap& bitmap) {
    const int type = bitmap.PixelFormat() == pf8bit ? CV_8UC1 : CV_8UC3;
    return cv::Mat(bitmap.Height(), bitmap.Width(), type,
                   const_cast<std::uint8_t*>(bitmap.ScanLine(0)), bitmap.Stride());
}

void OpenCvGray(benchmark::State& state) {
    cv::setNumThreads(1);
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    const cv::Mat source = Wrap(frames.Colour[0]);
    cv::Mat gray(source.rows, source.cols, CV_8UC1);
    for (auto _ : state) {
        cv::cvtColor(source, gray, cv::COLOR_BGR2GRAY);
        benchmark::DoNotOptimize(gray.data);
        benchmark::ClobberMemory();
    }
    SetPixelCounters(state);
}

void OpenCvDifferenceChain(benchmark::State& state) {
    cv::setNumThreads(1);
    const TFramePair& frames = Frames(state.range(0), state.range(1));
    const cv::Mat previous = Wrap(frames.Gray[0]);
    const cv::Mat current = Wrap(frames.Gray[1]);
    cv::Mat difference(previous.rows, previous.cols, CV_8UC1);
    cv::Mat changed(previous.rows, previous.cols, CV_8UC1);
    int count = 0;
    for (auto _ : state) {
        cv::absdiff(previous, current, difference);
        cv::threshold(difference, changed, Tolerance, 255, cv::THRESH_BINARY);
        count = cv::countNonZero(changed);
        benchmark::DoNotOptimize(count);
    }
    state.counters["changed"] = count;
    SetPixelCounters(state);
}

#endif

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({640, 480})->Args({1920, 1080})->Args({3840, 2160});
    benchmark->Unit(benchmark::kMillisecond);
}

void RegisterAll() {
    benchmark::RegisterBenchmark("Gray80BitReference", ExtendedReference)->Apply(Sizes);
    for (TKernelPath path : AllKernelPaths) {
        benchmark::RegisterBenchmark((std::string("ConvertToGray/") + KernelPathName(path)).c_str(),
                                     Gray, path)
            ->Apply(Sizes);
    }
#ifdef STIRWATCH_BENCH_OPENCV
    benchmark::RegisterBenchmark("OpenCV_cvtColor", OpenCvGray)->Apply(Sizes);
#endif
    for (TKernelPath path : AllKernelPaths) {
        const std::string name = std::string("CompareFrames/") + KernelPathName(path);
        benchmark::RegisterBenchmark(name.c_str(), Compare, path)->Apply(Sizes);
        if (path != TKernelPath::Scalar) {
            benchmark::RegisterBenchmark((name + "/AllChanged").c_str(), CompareAllChanged, path)
                ->Args({1920, 1080})
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (TKernelPath path : AllKernelPaths) {
        benchmark::RegisterBenchmark((std::string("CountChanges/") + KernelPathName(path)).c_str(),
                                     Count, path)
            ->Apply(Sizes);
        benchmark::RegisterBenchmark(
            (std::string("SpeckleFilter3/") + KernelPathName(path)).c_str(), Speckle, path)
            ->Apply(Sizes);
    }
#ifdef STIRWATCH_BENCH_OPENCV
    benchmark::RegisterBenchmark("OpenCV_absdiff_threshold_countNonZero", OpenCvDifferenceChain)
        ->Apply(Sizes);
#endif
    benchmark::RegisterBenchmark("memcpy_24bit_frame", CopyColourFrame)->Apply(Sizes);
}

// Keeps the median times per frame of every run for the ratios. On a shared
// machine the processor time of these single-threaded loops is the steadier
// measure; wall-clock time is shown next to it.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median") {
                continue;
            }
            // "Name/W/H_median" -> Name and "W/H".
            std::string name = run.benchmark_name();
            name = name.substr(0, name.rfind('_'));
            const std::size_t height = name.rfind('/');
            const std::size_t width =
                height == std::string::npos ? height : name.rfind('/', height - 1);
            if (width == std::string::npos) {
                continue;
            }
            Medians[name.substr(width + 1)][name.substr(0, width)] = {
                run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()}; // milliseconds
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints the ratio table; returns false when a row it needs is missing.
    bool PrintRatios() const {
        if (Medians.empty()) {
            return true;
        }
        const std::string best = std::string("/") + KernelPathName(BestKernelPath());
        bool complete = true;
        for (const char* size : {"640/480", "1920/1080", "3840/2160"}) {
            const auto found = Medians.find(size);
            if (found == Medians.end()) {
                continue;
            }
            std::printf("\nMedians at %s (ms per frame, cpu and wall):\n", size);
            for (const auto& [name, times] : found->second) {
                std::printf("  %-40s %10.3f %10.3f\n", name.c_str(), times.Cpu, times.Real);
            }
            std::printf("Ratios of the medians (cpu, wall):\n");
            complete &= Ratio(found->second, "ConvertToGray" + best, "OpenCV_cvtColor", 0.8);
            complete &= Ratio(found->second, "CompareFrames" + best,
                              "OpenCV_absdiff_threshold_countNonZero", 1.0);
            Ratio(found->second, "ConvertToGray/AVX2", "OpenCV_cvtColor", 0);
            Ratio(found->second, "CompareFrames/AVX2", "OpenCV_absdiff_threshold_countNonZero", 0);
            Ratio(found->second, "CompareFrames" + best, "memcpy_24bit_frame", 0);
            Ratio(found->second, "Gray80BitReference", "ConvertToGray" + best, 0);
        }
        return complete;
    }

private:
    struct TTimes {
        double Real = 0;
        double Cpu = 0;
    };
    using TSizeMedians = std::map<std::string, TTimes>;

    // With a target above 0, says whether the cpu ratio meets it; false when a row is missing.
    static bool Ratio(const TSizeMedians& medians, const std::string& a, const std::string& b,
                      double target) {
        const auto first = medians.find(a);
        const auto second = medians.find(b);
        if (first == medians.end() || second == medians.end()) {
            if (target > 0) {
                std::printf("  %s / %s: MISSING ROW\n", a.c_str(), b.c_str());
            }
            return target <= 0;
        }
        const double cpu = first->second.Cpu / second->second.Cpu;
        std::printf("  %s / %s = %.2f, %.2f", a.c_str(), b.c_str(), cpu,
                    first->second.Real / second->second.Real);
        if (target > 0) {
            std::printf("   (target <= %.2f: %s)", target, cpu <= target ? "met" : "MISSED");
        }
        std::printf("\n");
        return true;
    }

    std::map<std::string, TSizeMedians> Medians;
};

} // namespace

int main(int argc, char** argv) {
    RegisterAll();
    TRatioReporter reporter;
    if (!RunBenchmarks(argc, argv, 5, &reporter)) {
        return 1;
    }
    const bool complete = reporter.PrintRatios();
#ifndef STIRWATCH_BENCH_OPENCV
    static_cast<void>(complete);
    std::fprintf(stderr,
                 "\nERROR: built without OpenCV (STIRWATCH_BENCH_OPENCV=OFF): the OpenCV rows "
                 "are missing. `make bench` builds them.\n");
    return 1;
#else
    return complete ? 0 : 1;
#endif
}
