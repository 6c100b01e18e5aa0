#include "server/ServerLog.h"

#include <ctime>

#include "core/Text.h"

namespace plimo {

namespace {

// A busy server logs a few hundred bytes per client a day; the previous file
// is kept as ".1" when the current one passes this, so the log never fills
// the disk.
constexpr uint64_t kMaxLogSize = 50'000'000;

}  // namespace

ServerLog::ServerLog(const std::string& path) : path_(path) {
  if (path_.empty()) return;
  file_ = std::fopen(path_.c_str(), "a");
  if (!file_) {
    std::fprintf(stderr, "plimo-server: cannot write the log %s\n", path_.c_str());
    return;
  }
  std::fseek(file_, 0, SEEK_END);
  long at = std::ftell(file_);
  size_ = at > 0 ? uint64_t(at) : 0;
}

ServerLog::~ServerLog() {
  if (file_) std::fclose(file_);
}

void ServerLog::line(const std::string& text) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  // Text from outside (IDs, names, database errors) can neither start a
  // line of its own nor steer a terminal that shows the log.
  std::string full = std::string(stamp) + "  " + printable(text) + "\n";
  std::fwrite(full.data(), 1, full.size(), stdout);
  std::fflush(stdout);
  if (!file_) return;
  if (size_ + full.size() > kMaxLogSize) rotate();
  if (!file_) return;
  std::fwrite(full.data(), 1, full.size(), file_);
  std::fflush(file_);
  size_ += full.size();
}

void ServerLog::rotate() {
  std::fclose(file_);
  std::rename(path_.c_str(), (path_ + ".1").c_str());
  file_ = std::fopen(path_.c_str(), "w");
  size_ = 0;
}

}  // namespace plimo
