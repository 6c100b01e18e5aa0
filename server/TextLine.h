#pragma once
// The words of a command line (splitWords) and safe access to them.

#include <string>
#include <vector>

#include "core/Text.h"

namespace plimo {

// The word at `index`, or "" when the line is shorter.
inline const std::string& word(const std::vector<std::string>& words, size_t index) {
  static const std::string empty;
  return index < words.size() ? words[index] : empty;
}

}  // namespace plimo
