// PendingReports.txt as anyone may have edited it: every report read from it
// has an 8-character ID and a payload on one line, and what is written back
// reads the same.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/SessionReports.h"

using namespace plimo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto items = SessionReports::parseQueue(text);
  for (const auto& item : items) {
    if (item.msgID.size() != 8 || item.msgID.find_first_of("\t\r\n") != std::string::npos ||
        item.payload.empty() || item.payload.find_first_of("\r\n") != std::string::npos)
      std::abort();
  }
  if (SessionReports::parseQueue(SessionReports::renderQueue(items)) != items) std::abort();
  return 0;
}
