#include "app/ConsentGate.h"

namespace plimo {

bool ConsentGate::mayAsk(const std::string& partnerID, double now) {
  // Forget everyone whose questions are all old, so the map stays small.
  for (auto it = asked_.begin(); it != asked_.end();) {
    auto& times = it->second;
    while (!times.empty() && now - times.front() >= kWindow) times.pop_front();
    it = times.empty() ? asked_.erase(it) : std::next(it);
  }
  auto& times = asked_[partnerID];
  if (times.size() >= kPerWindow) return false;
  times.push_back(now);
  return true;
}

}  // namespace plimo
