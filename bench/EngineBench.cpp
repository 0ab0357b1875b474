// One step of the motion engine per frame format, as a decoder hands frames
// over: gray conversion (for YUV through each pixel's colour) and the
// comparison, counting only (what a scan needs) or with the difference image
// (what the window shows). Frames alternate between two pictures, so every
// step finds changes.

#include "engine/MotionEngine.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Two pictures in one frame format: planes of noise-free gradients with a
// square that moves between them.
struct TFramePair {
    std::vector<std::uint8_t> Bytes[2];
    TFrameView View[2];

    TFramePair(TFrameFormat format, int width, int height) {
        const bool yuv = format == TFrameFormat::I420 || format == TFrameFormat::Nv12;
        const int bytesPerPixel = format == TFrameFormat::Bgr24 ? 3 : 1;
        const std::size_t lumaBytes = std::size_t(width) * bytesPerPixel * height;
        const std::size_t chromaBytes = yuv ? std::size_t(width / 2) * (height / 2) : 0;
        for (int i = 0; i < 2; ++i) {
            std::vector<std::uint8_t>& bytes = Bytes[i];
            bytes.resize(lumaBytes + 2 * chromaBytes);
            for (std::size_t k = 0; k < bytes.size(); ++k) {
                const int x = static_cast<int>(k % (std::size_t(width) * bytesPerPixel));
                const int y = static_cast<int>(k / (std::size_t(width) * bytesPerPixel));
                const bool square = x > width / 3 + 40 * i && x < width / 2 + 40 * i &&
                                    y > height / 3 && y < height / 2;
                bytes[k] = static_cast<std::uint8_t>(square ? 230 : (x + y) / 8 + 16);
            }
            TFrameView& view = View[i];
            view.Format = format;
            view.Width = width;
            view.Height = height;
            view.Plane[0] = bytes.data();
            view.Stride[0] = width * bytesPerPixel;
            view.Plane[1] = bytes.data() + lumaBytes;
            view.Stride[1] = format == TFrameFormat::Nv12 ? width : width / 2;
            view.Plane[2] = bytes.data() + lumaBytes + chromaBytes;
            view.Stride[2] = width / 2;
        }
    }
};

void EngineStep(benchmark::State& state, TFrameFormat format, bool wantDifference,
                int speckle = 0) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const TFramePair frames(format, width, height);
    TMotionEngine engine;
    engine.TakeReference(frames.View[0]);
    TEngineOptions options{20, 400, wantDifference};
    options.SpeckleNeighbours = speckle;
    int i = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(engine.Step(frames.View[i], options));
        i = 1 - i;
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(EngineStep, Bgr24_count, TFrameFormat::Bgr24, false)->Apply(Sizes);
BENCHMARK_CAPTURE(EngineStep, Bgr24_image, TFrameFormat::Bgr24, true)->Apply(Sizes);
BENCHMARK_CAPTURE(EngineStep, Gray8_count, TFrameFormat::Gray8, false)->Apply(Sizes);
BENCHMARK_CAPTURE(EngineStep, Gray8_count_speckle3, TFrameFormat::Gray8, false, 3)->Apply(Sizes);
BENCHMARK_CAPTURE(EngineStep, I420_count, TFrameFormat::I420, false)->Apply(Sizes);
BENCHMARK_CAPTURE(EngineStep, Nv12_count, TFrameFormat::Nv12, false)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
