#pragma once
// The session's own packets and messages between the two partners, each with
// its one writer (the host's side, or the viewer's for the profile) and its
// one reader. Everything read here comes from the partner: a reader answers
// nothing for bytes it cannot take, and never reads past them.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"

namespace plimo {

// The fields of a session text split at every "|" (the host's information
// line, the helper's profile), empty ones kept; at least one.
std::vector<std::string_view> barFields(std::string_view text);

// Host status (session packet 0x87): type, mode, admin available, secure
// desktop; the last two may be missing (then false).
namespace HostStatus {
struct Status {
  uint8_t mode = 0;
  bool adminAvailable = false;
  bool secureDesktop = false;
};
Bytes encode(const Status& status);
std::optional<Status> decode(ByteView packet);
}  // namespace HostStatus

// Sound (session packet 0x8A): type, u32 sequence, then the sound itself.
namespace AudioPacket {
inline constexpr size_t kHeader = 5;
Bytes encode(uint32_t sequence, ByteView sound);
struct Sound {
  uint32_t sequence;
  ByteView sound;  // inside the packet given, never empty
};
std::optional<Sound> decode(ByteView packet);
}  // namespace AudioPacket

// One picture as the frame transfer carries it: a format byte, then a tile
// update (0x00), or u16 width, u16 height and an H.264 access unit (0x01).
// Any other first byte is read as tiles, as the tile reader refuses what is
// not one.
namespace PictureBlob {
enum class Format : uint8_t { tiles = 0x00, video = 0x01 };
Bytes tiles(ByteView update);
Bytes video(int width, int height, ByteView accessUnit);
struct Contents {
  Format format;
  int width = 0, height = 0;  // video only
  ByteView body;              // inside the blob given
};
// Nothing for an empty blob or a video blob with no access unit.
std::optional<Contents> decode(ByteView blob);
}  // namespace PictureBlob

// The host's monitors (channel message 7): a count byte, then per monitor
// x, y, width, height (i32 LE each) and a primary flag.
namespace MonitorList {
inline constexpr size_t kRecord = 17;
inline constexpr size_t kMaxMonitors = 16;
struct Monitor {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool primary = false;
};
// The first kMaxMonitors only.
Bytes encode(std::span<const Monitor> monitors);
// Nothing unless every record the count claims is there.
std::optional<std::vector<Monitor>> decode(ByteView payload);
}  // namespace MonitorList

// The helper's profile: the text "name|company|e-mail|phone|1 or 0" (channel
// message 15; the last field says a picture follows) and the picture (16):
// u16 width, u16 height (1 to 256 each), then a zlib stream of width × height
// pixels of blue, green, red, rows top down.
namespace ProfileText {
struct Fields {
  std::string name, company, email, phone;
  bool pictureFollows = false;
};
// A "|" inside a field is sent as "/".
std::string encode(const Fields& fields);
struct Read {
  std::optional<std::string> name;     // trimmed; none when empty
  std::optional<std::string> company;  // trimmed, also when empty; none without a second field
  bool pictureFollows = false;         // the fifth field is exactly "1"
};
Read decode(std::string_view text);
}  // namespace ProfileText

namespace ProfilePicture {
inline constexpr int kMaxSide = 256;
Bytes encode(int width, int height, ByteView deflated);
struct Contents {
  int width, height;
  ByteView deflated;  // inside the payload given, never empty
};
std::optional<Contents> decode(ByteView payload);
}  // namespace ProfilePicture

}  // namespace plimo
