#include "log/LoggingUnit.h"
#include "tests/TestGuards.h"
#include "types/Exception.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::regex RecordPattern(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3}, -?\d+, -?\d+\r\n)");

class MovementLogFile : public ::testing::Test {
protected:
    fs::path Folder;
    MovementLog Log;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "movementlog-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        Folder = pattern;
    }
    void TearDown() override { fs::remove_all(Folder); }
    std::size_t FilesInFolder() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(Folder), {}));
    }
};

TEST(LogText, FileNameAndRecordForms) {
    const TLogTime time{2010, 3, 7, 14, 5, 9, 42};
    EXPECT_EQ(LogFileName("/data/logs", time), "/data/logs/movement_2010-03-07_14-05-09-042.csv");
    EXPECT_EQ(LogFileName("/data/logs/", time), "/data/logs/movement_2010-03-07_14-05-09-042.csv");
    EXPECT_EQ(LogFileName("", time), "/movement_2010-03-07_14-05-09-042.csv");
    EXPECT_EQ(LogRecord(time, 1532, 2), "2010-03-07 14:05:09:042, 1532, 2\r\n");
    EXPECT_EQ(LogRecord(TLogTime{999, 12, 31, 0, 0, 0, 0}, 0, 0),
              "0999-12-31 00:00:00:000, 0, 0\r\n");
    EXPECT_EQ(LogRecord(time, -2147483647 - 1, -5), "2010-03-07 14:05:09:042, -2147483648, -5\r\n");
}

TEST_F(MovementLogFile, SessionNamesTheFileAndWritesNothingByItself) {
    EXPECT_EQ(Log.FileName(), "");
    Log.LogMovement(1, 1); // never started: nothing
    Log.StartSession(Folder.string());
    EXPECT_EQ(Log.Folder(), Folder.string());
    const std::string name = fs::path(Log.FileName()).filename().string();
    EXPECT_TRUE(std::regex_match(
        name, std::regex(R"(movement_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}-\d{3}\.csv)")))
        << name;
    EXPECT_EQ(fs::path(Log.FileName()).parent_path(), Folder);
    Log.StopSession();
    EXPECT_EQ(Log.FileName(), "");
    EXPECT_EQ(Log.Folder(), Folder.string());
    Log.LogMovement(1, 1); // stopped: nothing
    EXPECT_EQ(FilesInFolder(), 0u);
}

// No documents folder and none chosen (an empty folder), or the root itself:
// the log goes to the home folder, never to the root of the file system.
TEST_F(MovementLogFile, AnEmptyFolderOrTheRootMeansTheHomeFolder) {
    const TScopedEnv home("HOME", Folder.string());
    for (const std::string folder : {"", "/", "//"}) {
        Log.StartSession(folder);
        EXPECT_EQ(Log.Folder(), folder);
        EXPECT_EQ(fs::path(Log.FileName()).parent_path(), Folder) << "'" << folder << "'";
        Log.LogMovement(3, 1);
    }
    EXPECT_EQ(LogFolderFor("/data/logs"), "/data/logs");
    EXPECT_GE(FilesInFolder(), 1u);

    // Without a home folder other than the root, the records fail and say why.
    const TScopedEnv rootHome("HOME", "/");
    Log.StartSession("");
    EXPECT_THROW(
        try { Log.LogMovement(3, 1); } catch (const EFCreateError& error) {
            EXPECT_NE(std::string(error.what()).find("no log folder is set"), std::string::npos);
            throw;
        },
        EFCreateError);
    EXPECT_FALSE(fs::exists(Log.FileName()));
}

TEST_F(MovementLogFile, RecordsAreAppendedInCallOrderWithoutHeader) {
    Log.StartSession(Folder.string());
    const std::string path = Log.FileName();
    { std::ofstream(path, std::ios::binary) << "earlier\r\n"; }
    Log.LogMovement(1532, 2);
    Log.LogMovement(0, 0);
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.rfind("earlier\r\n", 0), 0u);
    const std::string first = text.substr(9, text.find('\n', 9) - 8);
    EXPECT_TRUE(std::regex_match(first, RecordPattern)) << first;
    EXPECT_NE(first.find(", 1532, 2\r\n"), std::string::npos);
    const std::string second = text.substr(9 + first.size());
    EXPECT_TRUE(std::regex_match(second, RecordPattern)) << second;
    EXPECT_EQ(second.substr(second.size() - 8), ", 0, 0\r\n");
}

TEST_F(MovementLogFile, MissingFolderFailsAndTheSessionStays) {
    Log.StartSession((Folder / "absent").string());
    try {
        Log.LogMovement(5, 1);
        FAIL() << "the call should fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + Log.FileName() + "\". No such file or directory");
    }
    EXPECT_FALSE(fs::exists(Folder / "absent")); // the folder is never created
    fs::create_directory(Folder / "absent");
    Log.LogMovement(5, 1);
    EXPECT_TRUE(fs::exists(Log.FileName()));
}

// A relative log folder is taken from the current folder; the error names
// the file with its full path.
TEST_F(MovementLogFile, ErrorNamesTheFullPathOfARelativeFolder) {
    const TScopedCurrentFolder inFolder(Folder.string());
    ASSERT_TRUE(inFolder.Changed);
    Log.StartSession("absent");
    const std::string name = fs::path(Log.FileName()).filename().string();
    EXPECT_EQ(Log.FileName(), "absent/" + name) << "the session keeps the folder as given";
    try {
        Log.LogMovement(5, 1);
        FAIL() << "the call should fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file \"" +
                                             (Folder / "absent" / name).string() +
                                             "\". No such file or directory");
    }
}

TEST_F(MovementLogFile, AConcurrentHolderOfTheFileMakesTheCallFail) {
    Log.StartSession(Folder.string());
    Log.LogMovement(1, 1);
    const int holder = open(Log.FileName().c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_THROW(Log.LogMovement(2, 2), EFCreateError);
    close(holder);
    Log.LogMovement(3, 3);
    const std::string text = ReadFile(Log.FileName());
    EXPECT_EQ(text.find(", 2, 2"), std::string::npos);
    EXPECT_NE(text.find(", 3, 3"), std::string::npos);
}

TEST_F(MovementLogFile, AShortWriteLeavesNoTornRecordAndIsRaised) {
    Log.StartSession(Folder.string());
    Log.LogMovement(10, 1);
    const std::string before = ReadFile(Log.FileName());
    int calls = 0;
    Log.SetWriteFunction([&calls](int fd, const void* data, std::size_t size) -> ssize_t {
        if (++calls == 1) {
            return write(fd, data, size < 7 ? size : 7); // part of the record goes in
        }
        errno = ENOSPC;
        return -1;
    });
    try {
        Log.LogMovement(20, 2);
        FAIL() << "the call should fail";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write file \"" + Log.FileName() + "\". No space left on device");
    }
    EXPECT_EQ(ReadFile(Log.FileName()), before);

    Log.SetWriteFunction([](int, const void*, std::size_t) -> ssize_t { return 0; });
    EXPECT_THROW(Log.LogMovement(30, 3), EFCreateError);
    EXPECT_EQ(ReadFile(Log.FileName()), before);

    Log.SetWriteFunction(nullptr); // the real write again
    Log.LogMovement(40, 4);
    EXPECT_NE(ReadFile(Log.FileName()).find(", 40, 4\r\n"), std::string::npos);
}

TEST_F(MovementLogFile, AFailedFirstRecordLeavesNoFileBehind) {
    Log.StartSession(Folder.string());
    Log.SetWriteFunction([](int, const void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    });
    EXPECT_THROW(Log.LogMovement(1, 1), EFCreateError);
    EXPECT_EQ(FilesInFolder(), 0u);
}

TEST_F(MovementLogFile, AFullDeviceIsReportedNotIgnored) {
    Log.StartSession(Folder.string());
    std::error_code error;
    fs::create_symlink("/dev/full", Log.FileName(), error);
    if (error || !fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    EXPECT_THROW(Log.LogMovement(1, 1), EFCreateError);
}

} // namespace
