#include "settings/TRegIniFile.h"

#include "settings/SettingsText.h"
#include "types/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

const char* const StoreFileName = "Stirwatch.conf";
// A second copy of the program holds the lock only while it rewrites the file.
constexpr int LockWaitMs = 5000;
// A settings file larger than this is not read: no setting of the program
// comes near it, and reading and rewriting it would freeze the window.
constexpr off_t MaxStoreBytes = 1 << 20;
// A save writes beside the file under a name no user file is likely to have:
// ".Stirwatch.conf.saving-XXXXXX.tmp".
const char* const TemporaryPrefix = ".Stirwatch.conf.saving-";
const char* const TemporarySuffix = ".tmp";
constexpr int TemporaryRandomLength = 6;

std::string LastPart(const std::string& key) {
    const auto slash = key.find_last_of('\\');
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// An exclusive advisory lock on "<file>.lock", held while a save replaces the
// file (and while stale temporary files are removed). The kernel drops it when
// its holder ends, so a crashed copy of the program never leaves the store
// locked.
class TStoreLock {
public:
    explicit TStoreLock(const std::string& path)
        : Fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(LockWaitMs);
        while (Fd >= 0 && !Locked) {
            Locked = flock(Fd, LOCK_EX | LOCK_NB) == 0;
            if (!Locked && std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            if (!Locked) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    ~TStoreLock() {
        if (Fd >= 0) {
            close(Fd);
        }
    }
    TStoreLock(const TStoreLock&) = delete;
    TStoreLock& operator=(const TStoreLock&) = delete;
    bool Locked = false;

    // The lock file names the temporary file of the save in progress, so that
    // a save cut short (kill -9, power loss) tells the next start which file
    // it left; the record is emptied when the save ends either way.
    bool Record(const std::string& temporary) {
        return Locked && ftruncate(Fd, 0) == 0 &&
               pwrite(Fd, temporary.data(), temporary.size(), 0) ==
                   static_cast<ssize_t>(temporary.size());
    }
    std::string Recorded() const {
        std::string text(PATH_MAX, '\0');
        const ssize_t got = Locked ? pread(Fd, text.data(), text.size(), 0) : -1;
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }
    void ClearRecord() {
        if (Locked) {
            [[maybe_unused]] const int ignored = ftruncate(Fd, 0);
        }
    }

private:
    int Fd;
};

// What tells one state of the file on disk from another.
struct TFileStamp {
    bool Exists = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    std::int64_t ModifiedNs = 0;
    std::int64_t ChangedNs = 0;
    bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return {};
    }
    return {true,
            info.st_dev,
            info.st_ino,
            info.st_size,
            info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec,
            info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec};
}

// The store's file as last read. Readable is false when the file exists but
// could not be read: then every value reads as absent and no save replaces
// what could not be seen.
struct TStoreCache {
    std::string Path;
    TFileStamp Stamp;
    bool Loaded = false;
    bool Readable = true;
    std::unique_ptr<TSettingsDocument> Document;
    // Why the file was refused, told by the next read, once.
    std::string Refusal;
};

TStoreCache& Cache() {
    static TStoreCache cache;
    return cache;
}

enum class TReadOutcome { Read, Unreadable, NotAFile, TooLarge };

// Opened without blocking, so that a FIFO or a device at the path cannot hold
// the start up; only a regular file of at most MaxStoreBytes is read.
TReadOutcome ReadWholeFile(const std::string& path, std::string& text) {
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return TReadOutcome::Unreadable;
    }
    struct stat info {};
    TReadOutcome outcome = TReadOutcome::Read;
    if (fstat(fd, &info) != 0) {
        outcome = TReadOutcome::Unreadable;
    } else if (!S_ISREG(info.st_mode)) {
        outcome = S_ISDIR(info.st_mode) ? TReadOutcome::Unreadable : TReadOutcome::NotAFile;
    } else if (info.st_size > MaxStoreBytes) {
        outcome = TReadOutcome::TooLarge;
    } else {
        text.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[1 << 16];
    while (outcome == TReadOutcome::Read) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            if (text.size() > static_cast<std::size_t>(MaxStoreBytes)) {
                outcome = TReadOutcome::TooLarge; // it grew while being read
            }
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            outcome = TReadOutcome::Unreadable;
        }
    }
    close(fd);
    if (outcome != TReadOutcome::Read) {
        text.clear();
    }
    return outcome;
}

// Moves a settings file too large to read out of the way, never over another
// file: "<file>.too-large", or with a number when that name is taken.
std::string KeepAside(const std::string& path) {
    for (int number = 1; number < 1000; ++number) {
        std::string aside =
            path + ".too-large" + (number == 1 ? std::string() : "-" + std::to_string(number));
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            return aside;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return {};
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".Stirwatch.conf.saving-" + six letters or digits + ".tmp".
bool IsTemporaryName(const std::string& entry) {
    const std::string prefix = TemporaryPrefix;
    const std::string suffix = TemporarySuffix;
    if (entry.size() != prefix.size() + TemporaryRandomLength + suffix.size() ||
        !entry.starts_with(prefix) || !entry.ends_with(suffix)) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < prefix.size() + TemporaryRandomLength; ++i) {
        if (!std::isalnum(static_cast<unsigned char>(entry[i]))) {
            return false;
        }
    }
    return true;
}

// A temporary file named in the lock while nobody holds the lock was left by a
// copy of the program that ended during its save. Only that file is removed,
// and only when its name is the program's own: nothing a user put beside the
// settings file is touched.
void RemoveStaleTemporaryFile(const std::string& path) {
    if (access(FolderOf(path).c_str(), W_OK) != 0) {
        return;
    }
    TStoreLock lock(path + ".lock");
    const std::string left = lock.Recorded();
    if (!left.empty() && IsTemporaryName(BaseName(left))) {
        unlink(left.c_str());
    }
    lock.ClearRecord();
}

// The document of the store's file, read again only when the file changed on
// disk (another copy of the program saved, or it was edited). The first use
// in a run also clears stale temporary files.
std::string Refusal(TReadOutcome outcome, const std::string& path, const std::string& aside) {
    switch (outcome) {
    case TReadOutcome::NotAFile:
        return "The settings file \"" + path +
               "\" is not a regular file; it is left alone and the defaults are used";
    case TReadOutcome::TooLarge:
        return "The settings file \"" + path + "\" is larger than " +
               std::to_string(MaxStoreBytes >> 20) + " MB; " +
               (aside.empty() ? std::string("it is left alone")
                              : "it was kept as \"" + aside + "\"") +
               " and the defaults are used";
    default:
        return {};
    }
}

// The document of the store's file, read again only when the file changed on
// disk (another copy of the program saved, or it was edited). The first use
// in a run also clears a temporary file that a cut-short save left.
TStoreCache& CurrentStore(const std::string& path) {
    TStoreCache& cache = Cache();
    TFileStamp stamp = StampOf(path);
    if (cache.Loaded && cache.Path == path && cache.Stamp == stamp) {
        return cache;
    }
    if (cache.Path != path) {
        RemoveStaleTemporaryFile(path);
    }
    std::string text;
    const TReadOutcome outcome = stamp.Exists ? ReadWholeFile(path, text) : TReadOutcome::Read;
    std::string aside;
    if (outcome == TReadOutcome::TooLarge) {
        aside = KeepAside(path);
        stamp = StampOf(path);
    }
    cache.Path = path;
    cache.Stamp = stamp;
    cache.Loaded = true;
    cache.Readable = outcome == TReadOutcome::Read || !stamp.Exists;
    cache.Refusal = Refusal(outcome, path, aside);
    cache.Document = std::make_unique<TSettingsDocument>(text);
    return cache;
}

void Forget(TStoreCache& cache) {
    cache.Loaded = false;
    cache.Document.reset();
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// Writes text to a new file beside path and renames it over path. Every
// write, the flush to disk and the close are checked; after any failure the
// temporary file is removed and path is left untouched. An owner-only file
// loses every permission for the group and others.
bool ReplaceFile(const std::string& file, const std::string& text, TStoreLock& lock,
                 bool ownerOnly) {
    // A store file that is a symbolic link keeps being one: its target is replaced.
    char* resolved = realpath(file.c_str(), nullptr);
    const std::string path = resolved ? std::string(resolved) : file;
    std::free(resolved);
    std::string temporary = FolderOf(path) + "/" + TemporaryPrefix + "XXXXXX" + TemporarySuffix;
    const int suffixLength = static_cast<int>(std::strlen(TemporarySuffix));
    const int fd = mkostemps(temporary.data(), suffixLength, O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat existing {};
    mode_t mode = stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
    if (ownerOnly) {
        mode &= 07700;
    }
    bool ok = lock.Record(temporary);
    ok = ok && fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
    }
    lock.ClearRecord();
    if (!ok) {
        return false;
    }
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

bool OpenToOthers(const std::string& path) {
    struct stat existing {};
    return stat(path.c_str(), &existing) == 0 && (existing.st_mode & 077) != 0;
}

[[noreturn]] void FailToSetData(const std::string& name) {
    throw ERegistryException("Failed to set data for '" + name + "'");
}

} // namespace

TRegIniFile::TRegIniFile(const std::string& baseKey) : BaseKey(baseKey) {}

TRegIniFile::~TRegIniFile() {
    try {
        UpdateFile();
    } catch (...) {
    }
}

std::string TRegIniFile::FileName() const {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (folder + "/" + QString::fromStdString(LastPart(BaseKey)) + "/" + StoreFileName)
        .toStdString();
}

std::string TRegIniFile::SectionPath(const std::string& section) const {
    return section.empty() ? BaseKey : BaseKey + "\\" + section;
}

std::optional<std::string> TRegIniFile::ReadText(const std::string& section,
                                                 const std::string& name) {
    for (auto value = Pending.rbegin(); value != Pending.rend(); ++value) {
        if (value->Section == section && value->Name == name) {
            return value->Text;
        }
    }
    TStoreCache& store = CurrentStore(FileName());
    if (!store.Refusal.empty()) {
        throw ERegistryException(std::exchange(store.Refusal, {}));
    }
    const TStoredValue value = store.Document->Find(SectionPath(section), name);
    switch (value.Kind) {
    case TStoredValue::TKind::Absent:
        return std::nullopt;
    case TStoredValue::TKind::NotText:
        throw ERegistryException("Invalid data type for '" + name + "'");
    case TStoredValue::TKind::Text:
        break;
    }
    return value.Text;
}

void TRegIniFile::WriteText(const std::string& section, const std::string& name,
                            const std::string& text) {
    Pending.push_back({section, name, text});
}

// Under the lock the file is taken as it is now on disk (a second copy of the
// program may have saved meanwhile), the pending values are set into it and
// it is replaced as a whole.
void TRegIniFile::UpdateFile() {
    if (Pending.empty()) {
        return;
    }
    // Written or not, the values leave the accessor: after a failure the
    // file stays as it was and reads show it so.
    const std::vector<TPendingValue> batch = std::exchange(Pending, {});
    const std::string path = FileName();
    if (!QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath())) {
        throw ERegistryException("Failed to create key " + batch.front().Section);
    }
    CurrentStore(path); // a first use clears what a cut-short save left, taking the lock itself
    TStoreLock lock(path + ".lock");
    if (!lock.Locked) {
        FailToSetData(batch.front().Name);
    }
    TStoreCache& store = CurrentStore(path);
    if (!store.Readable) {
        FailToSetData(batch.front().Name);
    }
    // A save that changes nothing (the usual close: windows where they were)
    // leaves the file alone.
    bool changed = false;
    for (const TPendingValue& value : batch) {
        const TStoredValue stored = store.Document->Find(SectionPath(value.Section), value.Name);
        if (stored.Kind != TStoredValue::TKind::Text || stored.Text != value.Text) {
            store.Document->Set(SectionPath(value.Section), value.Name, value.Text);
            changed = true;
        }
    }
    if (!changed && !(OwnerOnly && OpenToOthers(path))) {
        return;
    }
    // Never write a file that the next start would refuse.
    const std::string text = store.Document->Text();
    if (text.size() > static_cast<std::size_t>(MaxStoreBytes) ||
        !ReplaceFile(path, text, lock, OwnerOnly)) {
        Forget(store); // the document holds values the file does not
        FailToSetData(batch.front().Name);
    }
    store.Stamp = StampOf(path);
}

int TRegIniFile::ReadInteger(const std::string& section, const std::string& name,
                             int defaultValue) {
    return TextToInteger(ReadText(section, name).value_or(std::string{}), defaultValue);
}

bool TRegIniFile::ReadBool(const std::string& section, const std::string& name, bool defaultValue) {
    return ReadInteger(section, name, defaultValue ? 1 : 0) != 0;
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& name,
                                    const std::string& defaultValue) {
    return ReadText(section, name).value_or(defaultValue);
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& name, int value) {
    WriteText(section, name, IntegerToText(value));
}

void TRegIniFile::WriteBool(const std::string& section, const std::string& name, bool value) {
    WriteText(section, name, BoolToText(value));
}

void TRegIniFile::WriteString(const std::string& section, const std::string& name,
                              const std::string& value) {
    WriteText(section, name, value);
}

std::string ReadDocumentsFolder() {
    try {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
            return {};
        }
        return folder.toStdString();
    } catch (...) {
        return {};
    }
}
