#pragma once
// What reaches the person at a PC without windows during a session: the
// partner's chat and the session's notices, each printed as one line of
// plain text on the terminal and written to the log. It stands in for the
// windows around a session, so it hears of each session as they would.
//
// Owner: the headless program, which outlives the model's sessions; the
// loop's thread only.

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/SessionWindows.h"
#include "app/ViewerWindows.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "protocol/wire/ChatLine.h"

namespace plimo {

class TerminalTalk final : public SessionWindows, public ViewerWindows {
 public:
  // A helper's pictures go to `display`; lines go to `out` and to `log`.
  // `display` and `out` outlive this.
  TerminalTalk(EventLoop& loop, ScreenDisplay& display, std::FILE* out, std::function<void(const std::string&)> log);

  // The helped PC's session, once its person has let the helper in.
  void showRunning(HostSession& session, std::function<void()> stop) override;
  std::vector<uint32_t> excludedWindowIDs() const override { return {}; }
  void closeAll() override;
  void setMainMinimised(bool) override {}

  // This PC helps another.
  ScreenDisplay& showViewer(ViewerSession& session, const Facts& facts, std::function<void()> disconnect) override;
  void closeViewer() override;

 private:
  // Prints the partner's lines not printed yet; `who` names the partner.
  void newLines(const std::vector<ChatLine>& lines, std::string_view who);
  void print(const std::string& line);

  EventLoop& loop_;
  ScreenDisplay& display_;
  std::FILE* out_;
  std::function<void(const std::string&)> log_;
  // The IDs of the lines the session holds now, all of them printed.
  std::set<std::string> seen_;
  // The helped PC's chat is read as its windows read it, a few times a second.
  const HostSession* host_ = nullptr;
  Timer hostTimer_;
  std::vector<Subscription> viewerWatch_;
};

}  // namespace plimo
