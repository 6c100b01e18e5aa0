#include <cstddef>
#include <cstdint>
#include <string_view>

#include "support/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto sections = plimo::IniFile::parse(text);
  // What we write must read back the same.
  auto again = plimo::IniFile::parse(plimo::IniFile::render(sections));
  if (again.size() != sections.size()) __builtin_trap();
  return 0;
}
