#include "app/HeadlessConsent.h"

#include <unistd.h>

#include <cstdio>

namespace plimo {

HeadlessConsent::HeadlessConsent(EventLoop& loop, AppModel& model, bool terminal, bool desktopAsks)
    : model_(model) {
  if (!terminal) return;
  prompt_ = std::make_unique<ConsentPrompt>(loop, [](const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }, desktopAsks);
  lines_ = std::make_unique<TerminalLines>(loop, STDIN_FILENO, [this](const std::string& line) {
    if (prompt_->asking() || !otherLines_) return prompt_->typed(line);
    otherLines_(line);
  });
}

PartnerSessions::ConsentAsk HeadlessConsent::asker() {
  return [this](HostSession& session, HostSession::AnswerFn answer) {
    if (prompt_) return prompt_->ask(session.helperTitle(), session.checkNumber(), std::move(answer));
    model_.log("[host] nobody is at this PC to answer, so " + session.helperTitle() +
               " was declined. To let helpers in without asking, set Unattended=1 in the [Session] section of " +
               model_.iniPath().string() + ".");
    answer(HostSession::Answer::deny);
  };
}

}  // namespace plimo
