#include "protocol/wire/FrameWindowReceiver.h"

#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/FrameChunk.h"

namespace plimo {

size_t FrameWindowReceiver::heldAhead(uint32_t next) const {
  size_t total = 0;
  for (const auto& [id, frame] : frames_) {
    if (id > next) total += frame.bytes;
  }
  return total;
}

FrameWindowReceiver::Result FrameWindowReceiver::handleChunk(ByteView packet) {
  Result result;
  const auto chunk = FrameChunk::parse(packet, true);
  if (!chunk || chunk->frameID < chunk->oldest) return result;

  // Decide everything before changing anything, so that an ignored chunk
  // leaves no trace. The oldest ID may move `next` forward: the sender has
  // given up the frames before it.
  const uint32_t next = (next_ == 0 || next_ < chunk->oldest) ? chunk->oldest : next_;
  const uint32_t id = chunk->frameID;
  if (id < next) {
    result.reply = FrameChunk::ack(id);
    return result;
  }
  if (id - next > kAhead) return result;
  auto it = frames_.find(id);
  if (it != frames_.end() && it->second.count != chunk->count) return result;
  const bool complete = it != frames_.end() && it->second.complete;
  const bool isNew = !complete && (it == frames_.end() || !it->second.got[chunk->index]);
  if (isNew && id != next && heldAhead(next) + chunk->payload.size() > maxHeldAhead_) return result;

  if (next != next_) {
    frames_.erase(frames_.begin(), frames_.lower_bound(next));
    next_ = next;
  }
  if (complete) {
    // Held until the frames before it are complete; its acknowledgement
    // was lost.
    result.reply = FrameChunk::ack(id);
  } else {
    if (it == frames_.end()) it = frames_.emplace(id, RxFrame(chunk->count)).first;
    RxFrame& frame = it->second;
    frame.lastChunk = clock_.now();
    const bool stored = frame.store(chunk->index, chunk->payload);
    if (frame.have == frame.count) {
      frame.complete = true;
      result.reply = FrameChunk::ack(id);
    } else if (chunk->index == chunk->count - 1 || !stored) {
      result.reply = makeNack(id, frame);
    }
  }

  for (auto head = frames_.find(next_); head != frames_.end() && head->second.complete;
       head = frames_.find(next_)) {
    result.blobs.push_back(head->second.join());
    frames_.erase(head);
    ++next_;
  }
  return result;
}

Bytes FrameWindowReceiver::makeNack(uint32_t frameID, RxFrame& frame) {
  frame.lastNack = clock_.now();
  return frame.nack(frameID);
}

std::vector<Bytes> FrameWindowReceiver::pendingNacks(double quiet) {
  std::vector<Bytes> out;
  const double now = clock_.now();
  for (auto& [id, frame] : frames_) {
    if (frame.complete || frame.have == 0) continue;
    if (elapsed(now, frame.lastChunk, quiet) && elapsed(now, frame.lastNack, quiet)) out.push_back(makeNack(id, frame));
  }
  return out;
}

}  // namespace plimo
