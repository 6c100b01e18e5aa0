#include "server/BudgetedLog.h"

namespace plimo {

BudgetedLog::BudgetedLog(Log log, double now)
    : log_(std::move(log)), lines_(kLinesPerAddress, RateLimiter::kTrackedAddresses), lastSummary_(now) {}

void BudgetedLog::about(uint32_t ip, double now, const std::string& text) {
  if (lines_.allow(ip, now)) {
    log_(text);
  } else {
    ++leftOut_;
  }
}

void BudgetedLog::summarize(double now) {
  if (leftOut_ == 0 || now - lastSummary_ < kSummaryPeriod) return;
  log_(std::to_string(leftOut_) + " lines about busy source addresses left out of the log");
  leftOut_ = 0;
  lastSummary_ = now;
}

}  // namespace plimo
