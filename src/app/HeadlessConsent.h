#pragma once
// Who answers the consent question on a helped PC without windows: the
// person at the terminal when there is one; otherwise nobody, so the helper
// is declined with a log line that says how to let helpers in (unattended
// access, which lets them in without a question).
//
// Owner: the headless program, declared after the model it serves; the
// loop's thread only.

#include <memory>

#include "app/AppModel.h"
#include "app/ConsentPrompt.h"
#include "app/TerminalLines.h"

namespace plimo {

class HeadlessConsent {
 public:
  // `terminal`: standard input and error are a terminal someone may use;
  // `desktopAsks`: the desktop asks again in its own dialog.
  HeadlessConsent(EventLoop& loop, AppModel& model, bool terminal, bool desktopAsks = false);

  PartnerSessions::ConsentAsk asker();
  // Someone may answer at the terminal.
  bool terminal() const { return prompt_ != nullptr; }
  // Lines typed while no consent question is open go to `fn`.
  void passOtherLines(std::function<void(const std::string&)> fn) { otherLines_ = std::move(fn); }

 private:
  AppModel& model_;
  std::unique_ptr<ConsentPrompt> prompt_;
  std::unique_ptr<TerminalLines> lines_;
  std::function<void(const std::string&)> otherLines_;
};

}  // namespace plimo
