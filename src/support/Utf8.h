#pragma once
// Decoding of text from files and the network that may not be valid UTF-8.

#include <string>
#include <string_view>

namespace plimo {

// Returns `bytes` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string sanitizeUtf8(std::string_view bytes);

}  // namespace plimo
