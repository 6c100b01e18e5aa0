#pragma once
// Viewer side of the single-frame transfer: one frame at a time; a chunk of a
// newer frame discards the unfinished one.
//
// Main thread only, no lock, no callbacks; the owning session sends the
// replies it returns and shows the completed frames.

#include <cstdint>
#include <optional>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/wire/RxFrame.h"

namespace plimo {

class FrameReceiver {
 public:
  // quickNack: chunks have stopped for this long...
  static constexpr double kQuickQuiet = 0.02;
  // ...and no negative acknowledgement went out for this long (about one
  // local round trip, so that the answer to the last one can arrive first).
  static constexpr double kQuickRepeat = 0.04;

  struct Result {
    std::optional<Bytes> blob;   // a completed frame
    std::optional<Bytes> reply;  // acknowledgement or negative acknowledgement
  };

  // `clock` gives the uptime and must outlive the receiver.
  explicit FrameReceiver(const EventLoop& clock) : clock_(clock) {}

  // A 0x81 chunk. A malformed one changes nothing and gets no reply; in
  // particular a bad chunk of a newer frame does not discard the current one.
  Result handleChunk(ByteView packet);

  // Negative acknowledgement for the frame in progress when it has some but
  // not all chunks (the viewer calls this every 0.1 s).
  std::optional<Bytes> pendingNack();
  // The same, only once chunks have stopped (called every 10 ms).
  std::optional<Bytes> quickNack();

  uint32_t frameID() const { return frameID_; }
  uint32_t doneID() const { return doneID_; }
  const std::optional<RxFrame>& current() const { return frame_; }

 private:
  const EventLoop& clock_;
  uint32_t frameID_ = 0;  // frame being assembled (or just completed)
  uint32_t doneID_ = 0;   // last frame completed
  std::optional<RxFrame> frame_;  // nothing once completed
};

}  // namespace plimo
