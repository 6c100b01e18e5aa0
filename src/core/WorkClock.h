#pragma once
// Real monotonic seconds for measuring this machine's work (encode and decode
// times): real even when the loop's clock is virtual, since they measure the
// work, not the schedule.

#include <chrono>

namespace plimo {

inline double workSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace plimo
