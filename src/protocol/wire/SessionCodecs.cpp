#include "protocol/wire/SessionCodecs.h"

#include <algorithm>

#include "core/Text.h"
#include "protocol/wire/ChannelMsg.h"

namespace plimo {

std::vector<std::string_view> barFields(std::string_view text) {
  std::vector<std::string_view> out;
  for (size_t from = 0;;) {
    const size_t bar = text.find('|', from);
    out.push_back(text.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from));
    if (bar == std::string_view::npos) return out;
    from = bar + 1;
  }
}

namespace HostStatus {

Bytes encode(const Status& status) {
  return Bytes{SessionPacket::kHostStatus, status.mode, uint8_t(status.adminAvailable ? 1 : 0),
               uint8_t(status.secureDesktop ? 1 : 0)};
}

std::optional<Status> decode(ByteView packet) {
  if (packet.size() < 2 || packet[0] != SessionPacket::kHostStatus) return std::nullopt;
  return Status{packet[1], packet.size() >= 3 && packet[2] == 1, packet.size() >= 4 && packet[3] == 1};
}

}  // namespace HostStatus

namespace AudioPacket {

Bytes encode(uint32_t sequence, ByteView sound) {
  Bytes packet{SessionPacket::kAudio};
  appendLE<uint32_t>(packet, sequence);
  append(packet, sound);
  return packet;
}

std::optional<Sound> decode(ByteView packet) {
  if (packet.size() <= kHeader || packet[0] != SessionPacket::kAudio) return std::nullopt;
  return Sound{readLE32(packet, 1), packet.subspan(kHeader)};
}

}  // namespace AudioPacket

namespace PictureBlob {

namespace {
constexpr size_t kVideoHeader = 5;
}

Bytes tiles(ByteView update) {
  Bytes out{uint8_t(Format::tiles)};
  append(out, update);
  return out;
}

Bytes video(int width, int height, ByteView accessUnit) {
  Bytes out{uint8_t(Format::video)};
  appendLE<uint16_t>(out, uint16_t(width));
  appendLE<uint16_t>(out, uint16_t(height));
  append(out, accessUnit);
  return out;
}

std::optional<Contents> decode(ByteView blob) {
  if (blob.empty()) return std::nullopt;
  if (blob[0] != uint8_t(Format::video)) return Contents{Format::tiles, 0, 0, blob.subspan(1)};
  if (blob.size() <= kVideoHeader) return std::nullopt;
  return Contents{Format::video, readLE16(blob, 1), readLE16(blob, 3), blob.subspan(kVideoHeader)};
}

}  // namespace PictureBlob

namespace MonitorList {

Bytes encode(std::span<const Monitor> monitors) {
  const size_t n = std::min(monitors.size(), kMaxMonitors);
  Bytes list{uint8_t(n)};
  for (const Monitor& m : monitors.first(n)) {
    appendLE<uint32_t>(list, uint32_t(m.x));
    appendLE<uint32_t>(list, uint32_t(m.y));
    appendLE<uint32_t>(list, uint32_t(m.width));
    appendLE<uint32_t>(list, uint32_t(m.height));
    list.push_back(m.primary ? 1 : 0);
  }
  return list;
}

std::optional<std::vector<Monitor>> decode(ByteView payload) {
  if (payload.empty()) return std::nullopt;
  const size_t n = payload[0];
  if (1 + kRecord * n > payload.size()) return std::nullopt;
  std::vector<Monitor> list;
  for (size_t i = 0; i < n; ++i) {
    const size_t at = 1 + i * kRecord;
    auto i32 = [&](size_t k) { return int32_t(readLE32(payload, at + k * 4)); };
    list.push_back({i32(0), i32(1), i32(2), i32(3), payload[at + 16] != 0});
  }
  return list;
}

}  // namespace MonitorList

namespace ProfileText {

namespace {

std::string field(std::string text) {
  std::replace(text.begin(), text.end(), '|', '/');
  return text;
}

}  // namespace

std::string encode(const Fields& f) {
  return field(f.name) + "|" + field(f.company) + "|" + field(f.email) + "|" + field(f.phone) + "|" +
         (f.pictureFollows ? "1" : "0");
}

Read decode(std::string_view text) {
  const auto fields = barFields(text);
  Read out;
  if (auto name = trimWhitespace(fields[0]); !name.empty()) out.name = std::string(name);
  if (fields.size() >= 2) out.company = std::string(trimWhitespace(fields[1]));
  out.pictureFollows = fields.size() >= 5 && fields[4] == "1";
  return out;
}

}  // namespace ProfileText

namespace ProfilePicture {

namespace {
constexpr size_t kHeader = 4;
}

Bytes encode(int width, int height, ByteView deflated) {
  Bytes out;
  appendLE<uint16_t>(out, uint16_t(width));
  appendLE<uint16_t>(out, uint16_t(height));
  append(out, deflated);
  return out;
}

std::optional<Contents> decode(ByteView payload) {
  if (payload.size() <= kHeader) return std::nullopt;
  const int width = readLE16(payload, 0), height = readLE16(payload, 2);
  if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) return std::nullopt;
  return Contents{width, height, payload.subspan(kHeader)};
}

}  // namespace ProfilePicture

}  // namespace plimo
