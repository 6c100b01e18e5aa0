#pragma once
// When the person at this PC is asked about a helper: once, 2 s after the
// session starts or as soon as the helper's profile is complete, whichever
// comes first. With unattended access the helper is let in without a
// question; with nobody to ask, turned away. Only the first answer counts,
// and one that comes after the question is gone does nothing.
//
// Owner: the host session; its thread only. The answer may come at any later
// time, or never.

#include <functional>

#include "core/EventLoop.h"
#include "core/Weakly.h"

namespace plimo {

class ConsentQuestion {
 public:
  enum class Answer { control, viewOnly, deny };
  using AnswerFn = std::function<void(Answer)>;
  // Said with the question where the desktop asks the person again in its
  // own dialog once they allowed (a Wayland desktop's portal).
  static constexpr const char* kDesktopAsks = "Your desktop will ask you to allow sharing once more.";

  // `ask` puts the question (unset: nobody can answer it); `answered` hears
  // the one answer that counts.
  ConsentQuestion(EventLoop& loop, bool unattended, std::function<void(AnswerFn)> ask, AnswerFn answered);
  ConsentQuestion(const ConsentQuestion&) = delete;
  ConsentQuestion& operator=(const ConsentQuestion&) = delete;

  // Asks now, unless already asked.
  void ask();
  // Nothing is asked from now on (the session ends).
  void cancel() {
    asked_ = true;
    timer_.reset();
  }

 private:
  const bool unattended_;
  const std::function<void(AnswerFn)> ask_;
  const AnswerFn answered_;
  bool asked_ = false;
  Timer timer_;
  LifeGuard<ConsentQuestion> guard_{this};
};

}  // namespace plimo
