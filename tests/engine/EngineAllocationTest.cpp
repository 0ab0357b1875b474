// Engine steps at an unchanged frame size and format allocate nothing, in
// every format and with or without the difference image: a scan of hours of
// video must not churn memory. Counts this process's allocations through a
// replaced operator new (not under AddressSanitizer, which has its own).

#include "engine/MotionEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#if !defined(__SANITIZE_ADDRESS__)
#define STIRWATCH_COUNT_ALLOCATIONS 1

namespace {
std::atomic<bool> Counting{false};
std::atomic<int> Allocations{0};

void* Allocate(std::size_t size, std::size_t alignment) {
    if (Counting.load(std::memory_order_relaxed)) {
        Allocations.fetch_add(1, std::memory_order_relaxed);
    }
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    if (void* block = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded)) {
        return block;
    }
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return Allocate(size, alignof(std::max_align_t));
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return Allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
#endif

namespace {

TEST(EngineMemory, StepsAtAnUnchangedSizeAllocateNothingInAnyFormat) {
#ifndef STIRWATCH_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#else
    const int width = 66;
    const int height = 20;
    std::vector<std::uint8_t> pictures[2];
    for (int i = 0; i < 2; ++i) {
        pictures[i].assign(3 * width * height, static_cast<std::uint8_t>(60 + 100 * i));
    }
    auto view = [&](TFrameFormat format, int i) {
        const std::uint8_t* bytes = pictures[i].data();
        switch (format) {
        case TFrameFormat::I420:
            return TFrameView{format,
                              width,
                              height,
                              {bytes, bytes + width * height, bytes + 2 * width * height},
                              {width, width / 2, width / 2}};
        case TFrameFormat::Nv12:
            return TFrameView{
                format, width, height, {bytes, bytes + width * height}, {width, width}};
        default:
            return TFrameView{format, width, height, {bytes}, {3 * width}};
        }
    };
    for (TFrameFormat format :
         {TFrameFormat::Bgr24, TFrameFormat::Gray8, TFrameFormat::I420, TFrameFormat::Nv12}) {
        for (bool wantDifference : {false, true}) {
            TMotionEngine engine;
            const TEngineOptions options{20, 0, wantDifference};
            engine.TakeReference(view(format, 0));
            engine.Step(view(format, 1), options); // sizes the working frames
            engine.Step(view(format, 0), options);
            Allocations = 0;
            Counting = true;
            int changed = 0;
            for (int i = 0; i < 6; ++i) {
                changed += engine.Step(view(format, 1 - i % 2), options).ChangedPixels;
            }
            Counting = false;
            EXPECT_EQ(Allocations.load(), 0)
                << "format " << static_cast<int>(format) << ", image " << wantDifference;
            EXPECT_EQ(changed, 6 * width * height) << "every pixel changes at every step";
        }
    }
#endif
}

TEST(EngineMemory, FilteredStepsAtAnUnchangedSizeAllocateNothing) {
#ifndef STIRWATCH_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#else
    const int width = 70;
    const int height = 20;
    std::vector<std::uint8_t> pictures[2];
    for (int i = 0; i < 2; ++i) {
        pictures[i].assign(std::size_t(width) * height, static_cast<std::uint8_t>(60 + 100 * i));
    }
    TEngineOptions options{20, 0, true};
    options.SpeckleNeighbours = 3;
    options.LightGuardPercent = 60;
    options.Mask = std::make_shared<TDetectionMask>(ParseMask("ignore\n0,0 0.5,0 0.5,1\n"));
    TMotionEngine engine;
    Allocations = 0;
    for (int i = 0; i < 8; ++i) {
        Counting = i >= 2; // the first steps size the working frames and the mask
        engine.Step(
            TFrameView{TFrameFormat::Gray8, width, height, {pictures[i % 2].data()}, {width}},
            options);
    }
    Counting = false;
    EXPECT_EQ(Allocations.load(), 0);
#endif
}

} // namespace
