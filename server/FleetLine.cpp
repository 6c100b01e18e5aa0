#include "server/FleetLine.h"

#include <charconv>
#include <vector>

#include "server/ClientSession.h"
#include "server/Endpoint.h"
#include "server/IdRegistry.h"
#include "server/Registrant.h"

namespace plimo {

namespace {

constexpr size_t kKeyHexLength = 128;

std::vector<std::string_view> split(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (true) {
    size_t space = text.find(' ', start);
    words.push_back(text.substr(start, space - start));
    if (space == std::string_view::npos) return words;
    start = space + 1;
  }
}

bool allOf(std::string_view text, bool (*ok)(char)) {
  for (char c : text) {
    if (!ok(c)) return false;
  }
  return !text.empty();
}

bool hexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool decimalDigit(char c) { return c >= '0' && c <= '9'; }

bool port(std::string_view text, uint16_t& out) {
  if (text.size() > 5 || !allOf(text, decimalDigit) || (text.size() > 1 && text[0] == '0')) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

bool ipv4(std::string_view text, std::string& out) {
  uint32_t ip = 0;
  out = std::string(text);
  return text.size() <= 15 && parseIPv4(out, ip);
}

bool transport(std::string_view text, bool& tcp) {
  tcp = text == "T";
  return text == "T" || text == "U";
}

bool id(std::string_view text, std::string& out) {
  out = std::string(text);
  return IdRegistry::isValid(out);
}

// ip port lanIP lanPort key
bool addresses(const std::vector<std::string_view>& w, size_t at, PeerAbout& about) {
  if (!ipv4(w[at], about.ip) || !port(w[at + 1], about.port) || !ipv4(w[at + 2], about.lanIP) ||
      !port(w[at + 3], about.lanPort) || w[at + 4].size() != kKeyHexLength || !allOf(w[at + 4], hexDigit)) {
    return false;
  }
  about.keyHex = std::string(w[at + 4]);
  return true;
}

std::string addressText(const PeerAbout& a) {
  return a.ip + " " + std::to_string(a.port) + " " + a.lanIP + " " + std::to_string(a.lanPort) + " " + a.keyHex;
}

std::string nonceText(uint64_t nonce) {
  static const char* digits = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, nonce >>= 4) text[i] = digits[nonce & 15];
  return text;
}

}  // namespace

PeerAbout PeerAbout::of(const ClientSession& session, const Registrant& registrant) {
  return {session.endpoint.ipText(), session.endpoint.port, registrant.lanIP, registrant.lanPort,
          registrant.peerKeyHex, registrant.id, session.endpoint.isTcp()};
}

std::string PeerAbout::peerLine() const {
  return "PEER " + ip + " " + std::to_string(port) + " " + lanIP + " " + std::to_string(lanPort) + " " + keyHex + " " +
         id + " - " + (tcp ? "T" : "U");
}

bool FleetLine::validServerName(std::string_view name) {
  return name.size() <= kMaxServerName && allOf(name, [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || decimalDigit(c) || c == '.' || c == ':' ||
                  c == '_' || c == '-';
         });
}

std::string FleetLine::text() const {
  std::string head = nonceText(nonce) + " " + from + " " + to;
  switch (kind) {
    case Kind::ask:
      return "ASK " + head + " " + about.id + " " + (pinned ? "P " : "- ") + addressText(about) + " " +
             (about.tcp ? "T " : "U ") + wanted;
    case Kind::peer:
      return "PEER " + head + " " + addressText(about) + " " + about.id + " " + (about.tcp ? "T" : "U");
    case Kind::no:
      break;
  }
  return "NO " + head;
}

std::optional<FleetLine> FleetLine::parse(std::string_view text) {
  if (text.size() > kMaxLength) return std::nullopt;
  std::vector<std::string_view> w = split(text);
  FleetLine line;
  if (w[0] == "ASK" && w.size() == 13) {
    line.kind = Kind::ask;
  } else if (w[0] == "PEER" && w.size() == 11) {
    line.kind = Kind::peer;
  } else if (w[0] == "NO" && w.size() == 4) {
    line.kind = Kind::no;
  } else {
    return std::nullopt;
  }
  if (w[1].size() != 16 || !allOf(w[1], hexDigit)) return std::nullopt;
  std::from_chars(w[1].data(), w[1].data() + 16, line.nonce, 16);
  if (!validServerName(w[2]) || !validServerName(w[3])) return std::nullopt;
  line.from = std::string(w[2]);
  line.to = std::string(w[3]);
  bool ok = true;
  if (line.kind == Kind::ask) {
    ok = id(w[4], line.about.id) && (w[5] == "P" || w[5] == "-") && addresses(w, 6, line.about) &&
         transport(w[11], line.about.tcp) && id(w[12], line.wanted) && line.wanted != line.about.id;
    line.pinned = w[5] == "P";
  } else if (line.kind == Kind::peer) {
    ok = addresses(w, 4, line.about) && id(w[9], line.about.id) && transport(w[10], line.about.tcp);
  }
  if (!ok) return std::nullopt;
  return line;
}

}  // namespace plimo
