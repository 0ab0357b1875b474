// Whole events through real pipelines: a live test source feeds the
// recorder, movement is reported as the frame step would, and the files are
// opened by GStreamer's discoverer and decoded as a player does.

#include "events/EventRecorder.h"
#include "events/EventsFolder.h"

#include "EventTestSupport.h"
#include "FolderGate.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int Fps = 30;
constexpr GstClockTime FrameTime = GST_SECOND / Fps;

// Status reports arrive on the recorder's threads.
class TStatusLog {
public:
    TEventRecorder::TStatusSink Sink() {
        return [this](const TEventStatus& status) {
            std::lock_guard lock(FMutex);
            FReports.push_back(status);
            FChanged.notify_all();
        };
    }
    // The first report of one of `kinds` after the first `skip` reports of them.
    std::optional<TEventStatus> WaitFor(std::initializer_list<TEventStatus::TKind> kinds,
                                        std::chrono::seconds timeout = 20s) {
        std::unique_lock lock(FMutex);
        std::optional<TEventStatus> found;
        FChanged.wait_for(lock, timeout, [&] {
            for (const TEventStatus& status : FReports) {
                for (auto kind : kinds) {
                    if (status.Kind == kind) {
                        found = status;
                        return true;
                    }
                }
            }
            return false;
        });
        return found;
    }
    std::vector<TEventStatus> Reports() {
        std::lock_guard lock(FMutex);
        return FReports;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::vector<TEventStatus> FReports;
};

struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/stirwatch-recorder-XXXXXX";
        Path = mkdtemp(pattern);
    }
    ~TempFolder() { fs::remove_all(Path); }
    std::string Path;
};

TEventSettings Settings(const std::string& folder, double preRoll, double postRoll) {
    TEventSettings settings;
    settings.Folder = folder;
    settings.PreRollSeconds = preRoll;
    settings.PostRollSeconds = postRoll;
    return settings;
}

class EventRecorderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
};

// Waits until the recorder keeps at least `time` of pre-roll: what its
// frames cover, not what the clock says, so a slow machine only waits longer.
void WaitForPreRoll(TEventRecorder& recorder, std::chrono::milliseconds time) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    const auto wanted = static_cast<GstClockTime>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(time).count());
    while (recorder.PreRollSpan() < wanted && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_GE(recorder.PreRollSpan(), wanted) << "the pre-roll never filled";
}

} // namespace

TEST_F(EventRecorderTest, OneFileCoversPreRollMovementAndPostRollAndPlays) {
    TempFolder folder;
    TStatusLog log;
    TEventRecorder recorder(Settings(folder.Path, 1.0, 1.0), log.Sink());
    TLiveTestSource source(320, 240, Fps,
                           [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
    // The ring keeps the pre-roll and one keyframe interval more; once it is
    // that full, the keyframe at or before one second back is in it also
    // where the encoder runs a few hundred milliseconds behind the source.
    WaitForPreRoll(recorder, 1s + 450ms);

    // The recorder's clock is the steady clock: taken just before and just
    // after the first and the last movement, it brackets the movement as
    // the recorder saw it, at any speed of the machine.
    const auto first = std::chrono::steady_clock::now();
    const std::time_t wallFirst = std::time(nullptr);
    recorder.Movement();
    const auto afterFirst = std::chrono::steady_clock::now();
    EXPECT_TRUE(recorder.Recording());
    std::this_thread::sleep_for(400ms); // the pace of the steps
    recorder.Movement();                // extends the same event
    std::this_thread::sleep_for(300ms);
    const auto beforeLast = std::chrono::steady_clock::now();
    recorder.Movement();
    const auto reallyLast = std::chrono::steady_clock::now();

    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved) << "no event finished";
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(saved->Text, "Event saved: " + fs::path(saved->Path).filename().string());
    const auto recording = log.WaitFor({TEventStatus::Recording});
    ASSERT_TRUE(recording);
    EXPECT_EQ(recording->Path, saved->Path);
    EXPECT_EQ(recording->Text,
              "Recording event " + fs::path(saved->Path).filename().string() + " ...");

    // One file, named by the local time of its first frame, in the folder.
    const auto nameAt = [](std::time_t time) {
        std::tm local{};
        localtime_r(&time, &local);
        return EventBaseName(local);
    };
    const std::string name = fs::path(saved->Path).stem().string();
    EXPECT_GE(name, nameAt(wallFirst - 3));
    EXPECT_LE(name, nameAt(wallFirst));
    const auto files = ListEventFiles(folder.Path);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].Path, saved->Path);
    EXPECT_EQ(fs::path(saved->Path).extension(),
              recorder.CodecName() == "H.264/MP4" ? ".mp4" : ".webm");

    // The pre-roll starts at the keyframe at or before one second back
    // (keyframes come every half second), the movement is all in the clip
    // and so is the whole post-roll after the last movement.
    EXPECT_GE(saved->PreRoll, GST_SECOND);
    EXPECT_LE(saved->PreRoll, GST_SECOND + GST_SECOND / 2 + FrameTime);
    EXPECT_GE(saved->PostRoll, GST_SECOND);
    ASSERT_GE(saved->Duration, saved->PreRoll + saved->PostRoll);
    const GstClockTime movement = saved->Duration - saved->PreRoll - saved->PostRoll;
    const auto nanoseconds = [](auto span) {
        return static_cast<GstClockTime>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(span).count());
    };
    EXPECT_GE(movement, nanoseconds(beforeLast - afterFirst));
    EXPECT_LE(movement, nanoseconds(reallyLast - first));
    // The file holds what the recorder said, at the source's frame rate:
    // every frame is in it but those the encoder had to drop.
    const GstClockTime duration = DiscoveredDuration(saved->Path);
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE) << "the discoverer cannot open " << saved->Path;
    EXPECT_NEAR(static_cast<double>(saved->Duration), static_cast<double>(duration), FrameTime);
    const int frames = DecodedFrames(saved->Path);
    EXPECT_GE(frames + static_cast<int>(recorder.DroppedFrames()),
              static_cast<int>(duration / FrameTime) - 2);
}

// A source whose first frame comes late (the encoder is being built) and
// whose later frames come on time: the frames are timed by the earliest
// they came, so the pictures after the last movement cover the whole
// post-roll in the source's own times, not the post-roll less the delay.
TEST_F(EventRecorderTest, ALateFirstFrameDoesNotShortenThePostRoll) {
    TempFolder folder;
    TStatusLog log;
    TEventRecorder recorder(Settings(folder.Path, 0.5, 1.0), log.Sink());
    std::mutex mutex;
    bool delayed = false;
    bool moved = false;
    GstClockTime beforeMovement = GST_CLOCK_TIME_NONE; // the last frame before it
    GstClockTime lastRecorded = GST_CLOCK_TIME_NONE;   // the last one while it ran
    TLiveTestSource source(320, 240, Fps, [&](GstSample* sample) {
        if (!std::exchange(delayed, true)) {
            std::this_thread::sleep_for(400ms); // the late first frame
        }
        recorder.OnSourceFrame(sample);
        const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample));
        std::lock_guard lock(mutex);
        if (!moved) {
            beforeMovement = pts;
        } else if (recorder.Recording()) {
            lastRecorded = pts;
        }
    });
    WaitForPreRoll(recorder, 900ms);
    {
        std::lock_guard lock(mutex);
        moved = true;
        recorder.Movement();
    }
    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved) << "no event finished";
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    EXPECT_GE(saved->PostRoll, GST_SECOND);
    std::lock_guard lock(mutex);
    ASSERT_NE(beforeMovement, GST_CLOCK_TIME_NONE);
    ASSERT_NE(lastRecorded, GST_CLOCK_TIME_NONE);
    // The frame that ended the event may be encoded before its own check.
    EXPECT_GE(lastRecorded + FrameTime, beforeMovement + GST_SECOND);
}

// A 10 fps camera, whose caps tell its rate or (as many network cameras)
// say 0/1: the clip's key frames still come every half second, and its
// pre-roll reaches back the second asked for.
TEST_F(EventRecorderTest, KeyframesComeEveryHalfSecondAtTheSourcesRealRate) {
    constexpr int SlowFps = 10;
    for (const bool capsTellTheRate : {true, false}) {
        SCOPED_TRACE(capsTellTheRate ? "caps 10/1" : "caps 0/1");
        TempFolder folder;
        TStatusLog log;
        TEventRecorder recorder(Settings(folder.Path, 1.0, 1.0), log.Sink());
        TCapsPtr unknownRate;
        TLiveTestSource source(320, 240, SlowFps, [&](GstSample* sample) {
            if (capsTellTheRate) {
                recorder.OnSourceFrame(sample);
                return;
            }
            if (!unknownRate) {
                unknownRate.reset(gst_caps_copy(gst_sample_get_caps(sample)));
                gst_caps_set_simple(unknownRate.get(), "framerate", GST_TYPE_FRACTION, 0, 1,
                                    nullptr);
            }
            const TSamplePtr renamed(
                gst_sample_new(gst_sample_get_buffer(sample), unknownRate.get(), nullptr, nullptr));
            recorder.OnSourceFrame(renamed.get());
        });
        WaitForPreRoll(recorder, 1s + 600ms);
        recorder.Movement();
        std::this_thread::sleep_for(1s);
        recorder.Movement();
        const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
        ASSERT_TRUE(saved) << "no event finished";
        ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
        EXPECT_GE(saved->PreRoll + GST_SECOND / SlowFps, GST_SECOND);
        EXPECT_LE(saved->PreRoll, GST_SECOND + GST_SECOND / 2 + GST_SECOND / SlowFps);
        const std::vector<GstClockTime> keyframes = KeyframeTimes(saved->Path);
        ASSERT_GE(keyframes.size(), 4u) << saved->Path;
        // Five frames apart; a frame dropped on a loaded machine adds one.
        for (std::size_t i = 1; i < keyframes.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(keyframes[i] - keyframes[i - 1]),
                        static_cast<double>(GST_SECOND / 2),
                        static_cast<double>(GST_SECOND / SlowFps) * 1.1)
                << "key frames " << i - 1 << " and " << i;
        }
    }
}

// Frames that come unevenly: after the first second most of them are left out
// (as a loaded encoder or a stalling camera does), so fifteen frames span two
// seconds. Key frames still come by the frames' times, every half second and
// at most the gap to the next frame later (a few gaps when frames wait).
TEST_F(EventRecorderTest, KeyframesComeByTimeWhenFramesAreLeftOut) {
    constexpr GstClockTime Gap = 4 * GST_SECOND / 30; // one frame in four of 30 fps
    TempFolder folder;
    TStatusLog log;
    TEventRecorder recorder(Settings(folder.Path, 1.0, 1.0), log.Sink());
    std::atomic<int> arrived{0};
    TLiveTestSource source(320, 240, 30, [&](GstSample* sample) {
        const int frame = arrived.fetch_add(1);
        if (frame < 30 || frame % 4 == 0) {
            recorder.OnSourceFrame(sample);
        }
    });
    WaitForPreRoll(recorder, 1s + 600ms);
    recorder.Movement();
    const int before = arrived.load();
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (arrived.load() < before + 30 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    recorder.Movement();
    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved) << "no event finished";
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    const std::vector<GstClockTime> keyframes = KeyframeTimes(saved->Path);
    ASSERT_GE(keyframes.size(), 4u) << saved->Path;
    for (std::size_t i = 1; i < keyframes.size(); ++i) {
        EXPECT_LE(keyframes[i] - keyframes[i - 1], GST_SECOND / 2 + 4 * Gap)
            << "key frames " << i - 1 << " and " << i;
    }
}

TEST_F(EventRecorderTest, WithoutH264TheEventIsVp8InWebmAndClosingFinishesIt) {
    TempFolder folder;
    TStatusLog log;
    std::string path;
    {
        TEventSettings settings = Settings(folder.Path, 0.5, 30);
        settings.PreferH264 = false;
        TEventRecorder recorder(settings, log.Sink());
        std::atomic<int> frames{0};
        TLiveTestSource source(320, 240, Fps, [&](GstSample* sample) {
            recorder.OnSourceFrame(sample);
            ++frames;
        });
        WaitForPreRoll(recorder, 500ms);
        recorder.Movement();
        ASSERT_TRUE(recorder.Recording());
        EXPECT_EQ(recorder.CodecName(), "VP8/WebM");
        // A second of frames goes into the event.
        const int before = frames;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (frames < before + Fps && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        source.Stop();
        // The program closes during the event: the file is finished.
    }
    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    EXPECT_EQ(fs::path(saved->Path).extension(), ".webm");
    // The pre-roll, and what came after the movement until the close.
    const GstClockTime duration = DiscoveredDuration(saved->Path);
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    EXPECT_GE(saved->PreRoll, GST_SECOND / 2);
    EXPECT_GT(saved->Duration, saved->PreRoll);
    EXPECT_NEAR(static_cast<double>(saved->Duration), static_cast<double>(duration), FrameTime);
    EXPECT_GT(DecodedFrames(saved->Path), 0);
}

TEST_F(EventRecorderTest, EventMakesRoomByDeletingTheOldestEventFilesFirst) {
    TempFolder folder;
    auto fill = [&](const std::string& name, std::size_t size) {
        const std::string path = folder.Path + "/" + name;
        std::ofstream(path) << std::string(size, 'x');
        return path;
    };
    const std::string oldest = fill("2001-01-01_00-00-00.mp4", 400 << 10);
    const std::string newer = fill("2002-01-01_00-00-00.mp4", 400 << 10);
    const std::string mine = fill("holiday.mp4", 900 << 10);
    TStatusLog log;
    TEventSettings settings = Settings(folder.Path, 0.5, 0.5);
    settings.LimitBytes = 600 << 10;
    TEventRecorder recorder(settings, log.Sink());
    TLiveTestSource source(320, 240, Fps,
                           [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
    WaitForPreRoll(recorder, 500ms);
    recorder.Movement();
    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    EXPECT_FALSE(fs::exists(oldest));
    EXPECT_TRUE(fs::exists(newer)); // one deletion was enough
    EXPECT_TRUE(fs::exists(mine));  // not an event file
    EXPECT_TRUE(fs::exists(saved->Path));
}

// A small disk of its own (root only: tmpfs). Below the floor no event
// starts and the status says why; an event that fills the disk ends early
// or is removed, and no other file is touched.
TEST_F(EventRecorderTest, FullDiskStopsEventsWithAStatusAndLosesNothingElse) {
    TempFolder mountPoint;
    if (mount("tmpfs", mountPoint.Path.c_str(), "tmpfs", 0, "size=1M") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (not root)";
    }
    struct Unmount {
        std::string Path;
        ~Unmount() { umount(Path.c_str()); }
    } unmount{mountPoint.Path};
    const std::string folder = mountPoint.Path + "/events";
    fs::create_directories(folder);
    const std::string kept = folder + "/notes.txt";
    {
        const TDiskSpace space = DiskSpaceOf(folder);
        std::ofstream(kept) << std::string(space.Free - 30 * 1024, 'k');
    }
    const auto keptSize = fs::file_size(kept);

    TStatusLog log;
    // A post-roll longer than a loaded machine's pause between two steps, so
    // that only the full disk ends the event.
    TEventRecorder recorder(Settings(folder, 0.5, 3), log.Sink());
    TLiveTestSource source(320, 240, Fps,
                           [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
    WaitForPreRoll(recorder, 500ms);
    recorder.Movement();
    const auto refused = log.WaitFor({TEventStatus::Refused});
    ASSERT_TRUE(refused);
    EXPECT_FALSE(recorder.Recording());
    EXPECT_NE(refused->Text.find("No event recorded: only "), std::string::npos) << refused->Text;
    EXPECT_TRUE(ListEventFiles(folder).empty());

    // Room for a little: the event starts, the disk fills, and the event
    // ends with a status; its file is either complete or gone.
    fs::resize_file(kept, keptSize - 100 * 1024);
    recorder.Movement();
    ASSERT_TRUE(recorder.Recording());
    // Up to 100 s: a slow encoder (a sanitizer build) fills 100 KB late.
    for (int i = 0; i < 400 && recorder.Recording(); ++i) {
        recorder.Movement();
        std::this_thread::sleep_for(250ms);
    }
    const auto ended = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(ended);
    EXPECT_FALSE(ended->Text.empty());
    std::printf(
        "%s (%ju bytes)\n", ended->Text.c_str(),
        static_cast<std::uintmax_t>(fs::exists(ended->Path) ? fs::file_size(ended->Path) : 0));
    if (ended->Kind == TEventStatus::Saved) {
        EXPECT_NE(ended->Text.find("stopped early"), std::string::npos) << ended->Text;
        EXPECT_NE(DiscoveredDuration(ended->Path), GST_CLOCK_TIME_NONE);
    } else {
        EXPECT_FALSE(fs::exists(ended->Path)) << ended->Text;
    }
    EXPECT_EQ(fs::file_size(kept), keptSize - 100 * 1024);
}

namespace {

// Calls Movement() as automatic steps do, until `done` or the deadline.
template <class Done>
bool MoveUntil(TEventRecorder& recorder, Done&& done, std::chrono::seconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        recorder.Movement();
        std::this_thread::sleep_for(30ms);
    }
    return true;
}

} // namespace

// The events folder removed during an event: the writer finishes a file that
// no longer has a name. The status says the event is lost, not saved; the
// next event makes the folder again.
TEST_F(EventRecorderTest, FolderRemovedDuringAnEventIsReportedAsALostEvent) {
    TempFolder base;
    const std::string folder = base.Path + "/events";
    TStatusLog log;
    TEventRecorder recorder(Settings(folder, 0.5, 3), log.Sink());
    TLiveTestSource source(320, 240, Fps,
                           [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
    WaitForPreRoll(recorder, 1s);
    recorder.Movement();
    const auto recording = log.WaitFor({TEventStatus::Recording});
    ASSERT_TRUE(recording);
    recorder.Movement();
    fs::remove_all(folder);
    ASSERT_TRUE(recorder.Recording()) << "the event ended before its folder was removed";

    const auto ended = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->Kind, TEventStatus::Failed) << ended->Text;
    EXPECT_EQ(ended->Text, "Event lost: " + fs::path(recording->Path).filename().string() +
                               " was removed from the disk while it was being written");

    // The worker makes the folder as the next event starts.
    ASSERT_TRUE(MoveUntil(recorder, [&] { return fs::is_directory(folder); }));
}

// A folder that cannot be written, even by root (a read-only mount): the
// status gives the file sink's reason once, the recorder does not build a
// writer at every step, and recording resumes once the folder is writable.
TEST_F(EventRecorderTest, ReadOnlyFolderIsToldOnceWithItsReasonAndRetriedLater) {
    TempFolder folder;
    if (mount("tmpfs", folder.Path.c_str(), "tmpfs", MS_RDONLY, "size=1M") != 0) {
        GTEST_SKIP() << "cannot mount a read-only tmpfs here (not root)";
    }
    struct Unmount {
        std::string Path;
        ~Unmount() { umount(Path.c_str()); }
    } unmount{folder.Path};
    TStatusLog log;
    TEventRecorder recorder(Settings(folder.Path, 0.5, 0.5), log.Sink());
    TLiveTestSource source(320, 240, Fps,
                           [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
    WaitForPreRoll(recorder, 1s);
    MoveUntil(
        recorder, [] { return false; }, 2s);
    EXPECT_FALSE(recorder.Recording());
    const auto reports = log.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Kind, TEventStatus::Failed);
    EXPECT_NE(reports[0].Text.find("Read-only file system"), std::string::npos) << reports[0].Text;

    ASSERT_EQ(mount(nullptr, folder.Path.c_str(), nullptr, MS_REMOUNT, "size=1M"), 0);
    ASSERT_TRUE(MoveUntil(recorder, [&] { return recorder.Recording(); }));
    EXPECT_TRUE(log.WaitFor({TEventStatus::Recording}));
}

// Every open in the events folder held up: Movement() returns at once, the
// recorder's lock stays free and the frames encoded meanwhile are kept; the
// event starts with its pre-roll when the disk answers, and no disk work
// ran on the caller's thread.
TEST_F(EventRecorderTest, MovementNeverWaitsForTheDisk) {
    TempFolder folder;
    TFolderGate gate(folder.Path);
    if (!gate.Available()) {
        GTEST_SKIP() << "cannot hold the folder's opens with fanotify here (not root)";
    }
    TStatusLog log;
    TEventRecorder recorder(Settings(folder.Path, 1.0, 2.0), log.Sink());
    std::atomic<int> frames{0};
    TLiveTestSource source(320, 240, Fps, [&](GstSample* sample) {
        recorder.OnSourceFrame(sample);
        ++frames;
    });
    WaitForPreRoll(recorder, 1s + 450ms);

    gate.Hold();
    recorder.Movement();
    const auto afterFirst = std::chrono::steady_clock::now();
    ASSERT_TRUE(gate.WaitUntilHolding(20s)) << "the start opened nothing in the folder";
    EXPECT_TRUE(recorder.Recording());
    // A second of frames goes by while the disk is held up.
    const int before = frames;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (frames < before + Fps && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const auto beforeLast = std::chrono::steady_clock::now();
    recorder.Movement();
    EXPECT_GT(recorder.PreRollBytes(), 0u);
    EXPECT_TRUE(log.Reports().empty());
    gate.Release();

    const auto saved = log.WaitFor({TEventStatus::Saved, TEventStatus::Failed});
    ASSERT_TRUE(saved) << "no event finished";
    ASSERT_EQ(saved->Kind, TEventStatus::Saved) << saved->Text;
    const auto openers = gate.Openers(); // before this thread opens the file
    EXPECT_FALSE(openers.empty());
    for (const pid_t thread : openers) {
        EXPECT_NE(thread, gettid()) << "the folder was opened on the caller's thread";
    }
    // The clip kept its pre-roll, the second held up and the post-roll.
    EXPECT_GE(saved->PreRoll, GST_SECOND);
    EXPECT_GE(saved->PostRoll, 2 * GST_SECOND);
    const auto held = static_cast<GstClockTime>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(beforeLast - afterFirst).count());
    EXPECT_GE(saved->Duration, saved->PreRoll + held + saved->PostRoll);
    const GstClockTime duration = DiscoveredDuration(saved->Path);
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    EXPECT_NEAR(static_cast<double>(saved->Duration), static_cast<double>(duration), FrameTime);
}
