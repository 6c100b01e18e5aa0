#include "exchange/FileSender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "protocol/crypto/Sha256Stream.h"

namespace plimo {

namespace {

// Reads up to `count` bytes at `offset`; short only at the file's end.
ssize_t readAt(int fd, uint8_t* into, size_t count, uint64_t offset) {
  size_t got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd, into + got, count - got, off_t(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += size_t(n);
  }
  return ssize_t(got);
}

}  // namespace

std::unique_ptr<FileSender> FileSender::open(const std::filesystem::path& path, uint32_t id) {
  const std::string name = path.filename().string();
  if (name.empty() || name.size() > FileMsg::kMaxName) return nullptr;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  Sha256Stream hash;
  Bytes block(1 << 16);
  uint64_t size = 0;
  for (ssize_t n; (n = readAt(fd, block.data(), block.size(), size)) != 0; size += uint64_t(n)) {
    if (n < 0) {
      ::close(fd);
      return nullptr;
    }
    hash.add(ByteView(block).first(size_t(n)));
  }
  return std::unique_ptr<FileSender>(new FileSender(fd, FileMsg::Offer{id, size, hash.finish(), name}));
}

FileSender::~FileSender() { ::close(fd_); }

FileSender::Pump FileSender::pump(MsgChannel& channel, double now, Rate rate) {
  uint8_t data[FileMsg::kMaxChunk];
  while (posted_ < offer_.size && channel.out().size() < kQueued && bucket_.allows(now, rate, 0)) {
    const size_t want = size_t(std::min<uint64_t>(FileMsg::kMaxChunk, offer_.size - posted_));
    if (readAt(fd_, data, want, posted_) != ssize_t(want)) return Pump::failed;
    channel.post(FileKind::chunk, FileMsg::encodeChunk(offer_.id, posted_, ByteView(data, want)));
    bucket_.spend(double(want));
    posted_ += want;
  }
  return posted_ == offer_.size ? Pump::allPosted : Pump::more;
}

}  // namespace plimo
