#include "app/ConsentPrompt.h"

#include "core/Text.h"

namespace plimo {

namespace {

std::string countdownLine(int left) { return "No answer in " + std::to_string(left) + " s means Deny.\n"; }

}  // namespace

ConsentPrompt::ConsentPrompt(EventLoop& loop, std::function<void(const std::string&)> write)
    : loop_(loop), write_(std::move(write)) {}

void ConsentPrompt::ask(const std::string& helperTitle, const std::string& checkNumber,
                        HostSession::AnswerFn answer) {
  if (asking()) finish(HostSession::Answer::deny);
  answer_ = std::move(answer);
  left_ = kSeconds;
  write_("\n" + helperTitle + " wants to help this PC\n" + "Check number: " + checkNumber + "\n" +
         "Only continue when your helper reads out the same number.\n" +
         "Type c (Allow control), v (View only) or d (Deny) and press Enter.\n" + countdownLine(left_));
  countdown_ = loop_.every(1.0, [this] { tick(); });
}

void ConsentPrompt::tick() {
  if (--left_ <= 0) {
    write_("No answer: denied.\n");
    return finish(HostSession::Answer::deny);
  }
  // Every 10 s and the last 5, so a terminal log is not flooded.
  if (left_ % 10 == 0 || left_ <= 5) write_(countdownLine(left_));
}

void ConsentPrompt::typed(std::string_view line) {
  if (!asking()) return;
  std::string word(trimWhitespace(line));
  for (auto& ch : word) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  if (word == "c" || word == "allow control" || word == "control") return finish(HostSession::Answer::control);
  if (word == "v" || word == "view only" || word == "view") return finish(HostSession::Answer::viewOnly);
  if (word == "d" || word == "deny") return finish(HostSession::Answer::deny);
  write_("Type c (Allow control), v (View only) or d (Deny) and press Enter.\n");
}

void ConsentPrompt::finish(HostSession::Answer answer) {
  countdown_.reset();
  auto answerFn = std::move(answer_);
  answer_ = nullptr;
  answerFn(answer);
}

}  // namespace plimo
