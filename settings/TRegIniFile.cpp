#include "settings/TRegIniFile.h"

#include "settings/SettingsText.h"
#include "types/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
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
};

TStoreCache& Cache() {
    static TStoreCache cache;
    return cache;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    text.clear();
    if (ok) {
        text.reserve(static_cast<std::size_t>(info.st_size));
    }
    char buffer[1 << 16];
    while (ok) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
        }
    }
    close(fd);
    return ok;
}

// Temporary files of a save are named "<file>.XXXXXX". One that exists while
// nobody holds the lock was left by a copy of the program that ended during
// its save (kill -9, power loss).
bool IsTemporaryName(const std::string& entry) {
    const std::string prefix = std::string(StoreFileName) + ".";
    if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < entry.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(entry[i]))) {
            return false;
        }
    }
    return true;
}

void RemoveStaleTemporaryFiles(const std::string& path) {
    const std::string folder = FolderOf(path);
    DIR* directory = opendir(folder.c_str());
    if (!directory) {
        return;
    }
    const TStoreLock lock(path + ".lock");
    while (lock.Locked) {
        const dirent* entry = readdir(directory);
        if (!entry) {
            break;
        }
        if (IsTemporaryName(entry->d_name)) {
            unlink((folder + "/" + entry->d_name).c_str());
        }
    }
    closedir(directory);
}

// The document of the store's file, read again only when the file changed on
// disk (another copy of the program saved, or it was edited). The first use
// in a run also clears stale temporary files.
TStoreCache& CurrentStore(const std::string& path) {
    TStoreCache& cache = Cache();
    const TFileStamp stamp = StampOf(path);
    if (cache.Loaded && cache.Path == path && cache.Stamp == stamp) {
        return cache;
    }
    if (cache.Path != path) {
        RemoveStaleTemporaryFiles(path);
    }
    std::string text;
    const bool readable = !stamp.Exists || ReadWholeFile(path, text);
    cache.Path = path;
    cache.Stamp = stamp;
    cache.Loaded = true;
    cache.Readable = readable;
    cache.Document = std::make_unique<TSettingsDocument>(readable ? text : std::string());
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
// temporary file is removed and path is left untouched.
bool ReplaceFile(const std::string& file, const std::string& text) {
    // A store file that is a symbolic link keeps being one: its target is replaced.
    char* resolved = realpath(file.c_str(), nullptr);
    const std::string path = resolved ? std::string(resolved) : file;
    std::free(resolved);
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat existing {};
    const mode_t mode = stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
    bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
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
    const TStoredValue value = CurrentStore(FileName()).Document->Find(SectionPath(section), name);
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
    const TStoreLock lock(path + ".lock");
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
    if (!changed) {
        return;
    }
    if (!ReplaceFile(path, store.Document->Text())) {
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
