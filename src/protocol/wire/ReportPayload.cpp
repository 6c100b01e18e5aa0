#include "protocol/wire/ReportPayload.h"

#include <openssl/evp.h>

#include "core/Text.h"

namespace plimo::ReportPayload {

namespace {

constexpr std::string_view kTag = "R1";
// Decoded fields may be up to 4 bytes a character.
constexpr size_t kBytesPerCharacter = 4;

// The first `count` characters of valid UTF-8 text.
std::string firstCharacters(std::string text, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((uint8_t(text[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (seen++ == count) {
      text.resize(i);
      break;
    }
  }
  return text;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string cleanField(std::string_view text) {
  std::string out = utf8Lossy(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  out = out.substr(first, out.find_last_not_of(' ') - first + 1);
  return firstCharacters(std::move(out), kMaxField);
}

std::string cleanDescription(std::string_view text) {
  std::string out = firstCharacters(utf8Lossy(trimWhitespace(text)), kMaxDescription);
  replaceAll(out, "\r\n", "\n");
  replaceAll(out, "\r", "\n");
  return out;
}

std::string encode(const ReportFields& f) {
  std::string text;
  for (const std::string& line :
       {std::string(kTag), f.ref, std::to_string(f.started), std::to_string(f.ended), std::to_string(f.seconds),
        f.helpedID, cleanField(f.pcName), cleanField(f.helperName), cleanField(f.customer), cleanField(f.contact),
        std::string(f.billable ? "1" : "0"), std::to_string(f.minutes)}) {
    text += line;
    text += '\n';
  }
  text += cleanDescription(f.description);
  return toBase64(text);
}

std::optional<ReportFields> decode(std::string_view base64) {
  auto text = fromBase64(base64);
  if (!text) return std::nullopt;
  // Twelve lines, then the description (which may hold line breaks itself).
  std::vector<std::string> lines;
  size_t start = 0;
  while (lines.size() < 12) {
    size_t lf = text->find('\n', start);
    if (lf == std::string::npos) return std::nullopt;
    lines.push_back(text->substr(start, lf - start));
    start = lf + 1;
  }
  ReportFields r;
  r.description = text->substr(start);
  auto number = [](const std::string& line, int64_t& out) {
    auto value = parseDecimal(line);
    if (value) out = *value;
    return value.has_value();
  };
  bool billable = lines[10] == "1";
  if (lines[0] != kTag || lines[1].empty() || !number(lines[2], r.started) || !number(lines[3], r.ended) ||
      !number(lines[4], r.seconds) || !number(lines[11], r.minutes) || (!billable && lines[10] != "0") ||
      r.description.size() > kMaxDescription * kBytesPerCharacter) {
    return std::nullopt;
  }
  for (size_t i = 6; i <= 9; ++i) {
    if (lines[i].size() > kMaxField * kBytesPerCharacter) return std::nullopt;
  }
  r.ref = lines[1];
  r.helpedID = lines[5];
  r.pcName = lines[6];
  r.helperName = lines[7];
  r.customer = lines[8];
  r.contact = lines[9];
  r.billable = billable;
  return r;
}

std::vector<std::string> commandLines(const std::string& msgID, std::string_view payload) {
  size_t n = (payload.size() + kPieceSize - 1) / kPieceSize;
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) {
    lines.push_back("REPORT " + msgID + " " + std::to_string(i) + " " + std::to_string(n) + " " +
                    std::string(payload.substr(i * kPieceSize, kPieceSize)));
  }
  return lines;
}

std::string toBase64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()));
  out.resize(size_t(n));
  return out;
}

std::optional<std::string> fromBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  out.resize(size_t(n) - padding);
  return out;
}

}  // namespace plimo::ReportPayload
