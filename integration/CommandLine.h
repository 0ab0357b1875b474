#pragma once
// Command lines of the event commands, taken apart into words once and never
// given to a shell: quotes group a word as a shell's would, but nothing is
// expanded, so `$(...)`, `;` or a backquote are plain characters. The
// placeholders ({clip}, {start}, ...) are filled in word by word, so a value
// with spaces or quotes stays one argument.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class ECommandLine : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Splits at blanks outside quotes. 'single quotes' keep everything as it is;
// "double quotes" and a backslash outside quotes take the next character
// literally. Throws ECommandLine for an unterminated quote or a trailing
// backslash.
std::vector<std::string> SplitCommandLine(const std::string& line);

// Placeholder names (without braces) and their values.
using TPlaceholders = std::vector<std::pair<std::string, std::string>>;

// Replaces each {name} of a known placeholder in each word by its value, in
// one pass: a value is never searched for placeholders again. Unknown names
// stay as they are.
std::vector<std::string> FillPlaceholders(const std::vector<std::string>& words,
                                          const TPlaceholders& values);
