#include "core/Text.h"

#include <charconv>

namespace plimo {

std::optional<int64_t> parseDecimal(std::string_view text) {
  // from_chars takes a minus sign but not a plus.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view trimWhitespace(std::string_view text) {
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
  };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string> splitWords(std::string_view line) {
  std::vector<std::string> words;
  for (;;) {
    size_t space = line.find(' ');
    words.emplace_back(line.substr(0, space));
    if (space == std::string_view::npos) return words;
    line.remove_prefix(space + 1);
  }
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

std::string utf8Lossy(std::string_view bytes) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto b = uint8_t(bytes[i]);
    size_t length = 0;
    uint32_t min = 0;
    if (b < 0x80) {
      out.push_back(char(b));
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) length = 2, min = 0x80;
    else if (b >= 0xE0 && b <= 0xEF) length = 3, min = 0x800;
    else if (b >= 0xF0 && b <= 0xF4) length = 4, min = 0x10000;
    uint32_t code = length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    size_t n = 1;
    while (length && n < length && i + n < bytes.size() && (uint8_t(bytes[i + n]) & 0xC0) == 0x80) {
      code = (code << 6) | (uint8_t(bytes[i + n]) & 0x3F);
      ++n;
    }
    bool valid = length && n == length && code >= min && code <= 0x10FFFF &&
                 !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      // One replacement per maximal bad prefix, then carry on after it.
      out.append(kReplacement);
      i += n;
    }
  }
  return out;
}

std::string printable(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string valid = utf8Lossy(text);
  std::string out;
  out.reserve(valid.size());
  auto escape = [&](uint8_t code) {
    out += "\\x";
    out.push_back(kHex[code >> 4]);
    out.push_back(kHex[code & 0xF]);
  };
  for (size_t i = 0; i < valid.size(); ++i) {
    auto b = uint8_t(valid[i]);
    if (b < 0x20 || b == 0x7F) {
      escape(b);
    } else if (b == 0xC2 && i + 1 < valid.size() && uint8_t(valid[i + 1]) <= 0x9F) {
      escape(uint8_t(valid[++i]));  // U+0080..U+009F: the C1 controls
    } else if (b == 0xE2 && i + 2 < valid.size() &&
               ((uint8_t(valid[i + 1]) == 0x80 && uint8_t(valid[i + 2]) >= 0xAA &&
                 uint8_t(valid[i + 2]) <= 0xAE) ||
                (uint8_t(valid[i + 1]) == 0x81 && uint8_t(valid[i + 2]) >= 0xA6 &&
                 uint8_t(valid[i + 2]) <= 0xA9))) {
      out += kReplacement;  // U+202A..U+202E, U+2066..U+2069
      i += 2;
    } else {
      out.push_back(char(b));
    }
  }
  return out;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace plimo
