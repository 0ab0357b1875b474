#include "analysis/BmpWriter.h"
#include "tests/TestGuards.h"
#include "types/Exception.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class BmpWriter : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = fs::temp_directory_path() /
                 ("stirwatch-bmp-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Folder);
        fs::create_directories(Folder);
    }
    void TearDown() override { fs::remove_all(Folder); }

    static std::vector<std::uint8_t> ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<fs::path> FolderEntries() const {
        return {fs::directory_iterator(Folder), fs::directory_iterator()};
    }

    fs::path Folder;
};

std::uint32_t Get32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

TBitmap TwoByTwo() {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(2, 2);
    const std::uint8_t top[] = {1, 2, 3, 4, 5, 6};
    const std::uint8_t bottom[] = {7, 8, 9, 10, 11, 12};
    std::copy(std::begin(top), std::end(top), bitmap.ScanLine(0));
    std::copy(std::begin(bottom), std::end(bottom), bitmap.ScanLine(1));
    return bitmap;
}

} // namespace

TEST_F(BmpWriter, WritesHeadersAndBottomUpPaddedRows) {
    const fs::path path = Folder / "frame.bmp";
    SaveBitmapToFile(TwoByTwo(), path.string());
    const std::vector<std::uint8_t> bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 54u + 2 * 8);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Get32(bytes, 2), 70u);  // file size
    EXPECT_EQ(Get32(bytes, 10), 54u); // pixel offset
    EXPECT_EQ(Get32(bytes, 14), 40u); // information header size
    EXPECT_EQ(Get32(bytes, 18), 2u);  // width
    EXPECT_EQ(Get32(bytes, 22), 2u);  // height, positive: bottom-up
    EXPECT_EQ(bytes[26] | bytes[27] << 8, 1);
    EXPECT_EQ(bytes[28] | bytes[29] << 8, 24);
    EXPECT_EQ(Get32(bytes, 30), 0u); // uncompressed
    const std::vector<std::uint8_t> rows(bytes.begin() + 54, bytes.end());
    EXPECT_EQ(rows, (std::vector<std::uint8_t>{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
}

TEST_F(BmpWriter, GrayPixelsBecomeThreeEqualBytes) {
    TBitmap gray;
    gray.SetPixelFormat(pf8bit);
    gray.SetSize(1, 1);
    gray.ScanLine(0)[0] = 200;
    SaveBitmapToFile(gray, (Folder / "gray.bmp").string());
    const std::vector<std::uint8_t> bytes = ReadFile(Folder / "gray.bmp");
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(bytes[28], 24);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 54, bytes.end()),
              (std::vector<std::uint8_t>{200, 200, 200, 0}));
}

TEST_F(BmpWriter, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    const fs::path path = Folder / "frame.bmp";
    { std::ofstream(path) << std::string(1000, 'x'); }
    SaveBitmapToFile(TwoByTwo(), path.string());
    EXPECT_EQ(fs::file_size(path), 70u);
    EXPECT_EQ(FolderEntries(), std::vector<fs::path>{path});
}

TEST_F(BmpWriter, MissingFolderRaisesCannotCreateFileWithTheFullPath) {
    const fs::path path = Folder / "images" / "0.5.bmp";
    try {
        SaveBitmapToFile(TwoByTwo(), path.string());
        FAIL() << "no error";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(error.Message(),
                  "Cannot create file \"" + path.string() + "\". No such file or directory");
    }
    EXPECT_TRUE(FolderEntries().empty());
}

TEST_F(BmpWriter, RelativePathsAreReportedInFull) {
    const TScopedCurrentFolder inFolder(Folder.string());
    ASSERT_TRUE(inFolder.Changed);
    try {
        SaveBitmapToFile(TwoByTwo(), "./images/0.5.bmp");
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(error.Message(), "Cannot create file \"" + (Folder / "images/0.5.bmp").string() +
                                       "\". No such file or directory");
    }
    fs::create_directory("images");
    SaveBitmapToFile(TwoByTwo(), "./images/0.5.bmp");
    EXPECT_EQ(fs::file_size(Folder / "images" / "0.5.bmp"), 70u);
}

// A write that fails part-way (the file size limit) must leave neither a
// truncated file under the name nor the temporary file.
TEST_F(BmpWriter, FailedWriteLeavesNoFileBehind) {
    const fs::path path = Folder / "big.bmp";
    TBitmap big;
    big.SetPixelFormat(pf24bit);
    big.SetSize(1000, 1000);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 100000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string message;
    try {
        SaveBitmapToFile(big, path.string());
    } catch (const EFCreateError& error) {
        message = error.Message();
    }
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(message, "Cannot create file \"" + path.string() + "\". File too large");
    EXPECT_TRUE(FolderEntries().empty());
}
