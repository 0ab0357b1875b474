#include "analysis/FrameStep.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

constexpr int SignificantDigits = 15;

// The significant digits without trailing zeros and the decimal exponent of
// the first one, for a positive finite value.
struct TDecimal {
    std::string Digits;
    int Exponent = 0;
};

TDecimal ToDecimal(double value) {
    // "d.dddddddddddddde-XX", independent of the process's locale.
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                                   SignificantDigits - 1)
                         .ptr;
    const std::string_view written(text, static_cast<std::size_t>(end - text));
    const std::size_t exponentAt = written.find('e');
    TDecimal decimal;
    decimal.Digits = std::string(1, written[0]);
    if (exponentAt > 2) {
        decimal.Digits += written.substr(2, exponentAt - 2);
    }
    decimal.Exponent = std::atoi(std::string(written.substr(exponentAt + 1)).c_str());
    while (decimal.Digits.size() > 1 && decimal.Digits.back() == '0') {
        decimal.Digits.pop_back();
    }
    return decimal;
}

std::string PlainNotation(const TDecimal& decimal, char separator) {
    const int integerDigits = decimal.Exponent + 1;
    if (integerDigits <= 0) {
        return std::string("0") + separator + std::string(-integerDigits, '0') + decimal.Digits;
    }
    std::string integerPart = decimal.Digits.substr(0, integerDigits);
    integerPart.resize(integerDigits, '0');
    if (decimal.Digits.size() <= static_cast<std::size_t>(integerDigits)) {
        return integerPart;
    }
    return integerPart + separator + decimal.Digits.substr(integerDigits);
}

std::string ScientificNotation(const TDecimal& decimal, char separator) {
    std::string text = decimal.Digits.substr(0, 1);
    if (decimal.Digits.size() > 1) {
        text += separator + decimal.Digits.substr(1);
    }
    return text + "E" + std::to_string(decimal.Exponent);
}

} // namespace

int MovementPercent(int changedPixels, std::int64_t frameArea) {
    if (frameArea == 0) {
        return 0;
    }
    return static_cast<int>(std::int64_t{changedPixels} * 100 / frameArea);
}

bool IsMovement(int changedPixels, int minimalMovement) {
    return changedPixels > minimalMovement;
}

std::string FormatDayFraction(double fraction, char decimalSeparator) {
    if (fraction == 0) {
        return "0";
    }
    if (std::isnan(fraction)) {
        return "NAN";
    }
    if (fraction < 0) {
        return "-" + FormatDayFraction(-fraction, decimalSeparator);
    }
    if (std::isinf(fraction)) {
        return "INF";
    }
    const TDecimal decimal = ToDecimal(fraction);
    // Plain from 0.0001 (first digit at 10^-4) up to 15 integer digits.
    if (decimal.Exponent >= -4 && decimal.Exponent < SignificantDigits) {
        return PlainNotation(decimal, decimalSeparator);
    }
    return ScientificNotation(decimal, decimalSeparator);
}

double DayFraction(int hour, int minute, int second, int millisecond) {
    const std::int64_t milliseconds = std::int64_t{hour} * 3600000 + std::int64_t{minute} * 60000 +
                                      std::int64_t{second} * 1000 + millisecond;
    return static_cast<double>(milliseconds) / 86400000.0;
}

std::string SavedImageName(int hour, int minute, int second, int millisecond,
                           char decimalSeparator) {
    return std::string(SavedImagesFolder) +
           FormatDayFraction(DayFraction(hour, minute, second, millisecond), decimalSeparator) +
           ".bmp";
}
