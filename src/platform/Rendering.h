#pragma once
// How a session's pictures are made (host) or shown (viewer): none yet, as
// tiles, or as H.264 video on the video hardware or in software.

namespace plimo {

enum class Rendering { none, tiles, videoHardware, videoSoftware };

constexpr Rendering videoRendering(bool hardware) {
  return hardware ? Rendering::videoHardware : Rendering::videoSoftware;
}

}  // namespace plimo
