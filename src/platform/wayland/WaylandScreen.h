#pragma once
// The screen of a Wayland desktop: a desktop share (DesktopShare.h) asked
// for at the first start, one PipeWire stream per shown monitor. Switching
// monitors switches streams within the same share; the share ends with the
// source, or when the person stops it from the desktop (onStopped says so).
//
// Owner: the host session. `start`, `stop` and `displays` on its thread;
// onStopped on PipeWire's or the bus's thread.

#include <functional>
#include <memory>
#include <mutex>

#include "platform/ScreenSource.h"
#include "platform/wayland/ShareAsking.h"

namespace plimo {

class PipeWireStream;

// What the screen shares with the input sink: the share and the stream
// shown. The session's thread only.
struct WaylandShown {
  std::shared_ptr<DesktopShare> share;
  DesktopShare::Stream stream;
};

class WaylandScreen final : public ScreenSource {
 public:
  // `open` gives the desktop's share, started (throws Failure with the
  // person's text); `monitors` lists the screens before one is granted.
  WaylandScreen(std::function<GrantedShare()> open, std::function<std::vector<Display>()> monitors,
                std::shared_ptr<WaylandShown> shown);
  ~WaylandScreen() override;

  std::vector<Display> displays() override;
  void start(const Display& wanted, const std::vector<uint32_t>& excluding) override;
  void stop() override;

 private:
  // `closed`: the desktop closed the share (the person, or the desktop
  // going away), not just the stream.
  void ended(const std::string& reason, bool closed);

  std::function<GrantedShare()> open_;
  std::function<std::vector<Display>()> monitors_;
  std::shared_ptr<WaylandShown> shown_;
  // Before the share and the stream, whose threads tell their end through it
  // and are joined when they go.
  std::mutex endLock_;  // one end told, and none once stopped
  bool endTold_ = false;
  std::shared_ptr<DesktopShare> share_;
  std::vector<DesktopShare::Stream> streams_;
  std::unique_ptr<PipeWireStream> stream_;
};

}  // namespace plimo
