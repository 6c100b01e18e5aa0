#pragma once
// The consent question on a terminal, for a helped PC without windows: the
// helper's title, the check number, the three answers and a 30-second
// countdown after which the answer is "deny".
//
// Owner: the headless program; the loop's thread only. It writes through
// `write` and is told each typed line by `typed` (TerminalLines reads them).
// The answer callback fires at most once per question, also when the prompt
// is destroyed first (it then never fires).

#include <functional>
#include <string>
#include <string_view>

#include "app/ConsentCountdown.h"

namespace plimo {

class ConsentPrompt {
 public:
  static constexpr int kSeconds = ConsentCountdown::kSeconds;

  // `desktopAsks`: the desktop asks again in its own dialog, which the
  // question says beforehand.
  ConsentPrompt(EventLoop& loop, std::function<void(const std::string&)> write, bool desktopAsks = false);

  // Puts the question; a question still open is answered "deny" first.
  void ask(const std::string& helperTitle, const std::string& checkNumber, HostSession::AnswerFn answer);
  // A line typed on the terminal.
  void typed(std::string_view line);
  bool asking() const { return countdown_.open(); }

 private:
  void tick(int left);

  std::function<void(const std::string&)> write_;
  const bool desktopAsks_;
  ConsentCountdown countdown_;
};

}  // namespace plimo
