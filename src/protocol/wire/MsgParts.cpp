#include "protocol/wire/MsgParts.h"

namespace plimo {

std::optional<Bytes> MsgParts::whole(const ChannelMsg& msg) {
  Bytes& gathered = parts_[msg.kind];
  if (gathered.size() + msg.data.size() <= kMaxGathered) append(gathered, msg.data);
  if (msg.more) return std::nullopt;
  Bytes out = std::move(gathered);
  parts_.erase(msg.kind);
  return out;
}

}  // namespace plimo
