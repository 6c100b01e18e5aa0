#pragma once
// The first byte of every session packet between the two partners, and the
// value a receiving session gets from its message channel.

#include <cstdint>

#include "core/Bytes.h"

namespace plimo {

// Session packet types (sealed by the partner channel). Plaintexts below 0x80
// are the partner link's text control lines; a session ignores types it does
// not know.
namespace SessionPacket {
inline constexpr uint8_t kFrameChunk = 0x81;        // host → viewer, single-frame transfer
inline constexpr uint8_t kFrameAck = 0x82;          // viewer → host
inline constexpr uint8_t kFrameNack = 0x83;         // viewer → host
inline constexpr uint8_t kInput = 0x84;             // viewer → host
inline constexpr uint8_t kInputAck = 0x85;          // host → viewer
inline constexpr uint8_t kFullPicture = 0x86;       // viewer → host, the byte alone
inline constexpr uint8_t kHostStatus = 0x87;        // host → viewer
inline constexpr uint8_t kChannelMsg = 0x88;        // both
inline constexpr uint8_t kChannelAck = 0x89;        // both
inline constexpr uint8_t kAudio = 0x8A;             // host → viewer
inline constexpr uint8_t kWindowedChunk = 0x8B;     // host → viewer, windowed transfer
}  // namespace SessionPacket

// Channel message kinds, as both sessions number them. Kinds 2 and 14 are
// not sent by this application; a receiver gathers and drops them.
namespace MsgKind {
inline constexpr uint8_t chat = 1, unused2 = 2, fileOffer = 3, fileDeclined = 6, monitors = 7, showMonitor = 8,
                         restart = 9, information = 10, capabilities = 11, sound = 12, unused14 = 14,
                         profileText = 15, profilePicture = 16, hideWallpaper = 17, askAdmin = 18, adminAnswer = 19;
// Linux builds only (docs/WIRE-EXTENSIONS.md): the extension list, sent to
// every partner, and kinds sent only once the partner's list names their
// extension; 98 to 103 carry file transfers.
inline constexpr uint8_t extensions = 96, clipboardText = 97;
}  // namespace MsgKind

// The flags of the viewer's picture capabilities (kind 11).
namespace Capability {
inline constexpr uint8_t video = 0x01;     // the viewer shows H.264 video
inline constexpr uint8_t windowed = 0x02;  // the viewer takes windowed frame transfers
}  // namespace Capability

// True when at least `seconds` have passed from `since` to `now`. Periods are
// checked from timers running at a multiple of them (0.3 s from a 10 ms
// timer); the slack keeps rounding in the sums of uptimes from making such a
// check come one tick late.
inline bool elapsed(double now, double since, double seconds) { return now - since >= seconds - 1e-6; }

// One message part as the channel delivers it. Long payloads arrive as several
// parts of the same kind, in order, `more` set on all but the last; joining
// them is the receiving session's task.
struct ChannelMsg {
  uint8_t kind = 0;
  bool more = false;
  Bytes data;

  bool operator==(const ChannelMsg&) const = default;
};

}  // namespace plimo
