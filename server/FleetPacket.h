#pragma once
// What one server of a fleet passes another over UDP for the partners it
// introduced across them (FleetRelay seals it):
//
//   datagram:  sender (8 bytes) ‖ a SecureChannel packet of type kType
//   plaintext: kind (1) ‖ to ID (4, big-endian) ‖ from ID (4) ‖ [packet]
//
// The sender names the key it was sealed under (the first 8 bytes of the
// SHA-256 of the sending server's relay key). A relayed packet carries one
// 0x14 packet of the partner on the sending server, as that client sent it;
// gone says that the partner's session there ended, and carries nothing
// more. Read strictly: another kind, an ID that is none, a relayed packet
// that is no 0x14 packet or a gone that carries bytes is no packet at all.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo {

struct FleetPacket {
  static constexpr uint8_t kType = 0x15;
  static constexpr size_t kSenderSize = 8;
  static constexpr size_t kHeaderSize = 9;
  // Each datagram's bytes beyond the partner's packet.
  static constexpr size_t kOverhead = kSenderSize + SecureChannel::kOverhead + kHeaderSize;

  enum class Kind : uint8_t { relayed = 1, gone = 2 };
  Kind kind = Kind::gone;
  std::string toID, fromID;  // 9 digits each
  ByteView packet;           // relayed: inside the plaintext parsed

  // Nothing for a plaintext that is not one of the two.
  static std::optional<FleetPacket> parse(ByteView plain);
  Bytes plain() const;
};

}  // namespace plimo
