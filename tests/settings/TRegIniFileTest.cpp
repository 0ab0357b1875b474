#include "settings/TRegIniFile.h"
#include "tests/SmallVolume.h"
#include "tests/TestGuards.h"
#include "types/Exception.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <optional>
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
    std::optional<TScopedEnv> ConfigHomeEnv;
    TRegIniFile Store{"Software\\Quellor"};

    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid());
        ConfigHomeEnv.emplace("XDG_CONFIG_HOME", ConfigHome.path().toStdString());
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
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(FilePath())))
        << "the values of one save go to the file together";
    Store.UpdateFile();
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

TEST_F(SettingsStore, ASaveThatChangesNothingLeavesTheFileAlone) {
    StoreText(Section("Top=5\nMaximized=0\n"));
    struct stat before {};
    ASSERT_EQ(stat(FilePath().c_str(), &before), 0);
    Store.WriteInteger("Stirwatch", "Top", 5);
    Store.WriteBool("Stirwatch", "Maximized", false);
    Store.UpdateFile();
    struct stat after {};
    ASSERT_EQ(stat(FilePath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";

    Store.WriteInteger("Stirwatch", "Top", 6);
    Store.UpdateFile();
    EXPECT_EQ(ReadFile(FilePath()), Section("Top=6\nMaximized=0\n"));
}

TEST_F(SettingsStore, AStoreKeptForItsOwnerLosesAndNeverRegainsOthersAccess) {
    const auto mode = [this] {
        struct stat status {};
        EXPECT_EQ(stat(FilePath().c_str(), &status), 0);
        return status.st_mode & 0777;
    };
    StoreText(Section("MqttPassword=secret\n"));
    chmod(FilePath().c_str(), 0644);
    Store.KeepOwnerOnly();
    Store.WriteString("Stirwatch", "MqttPassword", "secret"); // unchanged, yet made private
    Store.UpdateFile();
    EXPECT_EQ(mode(), 0600u);

    TRegIniFile later("Software\\Quellor"); // a window's save without the option
    later.WriteInteger("Stirwatch", "Top", 1);
    later.UpdateFile();
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(ReadFile(FilePath()), Section("MqttPassword=secret\nTop=1\n"));
}

TEST_F(SettingsStore, WriteWaitsForAnotherCopyAndKeepsItsChange) {
    Store.WriteInteger("Stirwatch", "Mine", 1);
    Store.UpdateFile();
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
    Store.UpdateFile();
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
    Store.UpdateFile();
    EXPECT_EQ(ReadFile(FilePath()), Section("Old=2\nBroken line\r\n") + damaged + "\n");
}

TEST_F(SettingsStore, UnreadableFileGivesDefaultsAndIsNeverReplaced) {
    QDir().mkpath(QString::fromStdString(FilePath())); // a folder where the file should be
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250);
    try {
        Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
        Store.UpdateFile();
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
        Store.UpdateFile();
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
    Store.WriteInteger("Stirwatch", "Kept", 2);
    EXPECT_THROW(Store.UpdateFile(), ERegistryException);
    Store.WriteInteger("Stirwatch\\Video", "Top", 2);
    EXPECT_THROW(Store.UpdateFile(), ERegistryException);
    EXPECT_EQ(ReadFile(FilePath()), original);
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "Kept", 0), 1);
}

// Files beside the store that a save leaves behind only when it is cut short.
int TemporaryFiles(const std::string& folder) {
    return static_cast<int>(QDir(QString::fromStdString(folder))
                                .entryList({".Stirwatch.conf.saving-*"}, QDir::Files | QDir::Hidden)
                                .size());
}

// A save on a full disk, or on one with room for only part of the file, fails
// with the store's error and leaves the file as it was, without a temporary
// file beside it; once there is room again the save goes through.
TEST_F(SettingsStore, SaveOnAFullOrNearlyFullDiskFailsAndKeepsTheFile) {
    const std::string folder = ConfigHome.path().toStdString() + "/Quellor";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    TSmallVolume volume(folder, 64 * 1024);
    if (!volume.Mounted()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    std::string original = Section("");
    for (int i = 0; original.size() < 5433; ++i) {
        original += "Value" + std::to_string(i) + "=" + std::string(40, 'x') + "\n";
    }
    StoreText(original);
    ASSERT_EQ(Store.ReadInteger("Stirwatch", "Value0", 0), 0);

    for (const std::uint64_t room : {std::uint64_t{0}, std::uint64_t{4096}}) {
        volume.FillLeaving(room);
        Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
        Store.WriteInteger("Stirwatch", "ThresholdBar1", 5);
        try {
            Store.UpdateFile();
            ADD_FAILURE() << "the save should fail with " << room << " bytes free";
        } catch (const ERegistryException& e) {
            EXPECT_STREQ(e.what(), "Failed to set data for 'RunningWindowSize'");
        }
        EXPECT_EQ(ReadFile(FilePath()), original) << room << " bytes free";
        EXPECT_EQ(TemporaryFiles(folder), 0) << room << " bytes free";
        EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250);
        ASSERT_TRUE(QFile::remove(QString::fromStdString(folder + "/filler")));
    }

    Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
    Store.UpdateFile();
    EXPECT_EQ(TRegIniFile("Software\\Quellor").ReadInteger("Stirwatch", "RunningWindowSize", 0),
              300);
    EXPECT_EQ(ReadFile(FilePath()).substr(0, original.size()), original);
}

// A copy of the program killed during a save leaves its temporary file
// behind, named in the lock; the next start removes that file. Files of the
// user beside the settings file, whatever their names, are never touched.
TEST_F(SettingsStore, StartRemovesOnlyTheTemporaryFileALockNames) {
    StoreText(Section("Kept=1\n"));
    const std::string folder = ConfigHome.path().toStdString() + "/Quellor";
    const std::string left = folder + "/.Stirwatch.conf.saving-a1B2c3.tmp";
    WriteFile(left, "half a save");
    WriteFile(FilePath() + ".lock", left);
    const std::vector<std::string> usersFiles = {
        "Stirwatch.conf.backup", "Stirwatch.conf.a1B2c3", "Stirwatch.conf.bak",
        ".Stirwatch.conf.saving-Zz09Qx.tmp", ".Stirwatch.conf.saving-a1B2c3.tmp.mine"};
    for (const std::string& name : usersFiles) {
        WriteFile(folder + "/" + name, "the user's own " + name);
    }
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "Kept", 0), 1);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(left)));
    for (const std::string& name : usersFiles) {
        EXPECT_EQ(ReadFile(folder + "/" + name), "the user's own " + name);
    }

    Store.WriteInteger("Stirwatch", "Kept", 2);
    Store.UpdateFile();
    EXPECT_EQ(ReadFile(FilePath() + ".lock"), "") << "a finished save leaves no record";
}

// A lock that names a file which is not the program's temporary file (damage,
// or another program's doing) removes nothing.
TEST_F(SettingsStore, LockNamingAUsersFileRemovesNothing) {
    const std::string folder = ConfigHome.path().toStdString() + "/Quellor";
    WriteFile(folder + "/notes.txt", "mine");
    WriteFile(FilePath() + ".lock", folder + "/notes.txt");
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "X", 3), 3);
    EXPECT_EQ(ReadFile(folder + "/notes.txt"), "mine");
}

std::string RefusalOfFirstRead(TRegIniFile& store) {
    try {
        store.ReadInteger("Stirwatch", "RunningWindowSize", 250);
    } catch (const ERegistryException& e) {
        return e.what();
    }
    return "<no refusal>";
}

// A FIFO at the settings path would block an ordinary open forever.
TEST_F(SettingsStore, SpecialFileIsRefusedWithoutWaitingAndLeftAlone) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(QString::fromStdString(FilePath())).absolutePath()));
    ASSERT_EQ(mkfifo(FilePath().c_str(), 0644), 0);
    EXPECT_EQ(RefusalOfFirstRead(Store),
              "The settings file \"" + FilePath() +
                  "\" is not a regular file; it is left alone and the defaults are used");
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250) << "told once";
    Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
    EXPECT_THROW(Store.UpdateFile(), ERegistryException);
    struct stat info {};
    ASSERT_EQ(lstat(FilePath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// A huge file is not read (that froze the window for seconds): it is kept
// aside under a name of its own, never over an earlier one, and the program
// starts with the defaults and saves a new file.
TEST_F(SettingsStore, FileOverOneMegabyteIsKeptAsideAndTheDefaultsUsed) {
    const std::string earlier = FilePath() + ".too-large";
    WriteFile(earlier, "kept by an earlier start");
    std::string huge = Section("RunningWindowSize=400\n");
    while (huge.size() <= (1u << 20)) {
        huge += "junk line of a damaged settings file\n";
    }
    StoreText(huge);
    EXPECT_EQ(RefusalOfFirstRead(Store), "The settings file \"" + FilePath() +
                                             "\" is larger than 1 MB; it was kept as \"" + earlier +
                                             "-2\" and the defaults are used");
    EXPECT_EQ(Store.ReadInteger("Stirwatch", "RunningWindowSize", 250), 250);
    EXPECT_EQ(ReadFile(earlier + "-2"), huge);
    EXPECT_EQ(ReadFile(earlier), "kept by an earlier start");

    Store.WriteInteger("Stirwatch", "RunningWindowSize", 300);
    Store.UpdateFile();
    EXPECT_EQ(ReadFile(FilePath()), Section("RunningWindowSize=300\n"));

    // A file of exactly the limit is still read.
    StoreText(Section("") + std::string((1u << 20) - Section("").size() - 4, '#') + "\nA=5");
    EXPECT_EQ(TRegIniFile("Software\\Quellor").ReadInteger("Stirwatch", "A", 0), 5);
}

// No save writes a file that the next start would refuse.
TEST_F(SettingsStore, SaveThatWouldPassTheLimitFailsAndKeepsTheFile) {
    StoreText(Section("Kept=1\n"));
    Store.WriteString("Stirwatch", "LogFolder", std::string(1u << 20, 'x'));
    EXPECT_THROW(Store.UpdateFile(), ERegistryException);
    EXPECT_EQ(ReadFile(FilePath()), Section("Kept=1\n"));
    EXPECT_EQ(Store.ReadString("Stirwatch", "LogFolder", "/docs"), "/docs");
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
