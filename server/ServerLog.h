#pragma once
// The server's log: "yyyy-MM-dd HH:mm:ss  text" lines (local time), to the log
// file and to standard output, each text made printable first (one line,
// no terminal codes).
//
// One thread (the server loop).

#include <cstdint>
#include <cstdio>
#include <string>

namespace plimo {

class ServerLog {
 public:
  // `path` empty: standard output only. A file that cannot be opened is
  // reported on standard error and the log goes on without it.
  explicit ServerLog(const std::string& path);
  ~ServerLog();
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  void line(const std::string& text);

 private:
  void rotate();

  std::string path_;
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace plimo
