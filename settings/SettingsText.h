#pragma once
// The text forms of the settings store, free of any toolkit: integers and
// booleans as decimal text, the lenient integer parse used to read them back,
// and the settings file's own text (sections "[path]" holding "name=value"
// lines), edited line by line so that a save changes nothing but its value.

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Parses a signed 32-bit integer: leading blanks, an optional sign, then
// decimal digits or hexadecimal digits after "$", "x", "X", "0x" or "0X".
// Nothing may follow the digits. Empty text, any other character or a number
// outside the 32-bit range gives no value.
std::optional<int> ParseIntegerText(const std::string& text);

// The parsed number, or the default when the text is not an integer.
int TextToInteger(const std::string& text, int defaultValue);

// Decimal text: a minus sign for negative numbers, no leading zeros.
std::string IntegerToText(int value);

// "1" for true, "0" for false.
std::string BoolToText(bool value);

// Read as an integer; any number other than 0 is true; not a number: default.
bool TextToBool(const std::string& text, bool defaultValue);

// A value as it stands in the settings file.
struct TStoredValue {
    enum class TKind { Absent, Text, NotText };
    TKind Kind = TKind::Absent;
    std::string Text; // the decoded text, up to its first NUL, when Kind is Text
};

// The settings file as a list of lines. Lines it cannot make sense of are
// kept as they are, so a damaged file loses nothing when a value is saved.
// Section and value names compare without regard to letter case.
class TSettingsDocument {
public:
    explicit TSettingsDocument(const std::string& fileText = {});

    TStoredValue Find(const std::string& section, const std::string& name) const;
    bool HasSection(const std::string& section) const;
    // Replaces the text after "=" of the first value of that name in the
    // section, or adds the value at the end of the section, or adds the
    // section at the end of the file.
    void Set(const std::string& section, const std::string& name, const std::string& value);
    std::string Text() const;

private:
    // Where a section's values stand, keyed by their lower-case names, so
    // that a look-up does not go over the whole file (which may be large).
    struct TSectionIndex {
        std::size_t LastLine = 0; // the last non-blank line of its first occurrence
        std::unordered_map<std::string, std::size_t> Entries;
    };

    std::vector<std::string> Lines;
    std::unordered_map<std::string, TSectionIndex> Sections; // by lower-case section name

    void BuildIndex();
    void InsertLine(std::size_t at, std::string line);
    std::optional<std::size_t> FindEntryLine(const std::string& section,
                                             const std::string& name) const;
};

// The value's text as written after "name=": backslash, line breaks and NUL
// escaped; a leading "@" doubled, since "@Type(...)" marks a value that is not text.
std::string EncodeStoredText(const std::string& text);
TStoredValue DecodeStoredText(const std::string& raw);
