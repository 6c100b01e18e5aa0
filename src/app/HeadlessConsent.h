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
  // `terminal`: standard input and error are a terminal someone may use.
  HeadlessConsent(EventLoop& loop, AppModel& model, bool terminal);

  AppModel::ConsentAsk asker();

 private:
  AppModel& model_;
  std::unique_ptr<ConsentPrompt> prompt_;
  std::unique_ptr<TerminalLines> lines_;
};

}  // namespace plimo
