// A frame step at an unchanged frame size takes no frame-sized memory: the
// clipboard road, the analysis, the differential image and the graph reuse
// the storage of the steps before. Counts the large allocations of this
// process through a replaced operator new (not under AddressSanitizer, which
// has its own).

#include "app/WVideo.h"
#include "capture/VideoCap.h"
#include "settings/ConfigUnit.h"
#include "tests/TestGuards.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <set>

namespace {
// Smaller blocks come from Qt's own bookkeeping (events, strings, painters).
[[maybe_unused]] constexpr std::size_t LargeBlock = 64 * 1024;
// Set by the tests in every build; counted only where operator new is ours.
std::atomic<bool> Counting{false};
std::atomic<int> LargeAllocations{0};
} // namespace

#if !defined(__SANITIZE_ADDRESS__)
#define STIRWATCH_COUNT_ALLOCATIONS 1

void* operator new(std::size_t size) {
    if (size >= LargeBlock && Counting.load(std::memory_order_relaxed)) {
        LargeAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
// Image storage is cache-line aligned.
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (size >= LargeBlock && Counting.load(std::memory_order_relaxed)) {
        LargeAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    const auto align = static_cast<std::size_t>(alignment);
    if (void* block = std::aligned_alloc(align, (size + align - 1) / align * align)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block, std::align_val_t) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    std::free(block);
}
#endif

namespace {

// Unused where allocations are not counted (under AddressSanitizer).
[[maybe_unused]] QImage Frame(int level) {
    QImage frame(640, 480, QImage::Format_BGR888);
    frame.fill(QColor(level, level / 2, 255 - level));
    return frame;
}

TEST(FrameStepMemory, StepsAtAnUnchangedSizeTakeNoFrameSizedMemory) {
#ifndef STIRWATCH_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#else
    QTemporaryDir config;
    const TScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
    const QImage frames[] = {Frame(40), Frame(200)};
    CreateConfigForm();
    {
        auto window = BaseForm::MakeForm<TVideo>();
        window->show();
        QCoreApplication::processEvents();
        auto step = [&](int i) {
            QGuiApplication::clipboard()->setImage(frames[i % 2]);
            Counting = true;
            window->EvolveOne();
            QCoreApplication::processEvents();
            Counting = false;
        };
        for (int i = 0; i < 3; ++i) { // the first steps size the buffers
            step(i);
        }
        LargeAllocations = 0;
        for (int i = 0; i < 10; ++i) {
            step(i);
        }
        EXPECT_EQ(LargeAllocations.load(), 0);
        EXPECT_EQ(window->PixNumLab->text(), "307200") << "every pixel changes";
        window->close();
    }
    DestroyConfigForm();
    QGuiApplication::clipboard()->clear();
#endif
}

// With a camera the step reads the grab itself: the capture's two grab images
// take turns (the clipboard holds the other), so steps at an unchanged size
// neither copy the frame again nor allocate, in the capture or the analysis.
TEST(FrameStepMemory, StepsOnACameraReuseTheTwoGrabsAndTheEngineStorage) {
    QTemporaryDir config;
    const TScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
    const TScopedEnv source("STIRWATCH_SOURCE", "test");
    CreateConfigForm();
    {
        auto window = BaseForm::MakeForm<TVideo>();
        window->show();
        window->StartVideo();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !window->Engine()->PreviousFrame().Empty(); }, 20000));
        std::set<const uchar*> grabStorage;
        auto step = [&] {
            Counting = true;
            window->EvolveOne();
            Counting = false;
            QImage grabbed;
            ASSERT_TRUE(TakeGrabbedFrame(grabbed));
            ASSERT_FALSE(grabbed.isNull());
            grabStorage.insert(grabbed.constBits());
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 3; ++i) {
            step();
        }
        grabStorage.clear();
        LargeAllocations = 0;
        for (int i = 0; i < 10; ++i) {
            step();
        }
        EXPECT_LE(grabStorage.size(), 2u);
#ifdef STIRWATCH_COUNT_ALLOCATIONS
        EXPECT_EQ(LargeAllocations.load(), 0);
#endif
        EXPECT_FALSE(window->Engine()->PreviousFrame().Empty());
        window->StopVideo();
        window->close();
    }
    DestroyConfigForm();
    QGuiApplication::clipboard()->clear();
}

} // namespace
