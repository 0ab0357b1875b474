// The event writer while its disk is behind: the file is a pipe that nobody
// reads, so the writing thread stalls on a full pipe as it would on a stalled
// disk, and the frames that keep coming must not pile up without bound.

#include "events/EventWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A frame of 64 KiB (as much as a pipe holds) at frame `index` of a 30 fps stream.
GstBuffer* Frame(int index, bool key) {
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 64 * 1024, nullptr);
    gst_buffer_memset(buffer, 0, static_cast<guint8>(index), 64 * 1024);
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(index) * GST_SECOND / 30;
    GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
    if (!key) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    }
    return buffer;
}

void Push(TEventWriter& writer, int index, bool key) {
    GstBuffer* buffer = Frame(index, key);
    writer.Push(buffer);
    gst_buffer_unref(buffer);
}

TEST(EventWriter, StalledDiskBoundsTheWaitingFramesAndResumesAtAKeyframe) {
    gst_init(nullptr, nullptr);
    char pattern[] = "/tmp/stirwatch-writer-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string path = folder + "/event.bin";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const TEventCodec bytes{"bytes", ".bin", "identity", "application/x-frames", "identity"};
    GstCaps* caps = gst_caps_from_string("application/x-frames");
    TEventWriter writer(bytes, caps, path, 0);
    gst_caps_unref(caps);

    constexpr int Frames = 2 * static_cast<int>(TEventWriter::StallFrames);
    for (int i = 0; i < Frames; ++i) {
        Push(writer, i, i == 0);
    }
    // Nothing is read: past the limit (and the frame or two the writing
    // thread holds), every frame is left out.
    EXPECT_GE(writer.Skipped(), static_cast<std::uint64_t>(Frames) - TEventWriter::StallFrames - 2);
    EXPECT_LE(writer.Skipped(), static_cast<std::uint64_t>(Frames) - TEventWriter::StallFrames);

    // The disk catches up: a delta frame still waits for a keyframe, which is taken.
    std::thread drain([reader] {
        fcntl(reader, F_SETFL, 0);
        char chunk[65536];
        while (read(reader, chunk, sizeof chunk) > 0) {
        }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::uint64_t skipped = writer.Skipped();
        Push(writer, Frames, false);
        if (writer.Skipped() == skipped) {
            ADD_FAILURE() << "a delta frame was taken after frames were left out";
            break;
        }
        const std::uint64_t before = writer.BytesPushed();
        Push(writer, Frames + 1, true);
        if (writer.BytesPushed() > before) {
            break; // the keyframe found room
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "the keyframe never found room";
    EXPECT_TRUE(writer.Finish(std::chrono::seconds(60))) << writer.Error();
    drain.join();
    close(reader);
    std::filesystem::remove_all(folder);
}

} // namespace
