#include "host/ConsentQuestion.h"

#include <memory>
#include <utility>

namespace plimo {

namespace {

// The question waits this long for the helper's profile (name, company,
// picture), so that it can show who asks.
constexpr double kConsentDelay = 2.0;

}  // namespace

ConsentQuestion::ConsentQuestion(EventLoop& loop, bool unattended, std::function<void(AnswerFn)> ask,
                                 AnswerFn answered)
    : unattended_(unattended), ask_(std::move(ask)), answered_(std::move(answered)) {
  timer_ = loop.after(kConsentDelay, guard_.weakly([](ConsentQuestion& q) { q.ask(); }));
}

void ConsentQuestion::ask() {
  if (std::exchange(asked_, true)) return;
  timer_.reset();
  if (unattended_) return answered_(Answer::control);
  if (!ask_) return answered_(Answer::deny);
  auto answered = std::make_shared<bool>(false);
  ask_([weak = guard_.weak(), answered](Answer answer) {
    if (std::exchange(*answered, true)) return;
    if (auto self = weak.lock()) self->answered_(answer);
  });
}

}  // namespace plimo
