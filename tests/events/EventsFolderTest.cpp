#include "events/EventsFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct TempFolder {
    TempFolder() {
        char pattern[] = "/tmp/stirwatch-events-XXXXXX";
        Path = mkdtemp(pattern);
    }
    ~TempFolder() { fs::remove_all(Path); }
    std::string File(const std::string& name, std::size_t size) const {
        const std::string path = (fs::path(Path) / name).string();
        std::ofstream(path) << std::string(size, 'x');
        return path;
    }
    std::string Path;
};

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

} // namespace

TEST(EventsFolder, NamesSortByStartAndOnlyEventNamesCount) {
    EXPECT_EQ(EventBaseName(LocalTime(2026, 12, 9, 14, 3, 27)), "2026-12-09_14-03-27");
    for (const char* name : {"2026-12-09_14-03-27.mp4", "2026-12-09_14-03-27.webm",
                             "2026-12-09_14-03-27_2.mp4", "2026-12-09_14-03-27_12.mp4"}) {
        EXPECT_TRUE(IsEventFileName(name)) << name;
    }
    for (const char* name : {"2026-12-09_14-03-27.avi", "2026-12-09 14-03-27.mp4", "holiday.mp4",
                             "2026-12-09_14-03-27_.mp4", "2026-12-09_14-03-27x.mp4",
                             "movement_2026.csv", "2026-12-09_14-03-27"}) {
        EXPECT_FALSE(IsEventFileName(name)) << name;
    }

    TempFolder folder;
    const std::tm start = LocalTime(2026, 12, 9, 14, 3, 27);
    const std::string first = FreeEventPath(folder.Path, start, ".mp4");
    EXPECT_EQ(fs::path(first).filename(), "2026-12-09_14-03-27.mp4");
    folder.File("2026-12-09_14-03-27.mp4", 1);
    EXPECT_EQ(fs::path(FreeEventPath(folder.Path, start, ".mp4")).filename(),
              "2026-12-09_14-03-27_2.mp4");
}

TEST(EventsFolder, SizeLimitDeletesTheOldestEventFilesFirstAndNothingElse) {
    TempFolder folder;
    const std::string newest = folder.File("2026-12-09_14-03-27.mp4", 300);
    const std::string second = folder.File("2026-12-09_14-03-27_2.mp4", 300); // after newest's name
    const std::string oldest = folder.File("2025-01-01_00-00-00.webm", 300);
    const std::string middle = folder.File("2026-06-01_12-00-00.mp4", 300);
    const std::string other = folder.File("notes.mp4", 5000);

    const auto listed = ListEventFiles(folder.Path);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].Path, oldest);
    EXPECT_EQ(listed[1].Path, middle);
    EXPECT_EQ(listed[2].Path, newest);
    EXPECT_EQ(listed[3].Path, second);

    EXPECT_EQ(EnforceFolderLimit(folder.Path, 1200, 0), 0);
    // 300 bytes must be reserved for the next event: one file goes, the oldest.
    EXPECT_EQ(EnforceFolderLimit(folder.Path, 1200, 300), 1);
    EXPECT_FALSE(fs::exists(oldest));
    EXPECT_TRUE(fs::exists(middle));
    // A file being written is never deleted, even when it is the oldest left.
    EXPECT_EQ(EnforceFolderLimit(folder.Path, 300, 0, middle), 2);
    EXPECT_TRUE(fs::exists(middle));
    EXPECT_FALSE(fs::exists(newest));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(fs::exists(other));
}

TEST(EventsFolder, FreeSpaceFloorAndFolderCreation) {
    EXPECT_EQ(FreeSpaceFloor(100ull << 30), 1ull << 30);
    EXPECT_EQ(FreeSpaceFloor(10ull << 30), 512ull << 20);
    EXPECT_EQ(FreeSpaceFloor(1 << 20), (1u << 20) / 20);

    TempFolder folder;
    const std::string nested = folder.Path + "/Videos/Stirwatch";
    EnsureFolder(nested);
    EXPECT_TRUE(fs::is_directory(nested));
    const TDiskSpace space = DiskSpaceOf(nested);
    EXPECT_TRUE(space.Known);
    EXPECT_GT(space.Total, 0u);
    const std::string file = folder.File("plain", 1);
    EXPECT_THROW(EnsureFolder(file + "/below"), std::runtime_error);
    EXPECT_THROW(EnsureFolder(""), std::runtime_error);
}
