#pragma once
// The host's picture rate: 60 a second, falling back to 30 when the link or
// the encoder cannot keep up, and returning to 60 after a growing wait.
//
// Decisions are made on 2-second windows. A window at 60 is bad when more
// than a quarter of the due pictures found no room in the frame transfer, or
// a picture took more than 13 ms to make (a 60 Hz budget of 16.7 ms less the
// time the rest of the pass needs); two bad windows in a row fall back. At 30
// two good windows (under 5 % blocked, under 11 ms) after the wait return to
// 60. The wait is 6 s, doubled on each fall-back up to 30 s, and back to 6 s
// once 60 has held for 30 s, so a link that flaps is not retried every few
// seconds. Windows with fewer than 20 pictures (a still screen) decide
// nothing.
//
// Owner: the host session; its thread only. Plain arithmetic on the times
// it is given, so tests run it on any clock.

#include <optional>
#include <string>

namespace plimo {

class FrameRate {
 public:
  static constexpr double kWindow = 2.0;
  static constexpr int kMinPictures = 20;
  static constexpr double kGap60 = 0.014;  // under 1/60 s, so a 60 Hz capture is never skipped
  static constexpr double kGap30 = 0.03;
  static constexpr double kFirstWait = 6.0;
  static constexpr double kLongestWait = 30.0;
  static constexpr double kHeldLong = 30.0;  // 60 held this long resets the wait

  // Consent given at `now`: the rate is 60 from then.
  void begin(double now) { since60_ = now; }

  // A capture pass at which a picture was due; `blocked` when the frame
  // transfer had no room for it.
  void due(bool blocked) {
    ++wanted_;
    if (blocked) ++blocked_;
  }
  // A picture made in `seconds`.
  void produced(double seconds) {
    ++captures_;
    encode_ += seconds;
  }

  // At every capture pass: closes a window that is 2 s old and decides. A
  // switch returns the log line ("frame rate now 30 a second (...)"); the
  // video encoder must then be made anew for the new rate.
  std::optional<std::string> check(double now);

  bool rate60() const { return rate60_; }
  double frameGap() const { return rate60_ ? kGap60 : kGap30; }
  double retryDelay() const { return retryDelay_; }
  double retry60At() const { return retry60At_; }

 private:
  std::string set(bool to60, const std::string& reason, double now);

  bool rate60_ = true;
  double windowStart_ = 0;  // 0: no window yet
  int wanted_ = 0;
  int blocked_ = 0;
  int captures_ = 0;
  double encode_ = 0;
  int bad60_ = 0;
  int good30_ = 0;
  double retry60At_ = 0;
  double retryDelay_ = kFirstWait;
  double since60_ = 0;
};

}  // namespace plimo
