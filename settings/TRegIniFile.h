#pragma once
// The settings accessor: the per-user settings store used like an ini file
// whose sections are key paths below a base key ("Software\Quellor"). Made
// for one load or one save. Values are kept as text in their text forms.
//
// The store's file is read once and kept in memory for as long as it stays
// unchanged on disk, so the loads of all windows at start-up read it once.
// The values written through one accessor go to the file together, at
// UpdateFile: one locked replacement of the whole file, written beside it and
// renamed over it only when every byte is on disk, so a full disk, a crash or
// a second copy of the program never leaves a cut, empty or mixed file.
//
// Only a regular file of at most 1 MB is read. Anything else at the path (a
// FIFO, a device) is left alone; a larger file is renamed to
// "Stirwatch.conf.too-large" (never deleted). Either way the values read as
// absent, so the defaults apply, and the first read after the refusal throws
// ERegistryException saying so, once.

#include <optional>
#include <string>
#include <vector>

class TRegIniFile {
public:
    explicit TRegIniFile(const std::string& baseKey);
    // Values written but not yet put into the file by UpdateFile are written
    // now, as far as possible: a destructor reports no failure.
    ~TRegIniFile();
    TRegIniFile(const TRegIniFile&) = delete;
    TRegIniFile& operator=(const TRegIniFile&) = delete;

    // A read sees the store as it is on disk and this accessor's own writes.
    int ReadInteger(const std::string& section, const std::string& name, int defaultValue);
    bool ReadBool(const std::string& section, const std::string& name, bool defaultValue);
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue);

    void WriteInteger(const std::string& section, const std::string& name, int value);
    void WriteBool(const std::string& section, const std::string& name, bool value);
    void WriteString(const std::string& section, const std::string& name, const std::string& value);

    // Puts the values written since the last call into the file, in one
    // replacement. Throws ERegistryException "Failed to create key <section>"
    // when the store's folder cannot be made, and "Failed to set data for
    // '<name>'" (the first value of the batch) when the file cannot be
    // replaced completely; the file then stays as it was. Either way the
    // values are no longer pending.
    void UpdateFile();

    // From the next UpdateFile on, the file is readable and writable by its
    // owner alone, and stays so (for a stored password).
    void KeepOwnerOnly() { OwnerOnly = true; }

    // The file that backs the store: the per-user configuration folder
    // ($XDG_CONFIG_HOME, default ~/.config), a folder named after the last
    // part of the base key, and "Stirwatch.conf" in it.
    std::string FileName() const;

private:
    struct TPendingValue {
        std::string Section;
        std::string Name;
        std::string Text;
    };

    std::string BaseKey;
    std::vector<TPendingValue> Pending;
    bool OwnerOnly = false;

    // "[Software\Quellor\<section>]": the base key stays visible in the file.
    std::string SectionPath(const std::string& section) const;
    // The value's text, or nothing when it is absent; throws for a value that is not text.
    std::optional<std::string> ReadText(const std::string& section, const std::string& name);
    void WriteText(const std::string& section, const std::string& name, const std::string& text);
};

// The user's documents folder, or the empty text when there is none.
std::string ReadDocumentsFolder();
