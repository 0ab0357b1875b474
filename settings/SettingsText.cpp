#include "settings/SettingsText.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Length of a hexadecimal prefix at position i: "$", "x", "X", "0x", "0X", or 0.
std::size_t HexPrefixLength(const std::string& text, std::size_t i) {
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        return 1;
    }
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        return 2;
    }
    return 0;
}

std::string Trimmed(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && (IsBlank(text[first]) || text[first] == '\r')) {
        ++first;
    }
    while (last > first && (IsBlank(text[last - 1]) || text[last - 1] == '\r')) {
        --last;
    }
    return text.substr(first, last - first);
}

std::string Lowered(const std::string& text) {
    std::string lowered = text;
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered;
}

// "[name]" gives name; any other line gives nothing.
std::optional<std::string> SectionOf(const std::string& line) {
    const std::string trimmed = Trimmed(line);
    if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') {
        return std::nullopt;
    }
    return trimmed.substr(1, trimmed.size() - 2);
}

bool IsComment(const std::string& trimmed) {
    return !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
}

struct TEntry {
    std::string Name;
    std::string Raw;
};

// "name=value" gives the trimmed name and the value as it stands (less a CR).
std::optional<TEntry> EntryOf(const std::string& line) {
    const std::string trimmed = Trimmed(line);
    if (trimmed.empty() || IsComment(trimmed) || SectionOf(line)) {
        return std::nullopt;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return std::nullopt;
    }
    std::string raw = line.substr(equals + 1);
    if (!raw.empty() && raw.back() == '\r') {
        raw.pop_back();
    }
    return TEntry{Trimmed(line.substr(0, equals)), raw};
}

// "@Type(...)" is how typed, non-text values are written into such files.
bool IsTypedValue(const std::string& raw) {
    if (raw.size() < 4 || raw[0] != '@' || raw.back() != ')') {
        return false;
    }
    std::size_t i = 1;
    while (i < raw.size() && std::isalpha(static_cast<unsigned char>(raw[i]))) {
        ++i;
    }
    return i > 1 && i < raw.size() && raw[i] == '(';
}

} // namespace

std::optional<int> ParseIntegerText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t prefix = HexPrefixLength(text, i);
    const int base = prefix > 0 ? 16 : 10;
    i += prefix;
    if (i == text.size()) {
        return std::nullopt;
    }
    // The magnitude may reach 2^31 only for a negative number.
    const std::int64_t limit = std::int64_t{std::numeric_limits<int>::max()} + (negative ? 1 : 0);
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit =
            base == 16 ? HexDigit(text[i])
                       : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int TextToInteger(const std::string& text, int defaultValue) {
    return ParseIntegerText(text).value_or(defaultValue);
}

std::string IntegerToText(int value) {
    return std::to_string(value);
}

std::string BoolToText(bool value) {
    return value ? "1" : "0";
}

bool TextToBool(const std::string& text, bool defaultValue) {
    return TextToInteger(text, defaultValue ? 1 : 0) != 0;
}

std::string EncodeStoredText(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 1);
    if (!text.empty() && text.front() == '@') {
        out += '@';
    }
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
    return out;
}

TStoredValue DecodeStoredText(const std::string& raw) {
    if (IsTypedValue(raw)) {
        return {TStoredValue::TKind::NotText, {}};
    }
    std::size_t i = raw.size() >= 2 && raw[0] == '@' && raw[1] == '@' ? 1 : 0;
    std::string text;
    for (; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\0') {
            break;
        }
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[i + 1];
            if (next == '0') {
                break;
            }
            if (next == '\\' || next == 'n' || next == 'r') {
                c = next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
                ++i;
            }
        }
        text += c;
    }
    return {TStoredValue::TKind::Text, text};
}

TSettingsDocument::TSettingsDocument(const std::string& fileText) {
    std::size_t start = 0;
    while (start < fileText.size()) {
        std::size_t end = fileText.find('\n', start);
        if (end == std::string::npos) {
            end = fileText.size();
        }
        Lines.push_back(fileText.substr(start, end - start));
        start = end + 1;
    }
    BuildIndex();
}

// One pass over the lines. A section may occur more than once: the values of
// every occurrence count (the first of a name wins), and new values go to the
// end of the first occurrence.
void TSettingsDocument::BuildIndex() {
    Sections.clear();
    TSectionIndex* current = nullptr;
    bool firstOccurrence = false;
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (const auto header = SectionOf(Lines[i])) {
            const auto [entry, added] = Sections.try_emplace(Lowered(*header));
            current = &entry->second;
            firstOccurrence = added;
            if (added) {
                current->LastLine = i;
            }
        } else if (current) {
            if (firstOccurrence && !Trimmed(Lines[i]).empty()) {
                current->LastLine = i;
            }
            if (const auto entry = EntryOf(Lines[i])) {
                current->Entries.try_emplace(Lowered(entry->Name), i);
            }
        }
    }
}

std::optional<std::size_t> TSettingsDocument::FindEntryLine(const std::string& section,
                                                            const std::string& name) const {
    const auto found = Sections.find(Lowered(section));
    if (found == Sections.end()) {
        return std::nullopt;
    }
    const auto entry = found->second.Entries.find(Lowered(name));
    if (entry == found->second.Entries.end()) {
        return std::nullopt;
    }
    return entry->second;
}

TStoredValue TSettingsDocument::Find(const std::string& section, const std::string& name) const {
    const auto line = FindEntryLine(section, name);
    if (!line) {
        return {};
    }
    return DecodeStoredText(EntryOf(Lines[*line])->Raw);
}

bool TSettingsDocument::HasSection(const std::string& section) const {
    return Sections.count(Lowered(section)) > 0;
}

// A line inserted at `at` moves every line from there on one down.
void TSettingsDocument::InsertLine(std::size_t at, std::string line) {
    Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    for (auto& [key, section] : Sections) {
        if (section.LastLine >= at) {
            ++section.LastLine;
        }
        for (auto& [name, index] : section.Entries) {
            if (index >= at) {
                ++index;
            }
        }
    }
}

void TSettingsDocument::Set(const std::string& section, const std::string& name,
                            const std::string& value) {
    const std::string encoded = EncodeStoredText(value);
    if (const auto existing = FindEntryLine(section, name)) {
        std::string& line = Lines[*existing];
        line = line.substr(0, line.find('=') + 1) + encoded;
        return;
    }
    const std::string key = Lowered(section);
    if (const auto found = Sections.find(key); found != Sections.end()) {
        const std::size_t at = found->second.LastLine + 1;
        InsertLine(at, name + "=" + encoded);
        found->second.LastLine = at;
        found->second.Entries.try_emplace(Lowered(name), at);
        return;
    }
    if (!Lines.empty() && !Trimmed(Lines.back()).empty()) {
        Lines.emplace_back();
    }
    TSectionIndex& added = Sections[key];
    Lines.push_back("[" + section + "]");
    Lines.push_back(name + "=" + encoded);
    added.LastLine = Lines.size() - 1;
    added.Entries.try_emplace(Lowered(name), Lines.size() - 1);
}

std::string TSettingsDocument::Text() const {
    std::size_t size = 0;
    for (const auto& line : Lines) {
        size += line.size() + 1;
    }
    std::string text;
    text.reserve(size);
    for (const auto& line : Lines) {
        text += line;
        text += '\n';
    }
    return text;
}
