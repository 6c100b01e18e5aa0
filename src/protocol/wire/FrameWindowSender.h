#pragma once
// Host side of frame transfer: cuts each picture frame into numbered chunks,
// sends them at a bounded rate, re-sends exactly the chunks the viewer reports
// missing, and probes with a frame's last chunk when everything has been sent
// but nothing answered.
//
// One sender serves both variants: `legacy` (single-frame, 0x81 chunks, at
// most one frame in flight) and windowed (0x8B chunks carrying the oldest ID
// still held, so the viewer can skip frames given up here). Frame IDs run on
// across a change of variant and are never reused.
//
// Main thread only, no lock, no callbacks; the owning session sends what
// nextPackets() returns.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"

namespace plimo {

struct TxFrame {
  uint32_t id = 0;
  std::vector<Bytes> chunks;   // complete chunk packets, by index
  std::deque<uint16_t> queue;  // indices waiting to be sent, in sending order
  double started = 0.0;        // uptime at start()
  double lastSend = 0.0;       // uptime of the last transmission, 0 before the first
  // Uptime when every chunk had gone out once: a frame is late only from
  // then on, however long a slow link takes to carry it.
  std::optional<double> sentWhole;
};

class FrameWindowSender {
 public:
  // A frame with every chunk sent and no answer gets its last chunk again
  // after this long; the viewer answers a repeated last chunk with an
  // acknowledgement or a negative acknowledgement.
  static constexpr double kProbeAfter = 0.15;

  // `clock` gives the uptime and must outlive the sender.
  explicit FrameWindowSender(const EventLoop& clock) : clock_(clock) {}

  // Cuts `frame` into chunks and queues them all; returns its ID. Nothing
  // (and nothing queued) for a frame of more than 65535 chunks (78 MB).
  std::optional<uint32_t> start(ByteView frame);

  // At most `budget` chunk packets to send now, oldest frame first: queued
  // chunks, or when none are queued, the tail probes that are due.
  std::vector<Bytes> nextPackets(size_t budget);

  // 0x82: true when it released a frame.
  bool handleAck(ByteView packet);
  // 0x83: the frame's queue becomes the listed indices. Ignored when
  // malformed (short, lying count, more than 500 indices) or for a frame not
  // held.
  void handleNack(ByteView packet);

  // Gives up every frame in flight (display switch, change of variant, a
  // transfer that took too long). The viewer skips them.
  void clear() { frames_.clear(); }

  // Whether the host may start another frame: none in flight with the legacy
  // transfer, fewer than maxInFlight with the windowed one.
  bool hasRoom() const { return legacy_ ? frames_.empty() : frames_.size() < maxInFlight_; }

  bool legacy() const { return legacy_; }
  // Applies to frames started afterwards; the session clears the frames in
  // flight when the variant changes.
  void setLegacy(bool on) { legacy_ = on; }
  size_t maxInFlight() const { return maxInFlight_; }
  void setMaxInFlight(size_t n) { maxInFlight_ = n; }

  const std::deque<TxFrame>& frames() const { return frames_; }
  uint32_t lastID() const { return nextID_; }

 private:
  TxFrame* find(uint32_t id);

  const EventLoop& clock_;
  std::deque<TxFrame> frames_;
  uint32_t nextID_ = 0;  // last ID given out
  size_t maxInFlight_ = 1;
  bool legacy_ = true;
};

}  // namespace plimo
