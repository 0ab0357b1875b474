#include "settings/TRegIniFile.h"

#include "settings/SettingsText.h"
#include "types/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

const char* const StoreFileName = "Stirwatch.conf";
// A second copy of the program holds the lock only while it rewrites the file.
constexpr int LockWaitMs = 5000;

struct TFileContents {
    bool Readable = true; // false: the file exists but could not be read
    std::string Text;
};

// A missing file is an empty store; a file that exists but cannot be read is
// reported as such, so that no save replaces what could not be seen.
TFileContents ReadStoreFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        return {};
    }
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        return {false, {}};
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return {false, {}};
    }
    return {true, data.toStdString()};
}

std::string LastPart(const std::string& key) {
    const auto slash = key.find_last_of('\\');
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

// An exclusive advisory lock on "<file>.lock", held while one write reads,
// changes and replaces the file. The kernel drops it when its holder ends,
// so a crashed copy of the program never leaves the store locked.
class TStoreLock {
public:
    explicit TStoreLock(const QString& path)
        : Fd(open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
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

[[noreturn]] void FailToSetData(const std::string& name) {
    throw ERegistryException("Failed to set data for '" + name + "'");
}

} // namespace

TRegIniFile::TRegIniFile(const std::string& baseKey) : BaseKey(baseKey) {}

TRegIniFile::~TRegIniFile() = default;

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
    const TFileContents file = ReadStoreFile(QString::fromStdString(FileName()));
    const TStoredValue value = TSettingsDocument(file.Text).Find(SectionPath(section), name);
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

// One write is one locked read-modify-replace of the whole file: the new file
// is written beside the old one and renamed over it, so a crash or a second
// copy of the program never leaves a half-written or mixed file.
void TRegIniFile::WriteText(const std::string& section, const std::string& name,
                            const std::string& text) {
    const QString path = QString::fromStdString(FileName());
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw ERegistryException("Failed to create key " + section);
    }

    const TStoreLock lock(path + ".lock");
    if (!lock.Locked) {
        FailToSetData(name);
    }
    const TFileContents file = ReadStoreFile(path);
    if (!file.Readable) {
        FailToSetData(name);
    }

    TSettingsDocument document(file.Text);
    const bool newSection = !document.HasSection(SectionPath(section));
    document.Set(SectionPath(section), name, text);
    const std::string out = document.Text();

    QSaveFile target(path);
    const bool written = target.open(QIODevice::WriteOnly) &&
                         target.write(out.data(), static_cast<qint64>(out.size())) ==
                             static_cast<qint64>(out.size()) &&
                         target.commit();
    if (!written && newSection) {
        throw ERegistryException("Failed to create key " + section);
    }
    if (!written) {
        FailToSetData(name);
    }
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
