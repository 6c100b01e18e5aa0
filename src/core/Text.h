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

// `text` safe to show on a terminal or write as one log line: invalid UTF-8
// becomes U+FFFD, every C0 and C1 control character and DEL becomes its
// visible escape ("\x1b", "\x9b"), and the bidirectional embeddings,
// overrides and isolates become U+FFFD, so text from outside can neither
// move the cursor, hide or recolour what follows, start a new line nor
// reorder it.
std::string printable(std::string_view text);

// The words of a command line: split at every single space, empty words kept
// (two spaces make an empty word), as both ends of the server link split them.
std::vector<std::string> splitWords(std::string_view line);

// `text` with ASCII letters in lower case.
std::string asciiLower(std::string_view text);

// Equal ignoring the case of ASCII letters (INI sections and keys).
bool sameName(std::string_view a, std::string_view b);

}  // namespace plimo
