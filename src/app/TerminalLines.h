#pragma once
// Reads lines typed on a terminal on a thread of its own and hands each to
// the loop's thread.
//
// Owner: the headless program. `onLine` runs on the loop's thread, never
// after the reader is destroyed (the destructor waits for the thread).

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/EventLoop.h"
#include "core/Weakly.h"

namespace plimo {

class TerminalLines {
 public:
  // Reads from file descriptor `fd` until end of input or destruction.
  TerminalLines(EventLoop& loop, int fd, std::function<void(const std::string&)> onLine);
  ~TerminalLines();
  TerminalLines(const TerminalLines&) = delete;
  TerminalLines& operator=(const TerminalLines&) = delete;

 private:
  // On the reader's thread, which reaches the reader only through tasks
  // posted with `weak`.
  void run(const std::weak_ptr<TerminalLines>& weak);

  EventLoop& loop_;
  const int fd_;
  std::function<void(const std::string&)> onLine_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  LifeGuard<TerminalLines> guard_{this};
};

}  // namespace plimo
