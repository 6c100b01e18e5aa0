#pragma once
// Clipboard text (channel message 97, extension "clipboard"): a format byte
// (1, UTF-8 text), then the text, at most kMaxText bytes and never empty.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"

namespace plimo::ClipboardText {

inline constexpr uint8_t kUtf8 = 1;
inline constexpr size_t kMaxText = 1048576;

// The caller keeps to kMaxText and gives text that is not empty.
Bytes encode(std::string_view text);
// Nothing for an empty or unknown payload, a text past kMaxText or one of
// control characters only. The text
// read is plain text: invalid UTF-8 becomes U+FFFD and every control
// character but tab, line feed and carriage return is left out, so a paste
// into a terminal cannot carry escape sequences.
std::optional<std::string> decode(ByteView payload);

}  // namespace plimo::ClipboardText
