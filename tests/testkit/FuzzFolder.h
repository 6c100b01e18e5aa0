#pragma once
// A folder for fuzzers that go through files: on tmpfs when the machine has
// one, where the atomic writes' fsync costs nothing and a run spends its time
// in the parsers. Removed when the fuzzer ends normally.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace plimo::testkit {

inline const std::filesystem::path& fuzzFolder() {
  struct Folder {
    std::filesystem::path path;
    Folder() {
      namespace fs = std::filesystem;
      std::error_code error;
      fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
      std::string pattern = (base / "plimo-fuzz.XXXXXX").string();
      if (!mkdtemp(pattern.data())) std::abort();
      path = pattern;
    }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return folder.path;
}

}  // namespace plimo::testkit
