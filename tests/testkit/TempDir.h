#pragma once
// A fresh folder for one test, removed with everything in it afterwards.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace plimo::testkit {

class TempDir {
 public:
  // `name` shows in the folder's name, for a person looking at /tmp.
  explicit TempDir(const std::string& name = "test") {
    std::string pattern = (std::filesystem::temp_directory_path() / ("plimo-" + name + ".XXXXXX")).string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace plimo::testkit
