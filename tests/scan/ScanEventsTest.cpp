// The pieces of a scan that need no video: which frames a step takes, the
// events from the steps, the text of the results, and the command line.

#include "scan/ScanEvents.h"
#include "scan/ScanOptions.h"
#include "scan/ScanOutputs.h"
#include "scan/StepClock.h"
#include "tests/TestGuards.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

constexpr std::int64_t Ms = 1000000;

std::vector<TStepRecord> Steps(std::initializer_list<std::pair<int, int>> msAndPercent) {
    std::vector<TStepRecord> steps;
    for (const auto& [ms, percent] : msAndPercent) {
        steps.push_back({ms * Ms, percent * 100, percent, percent > 0});
    }
    return steps;
}

} // namespace

TEST(StepClock, TakesTheFirstFrameAtOrAfterEachMultipleOfTheStep) {
    TStepClock clock(250 * Ms);
    std::vector<std::int64_t> taken;
    for (int frame = 0; frame < 30; ++frame) {
        const std::int64_t time = frame * 1000 * Ms / 30; // 30 frames a second
        if (clock.Take(time)) {
            taken.push_back(time / Ms);
        }
    }
    EXPECT_EQ(taken, (std::vector<std::int64_t>{0, 266, 500, 766}));

    // A gap in the video skips the multiples it spans; every frame with step 0.
    TStepClock gap(250 * Ms);
    EXPECT_TRUE(gap.Take(0));
    EXPECT_TRUE(gap.Take(2000 * Ms));
    EXPECT_FALSE(gap.Take(2100 * Ms));
    EXPECT_TRUE(gap.Take(2250 * Ms));
    TStepClock every(0);
    EXPECT_TRUE(every.Take(5));
    EXPECT_TRUE(every.Take(5));
}

TEST(ScanEvents, RunsOfMovementWidenedAndMerged) {
    const auto steps = Steps(
        {{250, 0}, {500, 3}, {750, 5}, {1000, 0}, {1250, 0}, {1500, 2}, {1750, 0}, {5000, 9}});
    auto events = FindEvents(steps, {}, 6000 * Ms);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].StartNs, 500 * Ms);
    EXPECT_EQ(events[0].EndNs, 750 * Ms);
    EXPECT_EQ(events[0].PeakPercent, 5);
    EXPECT_EQ(events[1].StartNs, events[1].EndNs); // a single step

    // Widened by 0.4 s on each side, the first two touch (0.75 + 0.4 >= 1.5 -
    // 0.4) and join; the last is cut at the video's end, the first at 0.
    events = FindEvents(steps, {600 * Ms, 400 * Ms, 0}, 5200 * Ms);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].StartNs, 0);
    EXPECT_EQ(events[0].EndNs, 1900 * Ms);
    EXPECT_EQ(events[0].PeakPercent, 5);
    EXPECT_EQ(events[1].StartNs, 4400 * Ms);
    EXPECT_EQ(events[1].EndNs, 5200 * Ms);

    // The merge gap joins events at most that far apart, and no farther.
    EXPECT_EQ(FindEvents(steps, {0, 0, 750 * Ms}, 0).size(), 2u);
    EXPECT_EQ(FindEvents(steps, {0, 0, 749 * Ms}, 0).size(), 3u);
    EXPECT_TRUE(FindEvents(Steps({{250, 0}, {500, 0}}), {}, 0).empty());
}

TEST(ScanEvents, CsvAndJsonText) {
    const std::vector<TScanEvent> events = {{5250 * Ms, 9000 * Ms, 7},
                                            {3723004 * Ms, 3723504 * Ms, 100}};
    EXPECT_EQ(EventsCsv(events), "start,end,duration,peak_percent,start_time,end_time\n"
                                 "5.250,9.000,3.750,7,00:00:05.250,00:00:09.000\n"
                                 "3723.004,3723.504,0.500,100,01:02:03.004,01:02:03.504\n");
    const TEventsHeader header{"a \"b\"\\c.mp4", 20, 400, 250 * Ms, 12000 * Ms};
    EXPECT_EQ(EventsJson(header, {events[0]}),
              "{\n  \"file\": \"a \\\"b\\\"\\\\c.mp4\",\n  \"pixel_tolerance\": 20,\n"
              "  \"minimal_movement\": 400,\n  \"step\": 0.250,\n  \"video_end\": 12.000,\n"
              "  \"events\": [\n    {\"start\": 5.250, \"end\": 9.000, \"duration\": 3.750, "
              "\"peak_percent\": 7}\n  ]\n}\n");
    const std::string empty = EventsJson(header, {});
    EXPECT_EQ(empty.substr(empty.size() - 15), "\"events\": []\n}\n");
}

TEST(ScanEvents, ClipColumnsForCopiedReencodedAndFailedClips) {
    const std::vector<TScanEvent> events = {{4000 * Ms, 10000 * Ms, 2},
                                            {20000 * Ms, 21000 * Ms, 5}};
    const std::vector<TEventClip> clips = {
        {"out/a,b-event-001.mp4", 3000 * Ms, 10100 * Ms, true, ""},
        {"", 0, 0, false, "disk \"full\""}};
    EXPECT_EQ(EventsCsv(events, clips),
              "start,end,duration,peak_percent,start_time,end_time,clip,clip_start,clip_end,"
              "clip_mode\n"
              "4.000,10.000,6.000,2,00:00:04.000,00:00:10.000,\"a,b-event-001.mp4\",3.000,10.100,"
              "copied\n"
              "20.000,21.000,1.000,5,00:00:20.000,00:00:21.000,,,,failed\n");
    const std::string json = EventsJson({"a.mp4", 20, 400, 250 * Ms, 30000 * Ms}, events, clips);
    EXPECT_NE(json.find("\"clip\": {\"mode\": \"copied\", \"file\": \"a,b-event-001.mp4\", "
                        "\"start\": 3.000, \"end\": 10.100, \"early\": 1.000}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"clip\": {\"mode\": \"failed\", \"error\": \"disk \\\"full\\\"\"}"),
              std::string::npos)
        << json;
}

TEST(ScanOutputs, LogStampedWithVideoTimeOrWallClock) {
    const std::vector<TStepRecord> steps = {{5250 * Ms, 1234, 3, true},
                                            {(86400000LL + 3723004) * Ms, 0, 0, false}};
    EXPECT_EQ(MovementLogText(steps, std::nullopt),
              "0000-00-00 00:00:05:250, 1234, 3\r\n0000-00-01 01:02:03:004, 0, 0\r\n");

    {
        const TScopedEnv zone("TZ", "UTC");
        tzset();
        // Made 2024-02-29 23:59:58 UTC: the step's wall-clock time is in March.
        EXPECT_EQ(MovementLogText({steps[0]}, 1709251198), "2024-03-01 00:00:03:250, 1234, 3\r\n");
    }
    tzset();
}

TEST(ScanOptions, OptionsOverrideTheStoredDefaults) {
    const TScanSettings stored{30, 1000, 500 * Ms};
    TScanOptions options = ParseScanOptions({"a.mp4"}, stored);
    EXPECT_EQ(options.Settings.PixelTolerance, 30);
    EXPECT_EQ(options.Settings.MinimalMovement, 1000);
    EXPECT_EQ(options.Settings.StepNs, 500 * Ms);

    options = ParseScanOptions({"-t", "5", "--minimal-movement=-1", "--step", "100", "--before",
                                "1.5", "--after=2", "--merge", "0.25", "-o", "out", "-j", "3",
                                "--no-plot", "a.mp4", "--", "-b.mp4"},
                               stored);
    EXPECT_EQ(options.Settings.PixelTolerance, 5);
    EXPECT_EQ(options.Settings.MinimalMovement, -1);
    EXPECT_EQ(options.Settings.StepNs, 100 * Ms);
    EXPECT_EQ(options.Events.BeforeNs, 1500 * Ms);
    EXPECT_EQ(options.Events.AfterNs, 2000 * Ms);
    EXPECT_EQ(options.Events.MergeNs, 250 * Ms);
    EXPECT_EQ(options.OutputFolder, "out");
    EXPECT_EQ(options.Jobs, 3);
    EXPECT_FALSE(options.Plot);
    EXPECT_EQ(options.Files, (std::vector<std::string>{"a.mp4", "-b.mp4"}));
    EXPECT_EQ(ParseScanOptions({"--every-frame", "a"}, stored).Settings.StepNs, 0);
    EXPECT_TRUE(ParseScanOptions({"--help"}, stored).Help);

    for (const std::vector<std::string>& wrong :
         std::vector<std::vector<std::string>>{{},
                                               {"-t", "256", "a"},
                                               {"-t", "2x", "a"},
                                               {"--before", "-1", "a"},
                                               {"--after", "nan", "a"},
                                               {"--jobs", "0", "a"},
                                               {"--bogus", "a"},
                                               {"--no-plot=1", "a"},
                                               {"a", "--step"}}) {
        EXPECT_THROW(ParseScanOptions(wrong, stored), EUsageError) << wrong.size();
    }
}
