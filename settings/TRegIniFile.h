#pragma once
// The settings accessor: the per-user settings store used like an ini file
// whose sections are key paths below a base key ("Software\Quellor"). Made
// for one load or one save and released at its end; every read and write goes
// to the store anew. Values are kept as text in their text forms.

#include <optional>
#include <string>

class TRegIniFile {
public:
    explicit TRegIniFile(const std::string& baseKey);
    ~TRegIniFile();
    TRegIniFile(const TRegIniFile&) = delete;
    TRegIniFile& operator=(const TRegIniFile&) = delete;

    int ReadInteger(const std::string& section, const std::string& name, int defaultValue);
    bool ReadBool(const std::string& section, const std::string& name, bool defaultValue);
    std::string ReadString(const std::string& section, const std::string& name,
                           const std::string& defaultValue);

    void WriteInteger(const std::string& section, const std::string& name, int value);
    void WriteBool(const std::string& section, const std::string& name, bool value);
    void WriteString(const std::string& section, const std::string& name, const std::string& value);

    // The file that backs the store: the per-user configuration folder
    // ($XDG_CONFIG_HOME, default ~/.config), a folder named after the last
    // part of the base key, and "Stirwatch.conf" in it.
    std::string FileName() const;

private:
    std::string BaseKey;

    // "[Software\Quellor\<section>]": the base key stays visible in the file.
    std::string SectionPath(const std::string& section) const;
    // The value's text, or nothing when it is absent; throws for a value that is not text.
    std::optional<std::string> ReadText(const std::string& section, const std::string& name);
    void WriteText(const std::string& section, const std::string& name, const std::string& text);
};

// The user's documents folder, or the empty text when there is none.
std::string ReadDocumentsFolder();
