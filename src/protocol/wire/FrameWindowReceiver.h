#pragma once
// Viewer side of the windowed frame transfer: reassembles several frames at
// once and delivers them complete and in ID order, acknowledging each
// complete frame and reporting missing chunks.
//
// Main thread only, no lock, no callbacks; the owning session sends the
// replies it returns and shows the delivered frames.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/wire/RxFrame.h"

namespace plimo {

class FrameWindowReceiver {
 public:
  // Frames held ahead of the next one to deliver; the host keeps at most a
  // few in flight, so anything further is not from a working sender.
  static constexpr uint32_t kAhead = 64;
  // Payload held for frames other than the next one to deliver. The next
  // frame is always accepted, so delivery can go on; this only stops a
  // sender from filling the viewer's memory with frames it never finishes.
  // The host keeps at most four in flight, and four full 4K tile pictures
  // fit.
  static constexpr size_t kMaxHeldAhead = size_t(64) << 20;

  struct Result {
    std::optional<Bytes> reply;  // acknowledgement or negative acknowledgement
    std::vector<Bytes> blobs;    // frames now deliverable, in ID order
  };

  // `clock` gives the uptime and must outlive the receiver.
  explicit FrameWindowReceiver(const EventLoop& clock, size_t maxHeldAhead = kMaxHeldAhead)
      : clock_(clock), maxHeldAhead_(maxHeldAhead) {}

  // A 0x8B chunk. A malformed chunk, one older than the sender's oldest or
  // 64 or more IDs ahead changes nothing and gets no reply.
  Result handleChunk(ByteView packet);

  // Negative acknowledgement for a stored frame; stamps its lastNack.
  Bytes makeNack(uint32_t frameID, RxFrame& frame);

  // Stall recovery: a negative acknowledgement for every incomplete frame
  // with at least one chunk whose last chunk and last negative
  // acknowledgement are both `quiet` seconds old or older, in ID order.
  std::vector<Bytes> pendingNacks(double quiet);

  uint32_t next() const { return next_; }
  const std::map<uint32_t, RxFrame>& frames() const { return frames_; }

 private:
  size_t heldAhead(uint32_t next) const;

  const EventLoop& clock_;
  const size_t maxHeldAhead_;
  std::map<uint32_t, RxFrame> frames_;
  uint32_t next_ = 0;  // next ID to deliver; 0 until the first chunk
};

}  // namespace plimo
