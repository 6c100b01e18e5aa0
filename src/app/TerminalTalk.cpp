#include "app/TerminalTalk.h"

#include "core/Text.h"
#include "host/HostSession.h"
#include "viewer/ViewerSession.h"

namespace plimo {

namespace {

// As often as the host's windows look at its chat.
constexpr double kHostChatPeriod = 0.25;

}  // namespace

TerminalTalk::TerminalTalk(EventLoop& loop, ScreenDisplay& display, std::FILE* out,
                           std::function<void(const std::string&)> log)
    : loop_(loop), display_(display), out_(out), log_(std::move(log)) {}

void TerminalTalk::showRunning(HostSession& session, std::function<void()>) {
  host_ = &session;
  seen_.clear();
  newLines(session.chat(), "Helper");
  hostTimer_ = loop_.every(kHostChatPeriod, [this] { newLines(host_->chat(), "Helper"); });
}

void TerminalTalk::closeAll() {
  hostTimer_.reset();
  host_ = nullptr;
}

ScreenDisplay& TerminalTalk::showViewer(ViewerSession& session, const Facts&, std::function<void()>) {
  seen_.clear();
  viewerWatch_.clear();
  newLines(session.chat().get(), "Partner");
  viewerWatch_.push_back(
      session.chat().observe([this](const std::vector<ChatLine>& lines) { newLines(lines, "Partner"); }));
  // Each notice comes as the newest of the session's list.
  viewerWatch_.push_back(session.notes().observe([this](const std::vector<std::string>& notes) {
    if (!notes.empty()) print(notes.back());
  }));
  return display_;
}

void TerminalTalk::closeViewer() { viewerWatch_.clear(); }

void TerminalTalk::newLines(const std::vector<ChatLine>& lines, std::string_view who) {
  std::set<std::string> now;
  for (const ChatLine& line : lines) {
    now.insert(line.id);
    if (line.fromMe || seen_.count(line.id)) continue;
    print(line.notice ? line.text : std::string(who) + ": " + line.text);
  }
  seen_ = std::move(now);
}

void TerminalTalk::print(const std::string& line) {
  // The partner's words: no code in them may reach the terminal.
  std::fprintf(out_, "%s\n", printable(line).c_str());
  std::fflush(out_);
  log_(line);
}

}  // namespace plimo
