#pragma once
// A clipboard for tests: `copy` plays a copy made here (delivered at once,
// on the caller's thread, while started), `text` holds what was set.

#include <string>

#include "platform/Clipboard.h"

namespace plimo {

class FakeClipboard final : public Clipboard {
 public:
  void start(size_t maxBytes) override {
    started = true;
    limit = maxBytes;
  }
  void stop() override { started = false; }
  void setText(std::string given) override { text = std::move(given); }

  void copy(const std::string& copied) {
    if (!started || !onCopied) return;
    onCopied(copied.size() > limit ? Copy{{}, true} : Copy{copied, false});
  }

  bool started = false;
  size_t limit = 0;
  std::string text;
};

}  // namespace plimo
