#include "app/ConsentCountdown.h"

namespace plimo {

void ConsentCountdown::start(HostSession::AnswerFn asked, std::function<void(int left)> tick) {
  if (open()) answer(HostSession::Answer::deny);
  answer_ = std::move(asked);
  tick_ = std::move(tick);
  left_ = kSeconds;
  timer_ = loop_.every(1.0, [this] {
    --left_;
    if (tick_) tick_(left_);
    if (left_ <= 0) answer(HostSession::Answer::deny);
  });
}

void ConsentCountdown::answer(HostSession::Answer given) {
  if (!open()) return;
  timer_.reset();
  tick_ = nullptr;
  // Last: the answer may end the question's owner.
  auto answerFn = std::exchange(answer_, nullptr);
  answerFn(given);
}

}  // namespace plimo
