#pragma once
// Small text helpers for what arrives from files and the network.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plimo {

// A decimal integer with an optional leading sign ("+5", "-3"), nothing for
// any other text (also for a number past the 64-bit range).
std::optional<int64_t> parseDecimal(std::string_view text);

// `text` without white space and line ends at either end.
std::string_view trimWhitespace(std::string_view text);

// `text` without spaces and tabs at either end.
std::string_view trimBlanks(std::string_view text);

// `bytes` as UTF-8 text, every invalid sequence replaced by U+FFFD.
std::string utf8Lossy(std::string_view bytes);

// The words of a command line: split at every single space, empty words kept
// (two spaces make an empty word), as both ends of the server link split them.
std::vector<std::string> splitWords(std::string_view line);

// `text` with ASCII letters in lower case.
std::string asciiLower(std::string_view text);

// Equal ignoring the case of ASCII letters (INI sections and keys).
bool sameName(std::string_view a, std::string_view b);

}  // namespace plimo
