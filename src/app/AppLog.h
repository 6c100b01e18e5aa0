#pragma once
// Plimo.log: one UTF-8 line per event, "yyyy-MM-dd HH:mm:ss  text", emptied
// when it grows past 2,000,000 bytes. Writing never fails its caller. Every
// line is written as plimo::printable makes it: one line, no terminal codes.

#include <filesystem>
#include <string>
#include <string_view>

namespace plimo {

class AppLog {
 public:
  // Past this size the log starts over; no older copy is kept.
  static constexpr long long maxBytes = 2'000'000;

  explicit AppLog(std::filesystem::path url) : url_(std::move(url)) {}

  // `wallTime` is seconds since the epoch, written in local time.
  void write(std::string_view line, double wallTime) const;
  const std::filesystem::path& url() const { return url_; }

  static std::string formatLocalTime(double wallTime);

 private:
  std::filesystem::path url_;
};

}  // namespace plimo
