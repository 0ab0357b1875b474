#pragma once
// The settings accessor: the per-user settings store used like an ini file
// whose sections are key paths below a base key ("Software\Quellor"). Made
// for one load or one save and released at its end; every read and write goes
// to the store anew. Values are kept as text in their text forms.

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
    void WriteString(const std::string& section, const std::string& name,
                     const std::string& value);

private:
    std::string BaseKey;
};

// The user's documents folder, or the empty text when there is none.
std::string ReadDocumentsFolder();
