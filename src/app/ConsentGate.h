#pragma once
// How often one partner ID may put the consent question to the person at
// this PC: a helper who was turned away may try again, but cannot keep the
// question on the screen (or the terminal) by reconnecting over and over.
//
// Owner: the application model; its thread only.

#include <deque>
#include <map>
#include <string>

namespace plimo {

class ConsentGate {
 public:
  // Three questions a minute: a mistaken "Deny" and a retry or two fit;
  // a reconnect loop (every few seconds) does not.
  static constexpr size_t kPerWindow = 3;
  static constexpr double kWindow = 60.0;

  // Whether `partnerID` may be asked at `now`; counts the question if so.
  bool mayAsk(const std::string& partnerID, double now);

 private:
  std::map<std::string, std::deque<double>> asked_;
};

}  // namespace plimo
