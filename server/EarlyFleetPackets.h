#pragma once
// Relayed packets of a PC on another server of the fleet that reach this
// server before its answer to the helper's introduction does: the PC hears
// PEER and starts at once, while the answer still crosses the store's
// notifications, so its first packets come over the fleet port ahead of it.
// They wait here for the helper's PEER line, then go to the helper in order.
//
// Bounded: in packets and bytes per sending server and in total (an
// authenticated server still sends what its clients make it), and each
// packet only kHoldFor; what does not fit is dropped.
//
// One thread (the server loop). Owned by the Rendezvous.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"

namespace plimo {

class EarlyFleetPackets {
 public:
  // An answer is well under a second unless a server is gone.
  static constexpr double kHoldFor = 2.0;
  // A partner session's start is a handful of packets.
  static constexpr size_t kPerServer = 64;
  static constexpr size_t kBytesPerServer = 48 * 1024;
  static constexpr size_t kTotal = 256;
  static constexpr size_t kTotalBytes = 192 * 1024;

  // Holds `packet` from `fromID` on `server` for the session `serial`;
  // false when it does not fit.
  bool hold(uint64_t serial, const std::string& server, const std::string& fromID, ByteView packet, double now);
  // What is held for that pair, oldest first, no longer held.
  std::vector<Bytes> take(uint64_t serial, const std::string& server, const std::string& fromID, double now);

 private:
  struct Held {
    uint64_t serial;
    std::string server, fromID;
    Bytes packet;
    double at;
  };
  struct Use {
    size_t packets = 0, bytes = 0;
  };

  void expire(double now);
  void release(const Held& held);

  std::deque<Held> held_;  // oldest first
  std::unordered_map<std::string, Use> perServer_;
  Use total_;
};

}  // namespace plimo
