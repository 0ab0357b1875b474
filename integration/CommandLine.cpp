#include "integration/CommandLine.h"

#include <algorithm>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (IsBlank(c)) {
            if (inWord) {
                words.push_back(word);
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '\\') {
            if (++i == line.size()) {
                throw ECommandLine("The command line ends with a backslash");
            }
            word += line[i];
        } else if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            for (; j < line.size() && line[j] != c; ++j) {
                if (c == '"' && line[j] == '\\' && j + 1 < line.size()) {
                    ++j;
                }
                word += line[j];
            }
            if (j >= line.size()) {
                throw ECommandLine(std::string("The command line has an unterminated ") +
                                   (c == '"' ? "double" : "single") + " quote");
            }
            i = j;
        } else {
            word += c;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

std::vector<std::string> FillPlaceholders(const std::vector<std::string>& words,
                                          const TPlaceholders& values) {
    std::vector<std::string> filled;
    filled.reserve(words.size());
    for (const std::string& word : words) {
        std::string out;
        std::size_t at = 0;
        while (at < word.size()) {
            const std::size_t open = word.find('{', at);
            const std::size_t close =
                open == std::string::npos ? std::string::npos : word.find('}', open);
            if (close == std::string::npos) {
                out.append(word, at, std::string::npos);
                break;
            }
            out.append(word, at, open - at);
            const std::string name = word.substr(open + 1, close - open - 1);
            const auto value = std::find_if(values.begin(), values.end(),
                                            [&](const auto& pair) { return pair.first == name; });
            if (value != values.end()) {
                out += value->second;
                at = close + 1;
            } else {
                out += '{';
                at = open + 1;
            }
        }
        filled.push_back(std::move(out));
    }
    return filled;
}
