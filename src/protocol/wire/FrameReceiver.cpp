#include "protocol/wire/FrameReceiver.h"

#include "protocol/wire/FrameChunk.h"

namespace plimo {

FrameReceiver::Result FrameReceiver::handleChunk(ByteView packet) {
  Result result;
  const auto chunk = FrameChunk::parse(packet, false);
  if (!chunk) return result;
  const uint32_t id = chunk->frameID;
  if (id == doneID_) {
    result.reply = FrameChunk::ack(id);
    return result;
  }
  // No bound on how far ahead: the sender's IDs run on while the windowed
  // transfer is in use, so a switch back arrives with a much higher ID.
  if (id < frameID_) return result;
  if (id == frameID_ && (!frame_ || chunk->count != frame_->count)) return result;
  if (id > frameID_) {
    frameID_ = id;
    frame_.emplace(chunk->count);
  }

  RxFrame& frame = *frame_;
  const bool stored = frame.store(chunk->index, chunk->payload);
  if (stored) frame.lastChunk = clock_.now();
  if (frame.have == frame.count) {
    result.blob = frame.join();
    doneID_ = frameID_;
    frame_.reset();
    result.reply = FrameChunk::ack(doneID_);
  } else if (chunk->index == chunk->count - 1 || !stored) {
    frame.lastNack = clock_.now();
    result.reply = frame.nack(frameID_);
  }
  return result;
}

std::optional<Bytes> FrameReceiver::pendingNack() {
  if (!frame_ || frame_->have == 0 || frame_->have >= frame_->count) return std::nullopt;
  frame_->lastNack = clock_.now();
  return frame_->nack(frameID_);
}

std::optional<Bytes> FrameReceiver::quickNack() {
  if (!frame_) return std::nullopt;
  const double now = clock_.now();
  // Strictly more than: at exactly the period the answer may still be on its way.
  if (now - frame_->lastChunk <= kQuickQuiet || now - frame_->lastNack <= kQuickRepeat) return std::nullopt;
  return pendingNack();
}

}  // namespace plimo
