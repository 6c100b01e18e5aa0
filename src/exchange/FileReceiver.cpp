#include "exchange/FileReceiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <system_error>

#include "exchange/SafeName.h"

namespace plimo {

namespace {

std::filesystem::path partOf(const std::filesystem::path& path) { return path.string() + ".part"; }

}  // namespace

std::optional<FileMsg::Answer> FileReceiver::refusal(const FileMsg::Offer& offer,
                                                     const std::filesystem::path& folder) {
  if (!safeFileName(offer.name)) return FileMsg::Answer::badName;
  std::error_code error;
  const auto space = std::filesystem::space(folder, error);
  if (error || space.available < kSpareBytes || offer.size > space.available - kSpareBytes)
    return FileMsg::Answer::noRoom;
  return std::nullopt;
}

std::unique_ptr<FileReceiver> FileReceiver::open(const std::filesystem::path& folder, const FileMsg::Offer& offer) {
  const auto name = safeFileName(offer.name);
  if (!name || offer.sha256.size() != FileMsg::kDigest) return nullptr;
  const auto final = freeFileName(folder, *name);
  if (!final) return nullptr;
  // O_EXCL: a file that appeared since the name was picked is not opened.
  const int fd = ::open(partOf(*final).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return nullptr;
  return std::unique_ptr<FileReceiver>(new FileReceiver(fd, *final, offer));
}

FileReceiver::FileReceiver(int fd, std::filesystem::path final, const FileMsg::Offer& offer)
    : fd_(fd), final_(std::move(final)), part_(partOf(final_)), size_(offer.size), digest_(offer.sha256) {}

FileReceiver::~FileReceiver() {
  if (!done_) fail();
}

FileReceiver::Step FileReceiver::take(const FileMsg::Chunk& chunk) {
  if (done_) return Step::failed;
  if (chunk.offset != received_ || chunk.data.size() > size_ - received_) return fail();
  for (size_t written = 0; written < chunk.data.size();) {
    const ssize_t n = ::write(fd_, chunk.data.data() + written, chunk.data.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail();
    written += size_t(n);
  }
  hash_.add(chunk.data);
  received_ += chunk.data.size();
  return received_ == size_ ? finish() : Step::more;
}

FileReceiver::Step FileReceiver::finish() {
  if (done_ || received_ != size_) return Step::failed;
  if (hash_.finish() != digest_ || ::fsync(fd_) != 0) return fail();
  ::close(fd_);
  fd_ = -1;
  // link() never replaces: a file that took the name meanwhile fails it.
  if (::link(part_.c_str(), final_.c_str()) != 0) return fail();
  ::unlink(part_.c_str());
  done_ = true;
  return Step::saved;
}

FileReceiver::Step FileReceiver::fail() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(part_.c_str());
  done_ = true;
  return Step::failed;
}

}  // namespace plimo
