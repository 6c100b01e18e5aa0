#include "app/ConsentPrompt.h"

#include "core/Text.h"

namespace plimo {

namespace {

std::string countdownLine(int left) { return "No answer in " + std::to_string(left) + " s means Deny.\n"; }

}  // namespace

ConsentPrompt::ConsentPrompt(EventLoop& loop, std::function<void(const std::string&)> write, bool desktopAsks)
    : write_(std::move(write)), desktopAsks_(desktopAsks), countdown_(loop) {}

void ConsentPrompt::ask(const std::string& helperTitle, const std::string& checkNumber,
                        HostSession::AnswerFn answer) {
  countdown_.answer(HostSession::Answer::deny);
  // The title is the helper's own text: printable, or it could clear the
  // screen, print a check number of its own and hide the real one.
  write_("\n" + printable(helperTitle) + " wants to help this PC\n" + "Check number: " + printable(checkNumber) +
         "\n" + "Only continue when your helper reads out the same number.\n" +
         (desktopAsks_ ? std::string(ConsentQuestion::kDesktopAsks) + "\n" : "") + "Type c (Allow control), v (View only) or d (Deny) and press Enter.\n" + countdownLine(kSeconds));
  countdown_.start(std::move(answer), [this](int left) { tick(left); });
}

void ConsentPrompt::tick(int left) {
  if (left <= 0) return write_("No answer: denied.\n");
  // Every 10 s and the last 5, so a terminal log is not flooded.
  if (left % 10 == 0 || left <= 5) write_(countdownLine(left));
}

void ConsentPrompt::typed(std::string_view line) {
  if (!asking()) return;
  std::string word = asciiLower(trimWhitespace(line));
  if (word == "c" || word == "allow control" || word == "control") return countdown_.answer(HostSession::Answer::control);
  if (word == "v" || word == "view only" || word == "view") return countdown_.answer(HostSession::Answer::viewOnly);
  if (word == "d" || word == "deny") return countdown_.answer(HostSession::Answer::deny);
  write_("Type c (Allow control), v (View only) or d (Deny) and press Enter.\n");
}

}  // namespace plimo
