#pragma once
// One open consent question: the 30 seconds after which no answer means
// "deny", and the rule that only the first answer counts. The terminal
// prompt and the consent panel both ask through it.
//
// Owner: whoever shows the question; the loop's thread only. Destroying it
// with a question open gives no answer.

#include <functional>

#include "core/EventLoop.h"
#include "host/HostSession.h"

namespace plimo {

class ConsentCountdown {
 public:
  static constexpr int kSeconds = 30;

  explicit ConsentCountdown(EventLoop& loop) : loop_(loop) {}

  // Opens a question; one still open is answered "deny" first. `tick` hears
  // the seconds left after every second, 0 included (just before the deny).
  void start(HostSession::AnswerFn answer, std::function<void(int left)> tick);
  // Gives `answer` while the question is open; later calls do nothing.
  void answer(HostSession::Answer answer);
  bool open() const { return static_cast<bool>(answer_); }
  int left() const { return left_; }

 private:
  EventLoop& loop_;
  HostSession::AnswerFn answer_;
  std::function<void(int)> tick_;
  int left_ = 0;
  Timer timer_;
};

}  // namespace plimo
