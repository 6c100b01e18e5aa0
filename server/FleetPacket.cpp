#include "server/FleetPacket.h"

#include <charconv>

#include "protocol/wire/ServerPackets.h"
#include "server/IdRegistry.h"

namespace plimo {

namespace {

std::optional<std::string> idAt(ByteView plain, size_t at) {
  std::string id = std::to_string(readBE<uint32_t>(plain, at));
  if (!IdRegistry::isValid(id)) return std::nullopt;
  return id;
}

}  // namespace

std::optional<FleetPacket> FleetPacket::parse(ByteView plain) {
  if (plain.size() < kHeaderSize) return std::nullopt;
  FleetPacket p;
  p.kind = Kind(plain[0]);
  auto to = idAt(plain, 1), from = idAt(plain, 5);
  if (!to || !from || *to == *from) return std::nullopt;
  p.toID = *to;
  p.fromID = *from;
  p.packet = plain.subspan(kHeaderSize);
  bool relayed = p.kind == Kind::relayed && p.packet.size() >= 2 && p.packet[0] == ServerPacket::kRelayed;
  bool gone = p.kind == Kind::gone && p.packet.empty();
  if (!relayed && !gone) return std::nullopt;
  return p;
}

Bytes FleetPacket::plain() const {
  Bytes out;
  out.reserve(kHeaderSize + packet.size());
  out.push_back(uint8_t(kind));
  for (const std::string* id : {&toID, &fromID}) {
    uint32_t n = 0;
    std::from_chars(id->data(), id->data() + id->size(), n);
    appendBE(out, n);
  }
  append(out, packet);
  return out;
}

}  // namespace plimo
