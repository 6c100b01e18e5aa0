#pragma once
// The helper's channel messages that arrive before consent and wait for it:
// played once the person allows the session, dropped when they decline.
//
// Bounded: a helper's chat and requests of the 32 s before an answer fit
// many times over, and one whole multi-part message (1 MB) fits too; a
// helper that floods before consent loses its excess, not our memory.
//
// Owner: the host session; its thread only.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>

#include "protocol/wire/ChannelMsg.h"

namespace plimo {

class EarlyMessages {
 public:
  static constexpr size_t kMaxMessages = 2048;
  static constexpr size_t kMaxBytes = size_t(2) << 20;

  // `log` hears of the first message dropped.
  explicit EarlyMessages(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

  // Keeps `msg`, or drops it beyond the bounds.
  void hold(ChannelMsg msg);
  // Every message held, oldest first; none are held afterwards.
  std::deque<ChannelMsg> take();
  // The session was declined: what waited is dropped.
  void drop() { (void)take(); }

 private:
  const std::function<void(const std::string&)> log_;
  std::deque<ChannelMsg> held_;
  size_t bytes_ = 0;
  bool overflowLogged_ = false;
};

}  // namespace plimo
