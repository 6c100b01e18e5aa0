#pragma once
// One file going out: its offer (size and SHA-256, read once before it is
// offered), then its chunks posted to the message channel at the pace the
// owner allows. It never fills the channel: at most kQueued chunks wait
// there unacknowledged, so that the partner's other messages (chat,
// clipboard, the transfer's own answers) pass between them.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "core/TokenBucket.h"
#include "protocol/wire/FileMessages.h"
#include "protocol/wire/MsgChannel.h"

namespace plimo {

class FileSender {
 public:
  static constexpr size_t kQueued = 32;
  enum class Pump { more, allPosted, failed };

  // Nothing when `path` is no regular file that can be read whole.
  static std::unique_ptr<FileSender> open(const std::filesystem::path& path, uint32_t id);
  ~FileSender();
  FileSender(const FileSender&) = delete;
  FileSender& operator=(const FileSender&) = delete;

  const FileMsg::Offer& offer() const { return offer_; }
  // Posts what `rate` (bytes a second) and the channel allow now. Fails
  // when the file no longer reads as it did.
  Pump pump(MsgChannel& channel, double now, Rate rate);

 private:
  FileSender(int fd, FileMsg::Offer offer) : fd_(fd), offer_(std::move(offer)) {}

  int fd_;
  FileMsg::Offer offer_;
  uint64_t posted_ = 0;
  TokenBucket bucket_;
};

}  // namespace plimo
