#include "server/StunAnswer.h"

#include "protocol/wire/Stun.h"

namespace plimo {

std::optional<Bytes> stunAnswer(const Endpoint& from, ByteView packet) {
  if (from.isTcp()) return std::nullopt;
  auto id = Stun::bindingRequestId(packet);
  if (!id) return std::nullopt;
  return Stun::bindingSuccess(*id, {from.ip, from.port});
}

}  // namespace plimo
