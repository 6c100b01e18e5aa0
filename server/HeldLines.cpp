#include "server/HeldLines.h"

namespace plimo {

bool HeldLines::countDown(uint64_t serial) {
  auto it = waits_.find(serial);
  if (it == waits_.end() || it->second.writes == 0) return false;
  --it->second.writes;
  if (it->second.writes == 0 && it->second.lines.empty()) waits_.erase(it);
  return true;
}

bool HeldLines::hold(uint64_t serial, const std::string& line) {
  std::vector<std::string>& lines = waits_[serial].lines;
  if (lines.size() >= kMaxHeld) return false;
  lines.push_back(line);
  return true;
}

std::vector<std::string> HeldLines::release(uint64_t serial) {
  auto it = waits_.find(serial);
  if (it == waits_.end() || it->second.writes > 0) return {};
  std::vector<std::string> lines = std::move(it->second.lines);
  waits_.erase(it);
  return lines;
}

}  // namespace plimo
