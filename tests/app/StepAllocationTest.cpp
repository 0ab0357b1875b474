// A frame step at an unchanged frame size takes no frame-sized memory: the
// clipboard road, the analysis, the differential image and the graph reuse
// the storage of the steps before. Counts the large allocations of this
// process through a replaced operator new (not under AddressSanitizer, which
// has its own).

#include "app/WVideo.h"
#include "capture/CaptureWindow.h"
#include "capture/VideoCap.h"
#include "settings/ConfigUnit.h"
#include "tests/TestGuards.h"
#include "tests/support/TestMedia.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
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

// GStreamer, its decoders and Qt's images take their memory from the C
// library: these count the blocks of at least FrameBlock bytes asked of it
// by any thread, then take them from the C library's own allocator.
namespace {
std::atomic<std::size_t> FrameBlock{0}; // 0: not counted
std::atomic<int> FrameSizedBlocks{0};
std::atomic<std::size_t> LastFrameSizedBlock{0};
void CountBlock(std::size_t size) {
    const std::size_t limit = FrameBlock.load(std::memory_order_relaxed);
    if (limit > 0 && size >= limit) {
        FrameSizedBlocks.fetch_add(1, std::memory_order_relaxed);
        LastFrameSizedBlock.store(size, std::memory_order_relaxed);
    }
}
} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) noexcept {
    CountBlock(size);
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
    CountBlock(count * size);
    return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) noexcept {
    CountBlock(size);
    return __libc_realloc(block, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept {
    CountBlock(size);
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
    CountBlock(size);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    CountBlock(size);
    void* taken = __libc_memalign(alignment, size);
    if (taken == nullptr) {
        return ENOMEM;
    }
    *block = taken;
    return 0;
}
}
#endif

namespace {

// Unused where allocations are not counted (under AddressSanitizer).
[[maybe_unused]] QImage Frame(int level) {
    QImage frame(640, 480, QImage::Format_BGR888);
    frame.fill(QColor(level, level / 2, 255 - level));
    return frame;
}

// Shows the window, starts the video and waits for the engine's first frame.
bool StartedWithAFirstFrame(TVideo& window) {
    window.show();
    window.StartVideo();
    return QTest::qWaitFor([&] { return !window.Engine()->PreviousFrame().Empty(); }, 20000);
}

// The main window on the test source, shown, with the engine's first frame
// compared; the configuration is kept in a folder of the test's own.
class TestSourceStepMemory : public ::testing::Test {
protected:
    void SetUp() override {
        CreateConfigForm();
        Window = BaseForm::MakeForm<TVideo>();
        ASSERT_TRUE(StartedWithAFirstFrame(*Window));
    }
    void TearDown() override {
        if (Window) {
            Window->StopVideo();
            Window->close();
            Window.reset();
        }
        DestroyConfigForm();
        QGuiApplication::clipboard()->clear();
    }

    QTemporaryDir Config;
    TScopedEnv ConfigHome{"XDG_CONFIG_HOME", Config.path().toStdString()};
    TScopedEnv Source{"STIRWATCH_SOURCE", "test"};
    std::unique_ptr<TVideo> Window;
};

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
TEST_F(TestSourceStepMemory, StepsOnACameraReuseTheTwoGrabsAndTheEngineStorage) {
    std::set<const uchar*> grabStorage;
    auto step = [&] {
        Counting = true;
        Window->EvolveOne();
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
    EXPECT_FALSE(Window->Engine()->PreviousFrame().Empty());
}

// A decoded H.264 file shown live and stepped: from the demuxer and the
// decoder through the exchange, the display's repaints, the grabs, the
// clipboard and the analysis, no frame-sized block is taken once the first
// frames have sized the buffers, whichever thread would take it.
TEST(FrameStepMemory, ALivePipelineTakesNoFrameSizedMemoryPerFrame) {
#ifndef STIRWATCH_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#else
    if (!EncoderAvailable(TClipKind::H264Mp4)) {
        GTEST_SKIP() << "no H.264 encoder";
    }
    QTemporaryDir config;
    QTemporaryDir media;
    // Twenty seconds: the file loops back to its start (a seek, which may set the
    // decoder up again) only after the steps, however slow the machine.
    const std::string clip =
        MakeTestClip(media.path().toStdString(), TClipKind::H264Mp4, 300, 640, 480, 15);
    const TScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
    const TScopedEnv source("STIRWATCH_SOURCE", clip);
    CreateConfigForm();
    {
        auto window = BaseForm::MakeForm<TVideo>();
        ASSERT_TRUE(StartedWithAFirstFrame(*window));
        const TCaptureWindow* capture = TCaptureWindow::FromHandle(CaptureWindow);
        ASSERT_NE(capture, nullptr);
        const auto run = [&](int steps) {
            for (int i = 0; i < steps; ++i) {
                window->EvolveOne();
                ResumePreview();
                const std::uint64_t shown = capture->DisplayedFrames();
                ASSERT_TRUE(
                    QTest::qWaitFor([&] { return capture->DisplayedFrames() > shown; }, 10000));
            }
        };
        run(5); // the first frames size the buffers
        FrameSizedBlocks = 0;
        FrameBlock = std::size_t{640} * 480; // a gray frame; the decoded one takes 1.5 times that
        run(20);
        FrameBlock = 0;
        EXPECT_EQ(FrameSizedBlocks.load(), 0)
            << "the last of " << LastFrameSizedBlock.load() << " bytes";
        window->StopVideo();
        window->close();
    }
    DestroyConfigForm();
    QGuiApplication::clipboard()->clear();
#endif
}

// The display's own picture for a grab it is frozen on is sized at the first
// paint of one. A step paints its grab only when the step's result comes in a
// later pass of the event loop than the grab, as it may on a busy machine.
void PaintAFrozenGrab() {
    GrabFrameToClipboard();
    TCaptureWindow* capture = TCaptureWindow::FromHandle(CaptureWindow);
    ASSERT_NE(capture, nullptr);
    capture->repaint();
    ResumePreview();
}

// The automatic step on the step runner's worker: the grab it converts there,
// the clipboard that shares it, the analysis and the difference image reuse
// their storage too, whichever thread would take a frame-sized block.
TEST_F(TestSourceStepMemory, AutomaticStepsOnTheWorkerTakeNoFrameSizedMemory) {
#ifndef STIRWATCH_COUNT_ALLOCATIONS
    GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#else
    std::set<const uchar*> grabStorage;
    const auto run = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            const std::uint64_t before = Window->StepRunner().Completed();
            Window->StartAutomaticStep();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return Window->StepRunner().Completed() > before; }, 10000));
            QImage grabbed;
            ASSERT_TRUE(TakeGrabbedFrame(grabbed));
            grabStorage.insert(grabbed.constBits());
        }
    };
    PaintAFrozenGrab();
    run(3); // the first steps size the buffers
    grabStorage.clear();
    FrameSizedBlocks = 0;
    FrameBlock = std::size_t{640} * 480;
    run(10);
    FrameBlock = 0;
    EXPECT_EQ(FrameSizedBlocks.load(), 0)
        << "the last of " << LastFrameSizedBlock.load() << " bytes";
    EXPECT_LE(grabStorage.size(), 2u);
#endif
}

} // namespace
