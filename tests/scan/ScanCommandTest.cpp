// `stirwatch scan` run as a user runs it, on clips of a still scene that a
// ball crosses from 5 s to 9 s: the events it finds, its results run after
// run, files that cannot be read among good ones, and the event clips.

#include "settings/TRegIniFile.h"
#include "tests/TestGuards.h"
#include "tests/support/GstTestUtil.h"
#include "tests/support/TestMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/pbutils/pbutils.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

struct TEvent {
    double Start = 0;
    double End = 0;
    int Peak = 0;
};

std::vector<TEvent> ReadEvents(const fs::path& csv) {
    std::istringstream lines(ReadFile(csv));
    std::string line;
    std::getline(lines, line); // header
    std::vector<TEvent> events;
    while (std::getline(lines, line)) {
        TEvent event;
        char comma = 0;
        double duration = 0;
        std::istringstream fields(line);
        fields >> event.Start >> comma >> event.End >> comma >> duration >> comma >> event.Peak;
        events.push_back(event);
    }
    return events;
}

class ScanCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "scan-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
        ConfigHome.emplace("XDG_CONFIG_HOME", (Folder / "config").string());
    }
    void TearDown() override {
        ConfigHome.reset();
        fs::remove_all(Folder);
    }

    // Runs the program with its output and errors in files (not a terminal).
    TRun Scan(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {STIRWATCH_PROGRAM, "scan"});
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const std::string out = (Folder / "stdout.txt").string();
        const std::string err = (Folder / "stderr.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t child = 0;
        TRun run;
        if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            waitpid(child, &status, 0);
            run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        run.Out = ReadFile(out);
        run.Err = ReadFile(err);
        return run;
    }

    std::string Clip(TClipKind kind, const TBallClip& clip = {}) {
        if (!EncoderAvailable(kind)) {
            return {};
        }
        return MakeBallClip(Folder.string(), kind, clip);
    }

    fs::path Folder;
    std::optional<TScopedEnv> ConfigHome;
};

// One step at the default 250 ms: the ball's first and last steps lie within
// it of the truth.
void ExpectTheBallCrossing(const fs::path& eventsCsv) {
    const std::vector<TEvent> events = ReadEvents(eventsCsv);
    ASSERT_EQ(events.size(), 1u) << ReadFile(eventsCsv);
    EXPECT_NEAR(events[0].Start, 5.0, 0.25);
    EXPECT_NEAR(events[0].End, 9.0, 0.25);
    EXPECT_GT(events[0].Peak, 0);
}

TEST_F(ScanCommandTest, FindsTheBallInMjpegH264AndAStreamWithoutDuration) {
    const std::string mjpeg = Clip(TClipKind::MjpegAvi);
    const std::string h264 = Clip(TClipKind::H264Mp4);
    const std::string stream = Clip(TClipKind::MjpegStreamMkv);
    ASSERT_FALSE(mjpeg.empty());
    std::vector<std::string> arguments = {"-o", (Folder / "out").string(), mjpeg};
    for (const std::string& clip : {h264, stream}) {
        if (!clip.empty()) {
            arguments.push_back(clip);
        }
    }
    const TRun run = Scan(arguments);
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::string stem = fs::path(arguments[i]).stem().string();
        SCOPED_TRACE(stem);
        ExpectTheBallCrossing(Folder / "out" / (stem + ".events.csv"));
        EXPECT_NE(run.Out.find(arguments[i] + ": 1 event"), std::string::npos) << run.Out;
        // One log record per step after the first frame: 12 s at 250 ms.
        const std::string log = ReadFile(Folder / "out" / (stem + ".movement.csv"));
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 47);
        // The first step is the frame at 0.3 s (10 frames a second); AVI does not
        // say when it was made, MP4 and Matroska do.
        const bool madeAt = fs::path(arguments[i]).extension() != ".avi";
        EXPECT_EQ(log.substr(0, 24).substr(madeAt ? 20 : 0),
                  std::string("0000-00-00 00:00:00:300,").substr(madeAt ? 20 : 0));
        EXPECT_EQ(log.substr(0, 4) == "0000", !madeAt);
        EXPECT_NE(ReadFile(Folder / "out" / (stem + ".events.json")).find("\"start\": 5."),
                  std::string::npos);
        EXPECT_EQ(ReadFile(Folder / "out" / (stem + ".plot.png")).substr(1, 3), "PNG");
    }
    // Not a terminal: plain progress lines.
    EXPECT_NE(run.Err.find("fps"), std::string::npos);
    EXPECT_EQ(run.Err.find('\033'), std::string::npos);
}

TEST_F(ScanCommandTest, SameFilesAndOptionsGiveTheSameBytes) {
    const std::string mjpeg = Clip(TClipKind::MjpegAvi);
    const std::string h264 = Clip(TClipKind::H264Mp4);
    ASSERT_FALSE(mjpeg.empty());
    std::vector<std::string> files = {mjpeg};
    if (!h264.empty()) {
        files.push_back(h264);
    }
    for (const char* out : {"first", "second"}) {
        std::vector<std::string> arguments = {"--before", "1", "--after", "0.5",
                                              "-j",       "2", "-o",      (Folder / out).string()};
        arguments.insert(arguments.end(), files.begin(), files.end());
        ASSERT_EQ(Scan(arguments).Status, 0);
    }
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(Folder / "first")) {
        const fs::path twin = Folder / "second" / entry.path().filename();
        EXPECT_EQ(ReadFile(entry.path()), ReadFile(twin)) << entry.path();
        ++compared;
    }
    EXPECT_EQ(compared, 4 * int(files.size())); // log, events as CSV and JSON, plot
}

TEST_F(ScanCommandTest, FilesThatCannotBeReadAreNamedAndTheOthersGoOn) {
    const std::string good = Clip(TClipKind::MjpegAvi);
    const std::string h264 = Clip(TClipKind::H264Mp4, {160, 120, 10, 4, 1, 2});
    ASSERT_FALSE(good.empty());
    const fs::path text = Folder / "notes.txt";
    std::ofstream(text) << "not a video\n";
    std::vector<std::string> arguments = {"-o", (Folder / "out").string(),
                                          (Folder / "missing.avi").string(), text.string(), good};
    if (!h264.empty()) {
        // Cut in half, the file lacks the index at its end.
        const std::string damaged = (Folder / "damaged.mp4").string();
        const std::string bytes = ReadFile(h264);
        std::ofstream(damaged, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
        arguments.push_back(damaged);
    }
    const TRun run = Scan(arguments);
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("missing.avi: no such file"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("notes.txt: "), std::string::npos) << run.Err;
    if (!h264.empty()) {
        EXPECT_NE(run.Err.find("damaged.mp4: "), std::string::npos) << run.Err;
    }
    EXPECT_NE(run.Err.find("of " + std::to_string(arguments.size() - 2) + " files failed"),
              std::string::npos)
        << run.Err;
    ExpectTheBallCrossing(Folder / "out" / (fs::path(good).stem().string() + ".events.csv"));
    EXPECT_FALSE(fs::exists(Folder / "out" / "notes.events.csv"));
}

TEST_F(ScanCommandTest, StoredSettingsAreTheDefaultsAndOptionsOverrideThem) {
    const std::string clip = Clip(TClipKind::MjpegAvi, {160, 120, 10, 4, 1, 3});
    ASSERT_FALSE(clip.empty());
    {
        TRegIniFile store("Software\\Quellor");
        store.WriteInteger("Stirwatch\\Video", "MinimalMovement", 100000);
        store.WriteInteger("Stirwatch\\Video", "CaptureFrequency", 500);
        store.UpdateFile();
    }
    const std::string stem = fs::path(clip).stem().string();
    ASSERT_EQ(Scan({"-o", (Folder / "stored").string(), clip}).Status, 0);
    EXPECT_TRUE(ReadEvents(Folder / "stored" / (stem + ".events.csv")).empty());
    const std::string log = ReadFile(Folder / "stored" / (stem + ".movement.csv"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7); // 4 s at 500 ms

    ASSERT_EQ(Scan({"-m", "50", "--every-frame", "-o", (Folder / "given").string(), clip}).Status,
              0);
    EXPECT_EQ(ReadEvents(Folder / "given" / (stem + ".events.csv")).size(), 1u);
    const std::string every = ReadFile(Folder / "given" / (stem + ".movement.csv"));
    EXPECT_EQ(std::count(every.begin(), every.end(), '\n'), 39);

    const TRun help = Scan({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: stirwatch scan [options] FILE..."), std::string::npos);
    EXPECT_NE(help.Out.find("(now 100000)"), std::string::npos);
    const TRun wrong = Scan({"--pixel-tolerance", "300", clip});
    EXPECT_EQ(wrong.Status, 2);
    EXPECT_NE(wrong.Err.find("--pixel-tolerance"), std::string::npos);
}

TEST_F(ScanCommandTest, AMaskOverTheBallsPathHidesItAndTheFlagsAreChecked) {
    const std::string clip = Clip(TClipKind::MjpegAvi, {160, 120, 10, 12, 5, 9});
    ASSERT_FALSE(clip.empty());
    const std::string stem = fs::path(clip).stem().string();
    const fs::path everything = Folder / "everything.mask";
    std::ofstream(everything) << "# the whole picture\nignore\n0,0 1,0 1,1 0,1\n";
    ASSERT_EQ(
        Scan({"--mask", everything.string(), "-o", (Folder / "masked").string(), clip}).Status, 0);
    EXPECT_TRUE(ReadEvents(Folder / "masked" / (stem + ".events.csv")).empty());
    // Watching the whole picture, with the speckle filter, finds the ball.
    std::ofstream(Folder / "watch.mask") << "watch\n0,0 1,0 1,1 0,1\n";
    ASSERT_EQ(Scan({"-m", "50", "--mask", (Folder / "watch.mask").string(), "--speckle", "3", "-o",
                    (Folder / "watched").string(), clip})
                  .Status,
              0);
    ExpectTheBallCrossing(Folder / "watched" / (stem + ".events.csv"));

    std::ofstream(Folder / "bad.mask") << "ignore\n0,0 1,1\n";
    const TRun bad = Scan({"--mask", (Folder / "bad.mask").string(), clip});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Err.find("line 2"), std::string::npos) << bad.Err;
    EXPECT_EQ(Scan({"--speckle", "9", clip}).Status, 2);
    EXPECT_EQ(Scan({"--light-guard", "101", clip}).Status, 2);
}

// The events list with --clips: the event's columns, then the clip's.
struct TClipRow {
    double Start = 0;
    double End = 0;
    std::string File;
    double ClipStart = 0;
    double ClipEnd = 0;
    std::string Mode;
};

std::vector<TClipRow> ReadClipRows(const fs::path& csv) {
    std::istringstream lines(ReadFile(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "start,end,duration,peak_percent,start_time,end_time,clip,clip_start,clip_end,"
                    "clip_mode");
    std::vector<TClipRow> rows;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) {
            fields.push_back(cell);
        }
        if (fields.size() != 10) {
            ADD_FAILURE() << line;
            continue;
        }
        rows.push_back({std::stod(fields[0]), std::stod(fields[1]), fields[6],
                        fields[7].empty() ? -1 : std::stod(fields[7]),
                        fields[8].empty() ? -1 : std::stod(fields[8]), fields[9]});
    }
    return rows;
}

// The length of a file as GStreamer's discoverer finds it, in seconds; -1
// when it cannot open the file.
double DiscoveredSeconds(const fs::path& path) {
    EnsureGStreamer();
    GError* error = nullptr;
    GstDiscoverer* discoverer = gst_discoverer_new(30 * GST_SECOND, &error);
    g_clear_error(&error);
    if (discoverer == nullptr) {
        return -1;
    }
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    GstDiscovererInfo* info = gst_discoverer_discover_uri(discoverer, uri, &error);
    g_clear_error(&error);
    g_free(uri);
    double seconds = -1;
    if (info != nullptr && gst_discoverer_info_get_result(info) == GST_DISCOVERER_OK) {
        seconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
    }
    if (info != nullptr) {
        gst_discoverer_info_unref(info);
    }
    gst_object_unref(discoverer);
    return seconds;
}

// The video packets of a file, without decoding: their times and which are key frames.
struct TPackets {
    std::vector<double> Times;
    std::vector<double> KeyTimes;
    bool FirstIsKey = false;
};

TPackets ReadPackets(const fs::path& path) {
    gchar* quoted = g_strescape(path.c_str(), nullptr);
    const std::string location = quoted;
    g_free(quoted);
    TGstPtr<GstElement> pipeline = LaunchPipeline("filesrc location=\"" + location +
                                                  "\" ! parsebin ! appsink name=sink sync=false");
    std::unique_ptr<GstElement, TGstObjectUnref> sink(
        gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    TPackets packets;
    while (GstSample* sample =
               gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 10 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        const double time = double(GST_BUFFER_PTS(buffer)) / GST_SECOND;
        const bool key = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        packets.FirstIsKey = packets.Times.empty() ? key : packets.FirstIsKey;
        packets.Times.push_back(time);
        if (key) {
            packets.KeyTimes.push_back(time);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return packets;
}

// The clip opens, and its length covers the event from where the clip starts.
void ExpectClipCovers(const fs::path& clip, const TClipRow& row, double frame) {
    SCOPED_TRACE(clip.string());
    EXPECT_LE(row.ClipStart, row.Start + 1e-3);
    EXPECT_GE(row.ClipEnd, row.End - 1e-3);
    const double length = DiscoveredSeconds(clip);
    EXPECT_NEAR(length, row.ClipEnd - row.ClipStart, frame + 1e-3);
    EXPECT_GE(length + frame + 1e-3, row.End - row.ClipStart);
}

TEST_F(ScanCommandTest, AnH264ClipIsCopiedFromTheKeyFrameBeforeTheEventAndSaysHowEarly) {
    // A key frame every 15 frames (1.5 s at 10 frames a second).
    const std::string h264 = Clip(TClipKind::H264Mp4);
    if (h264.empty()) {
        GTEST_SKIP() << "no H.264 encoder";
    }
    const fs::path out = Folder / "out";
    fs::create_directories(out);
    const std::string stem = fs::path(h264).stem().string();
    // A file of the user's under the clip's name is left alone.
    std::ofstream(out / (stem + "-event-001.mp4")) << "mine\n";
    const TRun run = Scan({"--clips", "--before", "1", "--after", "1", "-o", out.string(), h264});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(ReadFile(out / (stem + "-event-001.mp4")), "mine\n");

    const std::vector<TClipRow> rows = ReadClipRows(out / (stem + ".events.csv"));
    ASSERT_EQ(rows.size(), 1u);
    const TClipRow& row = rows[0];
    EXPECT_EQ(row.File, stem + "-event-001_2.mp4");
    EXPECT_EQ(row.Mode, "copied");
    // The clip starts at the recording's last key frame at or before the
    // event's start.
    const TPackets source = ReadPackets(h264);
    ASSERT_GE(source.KeyTimes.size(), 2u);
    double keyBefore = -1;
    for (const double key : source.KeyTimes) {
        if (key <= row.Start + 1e-6) {
            keyBefore = key;
        }
    }
    EXPECT_NEAR(row.ClipStart, keyBefore, 1e-3);
    EXPECT_GT(row.Start - row.ClipStart, 0.0) << "the test's key frames fall between steps";
    char early[64];
    std::snprintf(early, sizeof early, "starts %.3f s early, at a key frame",
                  row.Start - row.ClipStart);
    EXPECT_NE(run.Out.find(row.File + ": "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(early), std::string::npos) << run.Out;
    EXPECT_NE(ReadFile(out / (stem + ".events.json")).find("\"mode\": \"copied\""),
              std::string::npos);

    const fs::path clip = out / row.File;
    ExpectClipCovers(clip, row, 0.1);
    const TPackets copied = ReadPackets(clip);
    EXPECT_TRUE(copied.FirstIsKey);
    EXPECT_EQ(copied.Times.size(), std::size_t(std::lround((row.ClipEnd - row.ClipStart) * 10)));
}

TEST_F(ScanCommandTest, RawVideoIsReencodedAndMjpegCopiedFrameExactly) {
    const std::string raw = Clip(TClipKind::RawBgrAvi);
    const std::string mjpeg = Clip(TClipKind::MjpegAvi);
    ASSERT_FALSE(raw.empty());
    ASSERT_FALSE(mjpeg.empty());
    const fs::path out = Folder / "out";
    const TRun run =
        Scan({"--clips", "--before", "0.5", "--after", "0.5", "-o", out.string(), raw, mjpeg});
    ASSERT_EQ(run.Status, 0) << run.Err;

    const std::vector<TClipRow> raws =
        ReadClipRows(out / (fs::path(raw).stem().string() + ".events.csv"));
    ASSERT_EQ(raws.size(), 1u);
    EXPECT_EQ(raws[0].Mode, "re-encoded");
    EXPECT_NE(run.Out.find(raws[0].File + ": "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("re-encoded (raw video"), std::string::npos) << run.Out;
    // Encoded from the last frame at or before the event's start.
    EXPECT_GT(raws[0].ClipStart, raws[0].Start - 0.1);
    ExpectClipCovers(out / raws[0].File, raws[0], 0.1);

    // Every JPEG is a key frame: the copy starts at the event's own frame.
    const std::vector<TClipRow> jpegs =
        ReadClipRows(out / (fs::path(mjpeg).stem().string() + ".events.csv"));
    ASSERT_EQ(jpegs.size(), 1u);
    EXPECT_EQ(jpegs[0].Mode, "copied");
    EXPECT_EQ(fs::path(jpegs[0].File).extension(), ".avi");
    EXPECT_NEAR(jpegs[0].ClipStart, jpegs[0].Start, 1e-3);
    ExpectClipCovers(out / jpegs[0].File, jpegs[0], 0.1);
}

} // namespace
