#pragma once
// The words of a command line: split at every single space, empty words kept
// (two spaces make an empty word), as clients split the server's lines.

#include <string>
#include <string_view>
#include <vector>

namespace plimo {

inline std::vector<std::string> splitWords(std::string_view line) {
  std::vector<std::string> words;
  size_t start = 0;
  for (;;) {
    size_t space = line.find(' ', start);
    if (space == std::string_view::npos) {
      words.emplace_back(line.substr(start));
      return words;
    }
    words.emplace_back(line.substr(start, space - start));
    start = space + 1;
  }
}

// The word at `index`, or "" when the line is shorter.
inline const std::string& word(const std::vector<std::string>& words, size_t index) {
  static const std::string empty;
  return index < words.size() ? words[index] : empty;
}

}  // namespace plimo
