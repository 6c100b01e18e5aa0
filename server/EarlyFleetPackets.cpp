#include "server/EarlyFleetPackets.h"

namespace plimo {

bool EarlyFleetPackets::hold(uint64_t serial, const std::string& server, const std::string& fromID,
                             ByteView packet, double now) {
  expire(now);
  Use& from = perServer_[server];
  if (from.packets >= kPerServer || from.bytes + packet.size() > kBytesPerServer || total_.packets >= kTotal ||
      total_.bytes + packet.size() > kTotalBytes) {
    if (from.packets == 0) perServer_.erase(server);
    return false;
  }
  ++from.packets;
  from.bytes += packet.size();
  ++total_.packets;
  total_.bytes += packet.size();
  held_.push_back({serial, server, fromID, Bytes(packet.begin(), packet.end()), now});
  return true;
}

std::vector<Bytes> EarlyFleetPackets::take(uint64_t serial, const std::string& server, const std::string& fromID,
                                           double now) {
  expire(now);
  std::vector<Bytes> out;
  for (auto it = held_.begin(); it != held_.end();) {
    if (it->serial != serial || it->server != server || it->fromID != fromID) {
      ++it;
      continue;
    }
    release(*it);
    out.push_back(std::move(it->packet));
    it = held_.erase(it);
  }
  return out;
}

void EarlyFleetPackets::expire(double now) {
  while (!held_.empty() && now - held_.front().at > kHoldFor) {
    release(held_.front());
    held_.pop_front();
  }
}

void EarlyFleetPackets::release(const Held& held) {
  Use& from = perServer_[held.server];
  --from.packets;
  from.bytes -= held.packet.size();
  total_.packets -= 1;
  total_.bytes -= held.packet.size();
  if (from.packets == 0) perServer_.erase(held.server);
}

}  // namespace plimo
