// The settings file's text and the text forms of its values, from any bytes:
// the integer parse against an independent reading, and the file's document
// against what a save writes into it.

#include "fuzz/FuzzInput.h"
#include "settings/SettingsText.h"

#include <charconv>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

// The integer rule read a second way: blanks, a sign, a prefix, then digits
// that std::from_chars must take whole.
std::optional<int> ReferenceParse(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) {
        return std::nullopt;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i++] == '-';
    }
    int base = 10;
    if (text.compare(i, 1, "$") == 0 || text.compare(i, 1, "x") == 0 ||
        text.compare(i, 1, "X") == 0) {
        base = 16;
        i += 1;
    } else if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    }
    const std::string digits = text.substr(i);
    if (digits.empty() || digits[0] == '+' || digits[0] == '-') {
        return std::nullopt;
    }
    unsigned long long magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    const unsigned long long limit =
        static_cast<unsigned long long>(std::numeric_limits<int>::max()) + (negative ? 1 : 0);
    if (magnitude > limit) {
        return std::nullopt;
    }
    return static_cast<int>(negative ? -static_cast<long long>(magnitude)
                                     : static_cast<long long>(magnitude));
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The sections and names the program reads and writes.
const char* const Sections[] = {"Software\\Quellor\\Stirwatch",
                                "Software\\Quellor\\Stirwatch\\Video",
                                "Software\\Quellor\\Stirwatch\\VideoForm"};
const char* const Names[] = {"BeepOnMove", "LogFolder", "ThresholdBar1", "Top", "PixelTolerance"};

std::string UpToNul(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TFuzzInput input(data, size);
    const int mode = input.Byte() % 3;

    if (mode == 0) { // an integer text
        const std::string text = input.Rest();
        const std::optional<int> parsed = ParseIntegerText(text);
        Check(parsed == ReferenceParse(text));
        if (parsed) {
            Check(ParseIntegerText(IntegerToText(*parsed)) == parsed);
            Check(TextToBool(text, false) == (*parsed != 0));
        }
        return 0;
    }

    if (mode == 1) { // a value's text form
        const std::string value = input.Rest();
        const TStoredValue decoded = DecodeStoredText(EncodeStoredText(value));
        Check(decoded.Kind == TStoredValue::TKind::Text);
        Check(decoded.Text == UpToNul(value));
        const TStoredValue raw = DecodeStoredText(value); // any stored text reads safely
        Check(raw.Kind != TStoredValue::TKind::Absent);
        return 0;
    }

    // A whole file and one save of a few values into it: each saved value
    // reads back, every other value reads as before, and the document in
    // memory reads as the file it writes.
    struct TSaved {
        int Section;
        int Name;
        std::string Value;
    };
    std::vector<TSaved> saves(1 + input.Byte() % 4);
    for (TSaved& save : saves) {
        save.Section = input.Byte() % 3;
        save.Name = input.Byte() % 5;
        save.Value = input.Text(64);
    }
    TSettingsDocument document(input.Rest());
    TStoredValue expected[3][5];
    for (int s = 0; s < 3; ++s) {
        for (int n = 0; n < 5; ++n) {
            expected[s][n] = document.Find(Sections[s], Names[n]);
        }
    }
    for (const TSaved& save : saves) {
        document.Set(Sections[save.Section], Names[save.Name], save.Value);
        expected[save.Section][save.Name] = {TStoredValue::TKind::Text, UpToNul(save.Value)};
    }
    const TSettingsDocument reread(document.Text());
    for (int s = 0; s < 3; ++s) {
        for (int n = 0; n < 5; ++n) {
            const TSettingsDocument* views[] = {&document, &reread};
            for (const TSettingsDocument* d : views) {
                const TStoredValue now = d->Find(Sections[s], Names[n]);
                Check(now.Kind == expected[s][n].Kind && now.Text == expected[s][n].Text);
            }
        }
        Check(document.HasSection(Sections[s]) == reread.HasSection(Sections[s]));
    }
    Check(reread.Text() == document.Text());
    return 0;
}
