#pragma once
// The server's log as the protocol core writes it: lines about what one
// client did stay within its source address's budget, so that a flood from
// one address never rolls the log away, and how many were left out is said
// now and then.
//
// One thread (the server loop).

#include <cstdint>
#include <functional>
#include <string>

#include "server/RateLimiter.h"

namespace plimo {

class BudgetedLog {
 public:
  using Log = std::function<void(const std::string&)>;

  // Log lines about one source address: a client's day makes a handful.
  static constexpr Rate kLinesPerAddress{0.2, 20};
  // How often the log says how many lines it left out.
  static constexpr double kSummaryPeriod = 60.0;

  BudgetedLog(Log log, double now);

  void line(const std::string& text) { log_(text); }
  // A line about a client at `ip`, within that address's budget.
  void about(uint32_t ip, double now, const std::string& text);
  // Says how many lines were left out, once a kSummaryPeriod at most.
  void summarize(double now);

 private:
  Log log_;
  RateLimiter lines_;
  uint64_t leftOut_ = 0;
  double lastSummary_;
};

}  // namespace plimo
