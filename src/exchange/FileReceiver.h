#pragma once
// One file coming in: written to "<name>.part" in the folder it was accepted
// into, chunk after chunk in order, hashed as it comes; once the offered size
// is in and its SHA-256 matches the offer's, it takes its free name (never
// replacing a file). Whatever else happens (a chunk past the size or out of
// order, a write error, a wrong digest, cancel, the session's end) the part
// file is removed and nothing is left.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "protocol/crypto/Sha256Stream.h"
#include "protocol/wire/FileMessages.h"

namespace plimo {

class FileReceiver {
 public:
  enum class Step { more, saved, failed };

  // Room kept free on the disk beyond the file itself.
  static constexpr uint64_t kSpareBytes = 16u << 20;

  // Why `offer` cannot be received into `folder` (its name, or the free
  // space), or nothing.
  static std::optional<FileMsg::Answer> refusal(const FileMsg::Offer& offer, const std::filesystem::path& folder);
  // Creates the part file; nothing when it cannot be.
  static std::unique_ptr<FileReceiver> open(const std::filesystem::path& folder, const FileMsg::Offer& offer);
  ~FileReceiver();
  FileReceiver(const FileReceiver&) = delete;
  FileReceiver& operator=(const FileReceiver&) = delete;

  Step take(const FileMsg::Chunk& chunk);
  // For an empty file, which has no chunk.
  Step finish();

  uint64_t received() const { return received_; }
  const std::filesystem::path& savedAs() const { return final_; }

 private:
  FileReceiver(int fd, std::filesystem::path final, const FileMsg::Offer& offer);
  Step fail();

  int fd_;
  const std::filesystem::path final_, part_;
  const uint64_t size_;
  const Bytes digest_;
  uint64_t received_ = 0;
  Sha256Stream hash_;
  bool done_ = false;
};

}  // namespace plimo
