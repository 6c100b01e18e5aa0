#pragma once
// The lines the servers of a fleet pass each other (through the store's
// notifications, one channel per server) to introduce a helper on one to a
// PC on another:
//
//   ASK nonce from to helperID P|- ip port lanIP lanPort key U|T pcID
//   PEER nonce from to ip port lanIP lanPort key pcID U|T
//   NO nonce from to
//
// ASK carries what the helper's PEER line says of it and whether its server
// session kept its ID with its secret (P), for the PC's unattended gate;
// PEER answers with the PC's; NO says the PC is not there for this helper.
// Read strictly: one space between words, nothing missing or left over, every
// word checked; anything else is no line at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plimo {

struct ClientSession;
struct Registrant;

// What a PEER line tells one partner of the other.
struct PeerAbout {
  std::string ip;
  uint16_t port = 0;
  std::string lanIP;
  uint16_t lanPort = 0;
  std::string keyHex;
  std::string id;
  bool tcp = false;  // reaches its server over the TCP fallback

  static PeerAbout of(const ClientSession& session, const Registrant& registrant);
  // "PEER ip port lanIP lanPort key id - U|T": the server knows no display names.
  std::string peerLine() const;
};

struct FleetLine {
  static constexpr size_t kMaxLength = 400;
  static constexpr size_t kMaxServerName = 100;

  enum class Kind { ask, peer, no };
  Kind kind = Kind::no;
  uint64_t nonce = 0;
  std::string from, to;  // server names
  // ASK: the helper; PEER: the PC.
  PeerAbout about;
  bool pinned = false;  // ASK
  std::string wanted;   // ASK: the PC's ID

  std::string text() const;
  static std::optional<FleetLine> parse(std::string_view text);
  // Letters, digits and ".:_-": a host name and port.
  static bool validServerName(std::string_view name);
};

}  // namespace plimo
