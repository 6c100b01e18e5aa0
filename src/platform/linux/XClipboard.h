#pragma once
// The CLIPBOARD selection of the X display, as text: XFixes tells of each new
// owner, whose UTF8_STRING is read (INCR for large ones) and handed on; a
// text given by `setText` is owned and served (TARGETS, UTF8_STRING, INCR
// for large ones) until someone else copies. Its own connection and thread,
// woken by an eventfd.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Clipboard.h"
#include "platform/linux/XConnection.h"

namespace plimo {

class XSelection;

class XClipboard final : public Clipboard {
 public:
  // Throws Failure (noServer) without an X display with XFixes.
  XClipboard();
  ~XClipboard() override;

  void start(size_t maxBytes) override;
  void stop() override;
  void setText(std::string text) override;

 private:
  void run();
  void wake() const;

  std::unique_ptr<XConnection> x_;
  // Made by `start`, which returns once the server watches for copies; then
  // the thread's.
  std::unique_ptr<XSelection> selection_;
  int wakeFd_ = -1;
  std::mutex lock_;                  // guards the two below
  std::optional<std::string> given_;  // set by setText, owned by the thread next
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace plimo
