#pragma once
// A command line as it came sealed, its words (splitWords) and safe access
// to them.

#include <cstddef>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Text.h"

namespace plimo {

// The line without the blanks and NULs around it.
inline std::string trimmed(const Bytes& plain) {
  auto isSpace = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0; };
  size_t begin = 0, end = plain.size();
  while (begin < end && isSpace(plain[begin])) ++begin;
  while (end > begin && isSpace(plain[end - 1])) --end;
  return std::string(plain.begin() + ptrdiff_t(begin), plain.begin() + ptrdiff_t(end));
}

// The word at `index`, or "" when the line is shorter.
inline const std::string& word(const std::vector<std::string>& words, size_t index) {
  static const std::string empty;
  return index < words.size() ? words[index] : empty;
}

}  // namespace plimo
