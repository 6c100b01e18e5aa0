#pragma once
// What the helper may do, as the host status packet's mode byte says it
// (0 view only, 1 control, 2 paused), and the viewer's state before the first
// status. Any other byte reads as `unknown`: no control, and the viewer says
// it waits for permission, as an edition that does not know the byte would.

#include <cstdint>

namespace plimo {

enum class SessionMode : int { waitingForConsent = -1, viewOnly = 0, control = 1, paused = 2, unknown = 3 };

constexpr SessionMode sessionModeOf(uint8_t byte) {
  return byte <= uint8_t(SessionMode::paused) ? SessionMode(byte) : SessionMode::unknown;
}

constexpr uint8_t modeByte(SessionMode mode) { return uint8_t(mode); }

}  // namespace plimo
