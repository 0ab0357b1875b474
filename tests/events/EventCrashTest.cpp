// Clips that survive the program's end: a recorder process killed with
// SIGKILL at random moments of an event, or ended with SIGTERM, and the
// repair at the next start. Every clip is opened with GStreamer's
// discoverer, as a player would.

#include "events/EventRepair.h"
#include "events/EventsFolder.h"

#include "CrashLoop.h"
#include "EventTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class EventCrashTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { gst_init(nullptr, nullptr); }
    void SetUp() override {
        char pattern[] = "/tmp/stirwatch-crash-test-XXXXXX";
        Folder = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(Folder); }
    bool MarkerLeft() const {
        for (const auto& entry : fs::directory_iterator(Folder)) {
            if (entry.path().extension() == ".unfinished") {
                return true;
            }
        }
        return false;
    }
    std::string Folder;
};

void ExpectEveryKillAccountedFor(const TCrashFigures& figures, int kills) {
    std::printf("kills %d, playable %d, moved aside %d (killed at most %.2f s into the event), "
                "at most %.2f s lost\n",
                figures.Kills, figures.Playable, figures.MovedAside, figures.LongestKilledAt,
                figures.MostSecondsLost);
    EXPECT_EQ(figures.Kills, kills);
    EXPECT_EQ(figures.Unexplained, 0) << figures.Notes;
    EXPECT_EQ(figures.Playable + figures.MovedAside, figures.Kills);
    // How much a kill loses is timed against the wall clock, which a loaded
    // machine's encoder lags behind: stirwatch_event_crash_bench checks it
    // on a quiet one.
}

} // namespace

TEST_F(EventCrashTest, KilledAtRandomMomentsEveryClipPlaysOrIsMovedAside) {
    const std::uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    ExpectEveryKillAccountedFor(KillAtRandomMoments(RECORD_CHILD, 20, 2000ms, "h264", seed), 20);
}

TEST_F(EventCrashTest, KilledVp8ClipsPlayToo) {
    const std::uint32_t seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    ExpectEveryKillAccountedFor(KillAtRandomMoments(RECORD_CHILD, 5, 2000ms, "vp8", seed), 5);
}

TEST_F(EventCrashTest, SigtermFinishesTheClipWithNothingLeftToRepair) {
    TRecorderChild child(RECORD_CHILD, Folder, "h264");
    const std::string started = child.ReadLine(60s);
    ASSERT_EQ(started.rfind("recording ", 0), 0u) << started;
    // Wait until the file holds more than its first fragment.
    const std::string path = started.substr(started.rfind(' ') + 1);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (fs::file_size(path) < 60'000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    const int status = child.Signal(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(MarkerLeft());
    EXPECT_TRUE(RepairUnfinishedEvents(Folder).empty());
    const GstClockTime duration = DiscoveredDuration(path);
    ASSERT_NE(duration, GST_CLOCK_TIME_NONE);
    EXPECT_GT(duration, GST_SECOND);
    EXPECT_GT(DecodedFrames(path), 30);
}

// What the repair does with what it finds: an empty clip is moved aside
// (once), a marker without its clip just goes, and a clip still being
// written (its marker held) is left alone.
TEST_F(EventCrashTest, RepairMovesAsideWhatCannotPlayAndLeavesLiveClipsAlone) {
    const std::string empty = Folder + "/2026-12-09_14-03-27.mp4";
    std::ofstream(empty).close();
    std::ofstream(TUnfinishedMarker::PathFor(empty)).close();
    std::ofstream(TUnfinishedMarker::PathFor(Folder + "/2026-12-09_14-05-00.webm")).close();
    const std::string live = Folder + "/2026-12-09_14-06-00.mp4";
    std::ofstream(live) << "being written";
    TUnfinishedMarker writing(live);

    const std::vector<TRepairResult> results = RepairUnfinishedEvents(Folder);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].Kind, TRepairResult::MovedAside);
    EXPECT_EQ(results[0].Text, "Unfinished event 2026-12-09_14-03-27.mp4 held no playable video; "
                               "moved aside as 2026-12-09_14-03-27.mp4.broken");
    EXPECT_TRUE(fs::exists(empty + ".broken"));
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_FALSE(fs::exists(TUnfinishedMarker::PathFor(empty)));
    EXPECT_FALSE(fs::exists(TUnfinishedMarker::PathFor(Folder + "/2026-12-09_14-05-00.webm")));
    EXPECT_TRUE(fs::exists(TUnfinishedMarker::PathFor(live)));
    EXPECT_EQ(ListEventFiles(Folder).size(), 1u); // the live one
    EXPECT_TRUE(RepairUnfinishedEvents(Folder).empty()) << "said once";

    writing.Remove();
    EXPECT_FALSE(fs::exists(TUnfinishedMarker::PathFor(live)));
}
