#include "protocol/wire/FileMessages.h"

namespace plimo::FileMsg {

namespace {
constexpr size_t kOfferHeader = 4 + 8 + kDigest;
}

Bytes encode(const Offer& offer) {
  Bytes out;
  appendLE<uint32_t>(out, offer.id);
  appendLE<uint64_t>(out, offer.size);
  append(out, offer.sha256);
  append(out, toBytes(offer.name));
  return out;
}

std::optional<Offer> decodeOffer(ByteView payload) {
  if (payload.size() <= kOfferHeader || payload.size() > kOfferHeader + kMaxName) return std::nullopt;
  return Offer{readLE32(payload, 0), readLE64(payload, 4), bytes(payload, 12, kDigest),
               toString(payload.subspan(kOfferHeader))};
}

Bytes encode(const Reply& reply) {
  Bytes out;
  appendLE<uint32_t>(out, reply.id);
  out.push_back(uint8_t(reply.answer));
  return out;
}

std::optional<Reply> decodeReply(ByteView payload) {
  if (payload.size() != 5) return std::nullopt;
  const uint8_t code = payload[4];
  return Reply{readLE32(payload, 0), code <= uint8_t(Answer::noFolder) ? Answer(code) : Answer::other};
}

Bytes encodeChunk(uint32_t id, uint64_t offset, ByteView data) {
  Bytes out;
  out.reserve(kChunkHeader + data.size());
  appendLE<uint32_t>(out, id);
  appendLE<uint64_t>(out, offset);
  append(out, data);
  return out;
}

std::optional<Chunk> decodeChunk(ByteView payload) {
  if (payload.size() <= kChunkHeader || payload.size() > kChunkHeader + kMaxChunk) return std::nullopt;
  return Chunk{readLE32(payload, 0), readLE64(payload, 4), payload.subspan(kChunkHeader)};
}

Bytes encode(const Progress& progress) {
  Bytes out;
  appendLE<uint32_t>(out, progress.id);
  appendLE<uint64_t>(out, progress.received);
  out.push_back(uint8_t(progress.state));
  return out;
}

std::optional<Progress> decodeProgress(ByteView payload) {
  if (payload.size() != 13 || payload[12] > uint8_t(State::failed)) return std::nullopt;
  return Progress{readLE32(payload, 0), readLE64(payload, 4), State(payload[12])};
}

Bytes encode(const Cancel& cancel) {
  Bytes out;
  appendLE<uint32_t>(out, cancel.id);
  out.push_back(cancel.yours ? 1 : 0);
  return out;
}

std::optional<Cancel> decodeCancel(ByteView payload) {
  if (payload.size() != 5 || payload[4] > 1) return std::nullopt;
  return Cancel{readLE32(payload, 0), payload[4] == 1};
}

Bytes encodeRequest(uint32_t id) {
  Bytes out;
  appendLE<uint32_t>(out, id);
  return out;
}

std::optional<uint32_t> decodeRequest(ByteView payload) {
  if (payload.size() != 4) return std::nullopt;
  return readLE32(payload, 0);
}

}  // namespace plimo::FileMsg
