#include "protocol/wire/FrameWindowSender.h"

#include <algorithm>
#include <cstdlib>

#include "protocol/wire/ChannelMsg.h"
#include "protocol/wire/FrameChunk.h"

namespace plimo {

std::optional<uint32_t> FrameWindowSender::start(ByteView frame) {
  using namespace FrameChunk;
  const size_t count = std::max<size_t>(1, (frame.size() + kPayload - 1) / kPayload);
  if (count > kMaxChunks) return std::nullopt;
  // IDs are never reused within a session; a wrapped counter would make the
  // viewer acknowledge new frames as old ones.
  if (++nextID_ == 0) std::abort();

  TxFrame tx;
  tx.id = nextID_;
  tx.started = clock_.now();
  tx.chunks.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const size_t from = i * kPayload;
    const size_t size = std::min(kPayload, frame.size() - from);
    Bytes packet;
    packet.reserve((legacy_ ? kSingleHeader : kWindowedHeader) + size);
    packet.push_back(legacy_ ? SessionPacket::kFrameChunk : SessionPacket::kWindowedChunk);
    appendLE<uint32_t>(packet, tx.id);
    appendLE<uint16_t>(packet, uint16_t(i));
    appendLE<uint16_t>(packet, uint16_t(count));
    if (!legacy_) appendLE<uint32_t>(packet, 0);  // oldest ID, written at each sending
    append(packet, frame.subspan(from, size));
    tx.chunks.push_back(std::move(packet));
    tx.queue.push_back(uint16_t(i));
  }
  frames_.push_back(std::move(tx));
  return nextID_;
}

std::vector<Bytes> FrameWindowSender::nextPackets(size_t budget) {
  std::vector<Bytes> out;
  if (frames_.empty()) return out;
  const double now = clock_.now();
  const uint32_t oldest = frames_.front().id;
  auto add = [&](TxFrame& f, uint16_t index) {
    Bytes packet = f.chunks[index];
    if (packet[0] == SessionPacket::kWindowedChunk) writeLE<uint32_t>(packet.data() + 9, oldest);
    out.push_back(std::move(packet));
    f.lastSend = now;
  };

  for (TxFrame& f : frames_) {
    while (!f.queue.empty() && out.size() < budget) {
      add(f, f.queue.front());
      f.queue.pop_front();
      if (f.queue.empty() && !f.sentWhole) f.sentWhole = now;
    }
    if (out.size() >= budget) break;
  }
  if (!out.empty()) return out;

  for (TxFrame& f : frames_) {
    if (out.size() >= budget) break;
    if (elapsed(now, f.lastSend, kProbeAfter)) add(f, uint16_t(f.chunks.size() - 1));
  }
  return out;
}

TxFrame* FrameWindowSender::find(uint32_t id) {
  auto it = std::find_if(frames_.begin(), frames_.end(), [id](const TxFrame& f) { return f.id == id; });
  return it == frames_.end() ? nullptr : &*it;
}

bool FrameWindowSender::handleAck(ByteView packet) {
  if (packet.size() < 5 || packet[0] != SessionPacket::kFrameAck) return false;
  const uint32_t id = readLE32(packet, 1);
  auto it = std::find_if(frames_.begin(), frames_.end(), [id](const TxFrame& f) { return f.id == id; });
  if (it == frames_.end()) return false;
  frames_.erase(it);
  return true;
}

void FrameWindowSender::handleNack(ByteView packet) {
  using namespace FrameChunk;
  if (packet.size() < kNackHeader || packet[0] != SessionPacket::kFrameNack) return;
  const size_t n = readLE16(packet, 5);
  if (n > kMaxNackIndices || packet.size() < kNackHeader + 2 * n) return;
  TxFrame* f = find(readLE32(packet, 1));
  if (!f) return;

  const size_t count = f->chunks.size();
  std::vector<bool> listed(count, false);
  std::deque<uint16_t> queue;
  int highest = -1;
  for (size_t i = 0; i < n; ++i) {
    const uint16_t index = readLE16(packet, kNackHeader + 2 * i);
    if (index >= count || listed[index]) continue;
    listed[index] = true;
    queue.push_back(index);
    highest = std::max<int>(highest, index);
  }
  // A full list may have been cut at 500 entries: the viewer said nothing
  // about the chunks after the last one listed, so those still waiting here
  // keep their place instead of being left to the slow tail probe.
  if (n == kMaxNackIndices) {
    for (uint16_t index : f->queue) {
      if (int(index) > highest) queue.push_back(index);
    }
  }
  f->queue = std::move(queue);
}

}  // namespace plimo
