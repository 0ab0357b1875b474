#pragma once
// Reads the fuzzer's bytes as a stream of small decisions and data; past the
// end every read gives zeros, so any input is a valid case.

#include <cstddef>
#include <cstdint>
#include <string>

class TFuzzInput {
public:
    TFuzzInput(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}

    std::uint8_t Byte() { return Pos < Size ? Data[Pos++] : 0; }

    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | Byte();
        }
        return value;
    }

    // A number in [low, high].
    int Between(int low, int high) {
        const auto span = static_cast<std::uint32_t>(high - low) + 1;
        return low + static_cast<int>(Word() % span);
    }

    // Up to maxLength bytes, the length chosen by the input.
    std::string Text(std::size_t maxLength) {
        const std::size_t length = Word() % (maxLength + 1);
        std::string text;
        for (std::size_t i = 0; i < length && Pos < Size; ++i) {
            text += static_cast<char>(Byte());
        }
        return text;
    }

    std::string Rest() {
        std::string text(reinterpret_cast<const char*>(Data) + Pos, Size - Pos);
        Pos = Size;
        return text;
    }

    bool Empty() const { return Pos >= Size; }

private:
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Pos = 0;
};
