#include "settings/TRegIniFile.h"
#include "types/Exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return "<unreadable>";
    }
    return file.readAll().toStdString();
}

void WriteFile(const std::string& path, const std::string& text) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
}

// Makes a folder read-only: by its permissions, or for root, who is not bound
// by them, by the file system's immutable flag where the file system has one.
class TReadOnlyFolder {
public:
    explicit TReadOnlyFolder(const std::string& folder) : Folder(folder) {
        chmod(Folder.c_str(), 0555);
        if (access(Folder.c_str(), W_OK) != 0) {
            Mode = 1;
        } else if (SetImmutable(true)) {
            Mode = 2;
        }
    }
    ~TReadOnlyFolder() {
        if (Mode == 2) {
            SetImmutable(false);
        }
        chmod(Folder.c_str(), 0755);
    }
    bool Active() const { return Mode != 0; }

private:
    std::string Folder;
    int Mode = 0;

    bool SetImmutable(bool on) {
        const int fd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        close(fd);
        return done;
    }
};

class SettingsStore : public ::testing::Test {
protected:
    QTemporaryDir ConfigHome;
    TRegIniFile Store{"Software\\Quellor"};

    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid());
        qputenv("XDG_CONFIG_HOME", ConfigHome.path().toUtf8());
    }
    std::string FilePath() const { return Store.FileName(); }
    void StoreText(const std::string& text) { WriteFile(FilePath(), text); }
    std::string Section(const std::string& values) {
        return "[Software\\Quellor\\Stirwatch]\n" + values;
    }
};

TEST_F(SettingsStore, FileLivesInTheConfigFolder) {
    EXPECT_EQ(FilePath(), ConfigHome.path().toStdString() + "/Quellor/Stirwatch.conf");
}

TEST_F(SettingsStore, EmptyStoreGivesDefaultsAndCreatesNothing) {
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250);
    EXPECT_TRUE(Store.ReadBool("Stirwatch", "ShowGraph", true));
    EXPECT_EQ(Store.ReadString("Stirwatch", "LogFolder", "/docs"), "/docs");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(FilePath())));
}

TEST_F(SettingsStore, FirstSaveCreatesTheSectionsWithTheirPlainPaths) {
    Store.WriteBool("Stirwatch", "BeepOnMove", false);
    Store.WriteString("Stirwatch", "LogFolder", "/home/me/logs, old");
    Store.WriteInteger("Stirwatch\\Video", "Top", -12);
    Store.WriteInteger("Stirwatch", "RunningWindowSize", 250);
    Store.WriteBool("Stirwatch\\Video", "Maximized", true);
    EXPECT_EQ(ReadFile(FilePath()), "[Software\\Quellor\\Stirwatch]\n"
                                    "BeepOnMove=0\n"
                                    "LogFolder=/home/me/logs, old\n"
                                    "RunningWindowSize=250\n"
                                    "\n"
                                    "[Software\\Quellor\\Stirwatch\\Video]\n"
                                    "Top=-12\n"
                                    "Maximized=1\n");

    TRegIniFile again("Software\\Quellor");
    EXPECT_EQ(again.ReadInteger("Stirwatch\\Video", "Top", 0), -12);
    EXPECT_TRUE(again.ReadBool("Stirwatch\\Video", "Maximized", false));
    EXPECT_EQ(again.ReadString("Stirwatch", "LogFolder", ""), "/home/me/logs, old");
}

TEST_F(SettingsStore, WriteWaitsForAnotherCopyAndKeepsItsChange) {
    Store.WriteInteger("Stirwatch", "Mine", 1);
    const int lock = open((FilePath() + ".lock").c_str(), O_RDWR);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    // The other copy reads, takes its time, then writes what it read plus its change.
    std::thread otherCopy([this, lock, seen = ReadFile(FilePath())] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        StoreText(seen + "Theirs=2\n");
        close(lock);
    });
    Store.WriteInteger("Stirwatch", "Mine", 3);
    otherCopy.join();
    EXPECT_EQ(ReadFile(FilePath()), Section("Mine=3\nTheirs=2\n"));
}

TEST_F(SettingsStore, StoredTextsReadInTheirTextForms) {
    StoreText(Section("A=007\nB=  +12\nC=$FA\nD=0xFA\nE=12 \nF=1.5\nG=2147483647\nH=2147483648\n"
                      "Two=2\nMinusOne=-1\nWord=yes\n"));
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "A", -1), 7);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "B", -1), 12);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "C", -1), 250);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "D", -1), 250);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "E", -1), -1);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "F", -1), -1);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "G", -1), 2147483647);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "H", -1), -1);
    EXPECT_TRUE(Store.ReadBool("Stirwatch", "Two", false));
    EXPECT_TRUE(Store.ReadBool("Stirwatch", "MinusOne", false));
    EXPECT_FALSE(Store.ReadBool("Stirwatch", "Word", false));
    EXPECT_TRUE(Store.ReadBool("Stirwatch", "Word", true));
}

TEST_F(SettingsStore, EmptyValueIsNotAnAbsentOne) {
    StoreText(Section("LogFolder=\n"));
    EXPECT_EQ(Store.ReadString("Stirwatch", "LogFolder", "/docs"), "");
    EXPECT_EQ(Store.ReadString("Stirwatch\\Video", "LogFolder", "/docs"), "/docs");
}

TEST_F(SettingsStore, ValueThatIsNotTextFailsTheRead) {
    StoreText(Section("Typed=@Variant(\\0\\0\\0\\x7f)\nBytes=@ByteArray(12)\nAt=@home\n"));
    EXPECT_THROW(
        {
            try {
                Store.ReadInteger("Stirwatch", "Typed", 0);
            } catch (const ERegistryException& e) {
                EXPECT_STREQ(e.what(), "Invalid data type for 'Typed'");
                throw;
            }
        },
        ERegistryException);
    EXPECT_THROW(Store.ReadString("Stirwatch", "Bytes", ""), ERegistryException);
    EXPECT_EQ(Store.ReadString("Stirwatch", "At", ""), "@home");
}

TEST_F(SettingsStore, SaveChangesOnlyItsValueAndKeepsDamagedLines) {
    const std::string damaged = "\xff\xfe garbage\n[Software\\Quellor\\Stirwatch\nTo";
    StoreText(Section("Old=1\r\nBroken line\r\n") + damaged);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "Old", 0), 1);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "To", 5), 5);
    Store.WriteInteger("Stirwatch", "Old", 2);
    EXPECT_EQ(ReadFile(FilePath()), Section("Old=2\nBroken line\r\n") + damaged + "\n");
}

TEST_F(SettingsStore, UnreadableFileGivesDefaultsAndIsNeverReplaced) {
    QDir().mkpath(QString::fromStdString(FilePath())); // a folder where the file should be
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250);
    try {
        Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
        FAIL() << "the write should fail";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to set data for 'RunningWindowSize'");
    }
    EXPECT_TRUE(QFileInfo(QString::fromStdString(FilePath())).isDir());
}

TEST_F(SettingsStore, StoreThatCannotBeCreatedFailsTheFirstWrite) {
    WriteFile(ConfigHome.path().toStdString() + "/Quellor", "a file, not a folder");
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "X", 3), 3);
    try {
        Store.WriteInteger("Stirwatch\\Video", "Top", 1);
        FAIL() << "the write should fail";
    } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to create key Stirwatch\\Video");
    }
}

TEST_F(SettingsStore, ReadOnlyStoreFailsTheSaveAndKeepsTheFile) {
    const std::string original = Section("Kept=1\n");
    StoreText(original);
    const std::string folder =
        QFileInfo(QString::fromStdString(FilePath())).absolutePath().toStdString();
    TReadOnlyFolder readOnly(folder);
    if (!readOnly.Active()) {
        GTEST_SKIP() << "this file system cannot make the folder read-only for this user";
    }
    EXPECT_THROW(Store.WriteInteger("Stirwatch", "Kept", 2), ERegistryException);
    EXPECT_THROW(Store.WriteInteger("Stirwatch\\Video", "Top", 2), ERegistryException);
    EXPECT_EQ(ReadFile(FilePath()), original);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "Kept", 0), 1);
}

TEST_F(SettingsStore, DocumentsFolderFromTheUserDirectoriesOrEmpty) {
    const QString documents = ConfigHome.path() + "/MyDocs";
    WriteFile(ConfigHome.path().toStdString() + "/user-dirs.dirs",
              "XDG_DOCUMENTS_DIR=\"" + documents.toStdString() + "\"\n");
    EXPECT_EQ(ReadDocumentsFolder(), "");
    QDir().mkpath(documents);
    EXPECT_EQ(ReadDocumentsFolder(), documents.toStdString());
}

} // namespace
