#pragma once
// The helped PC's windows around a session: the consent panel, the bar at
// the top of the screen, a glow frame per screen, the chat window and the
// files window (which shows itself when the helper offers or asks for a file).
//
// X11 cannot leave windows out of a picture of the root window (XGetImage
// and MIT-SHM read what is on the screen), so the capture shows the bar and
// the frame; the frame sits on the outermost pixels and the bar is small.
// excludedWindowIDs still names them for a capture that could.
//
// Owner: the windowed program, which outlives the model's sessions. Main
// thread only; the session is not watched, so the windows look at it again
// every kRefresh seconds while it runs.

#include <QPointer>
#include <memory>
#include <vector>

#include "app/AppModel.h"
#include "app/SessionWindows.h"

class QWidget;

namespace plimo {

class ConsentPanel;
class FileWindow;
class GlowFrame;
class HostBar;
class HostChat;

class HostWindows final : public SessionWindows {
 public:
  static constexpr double kRefresh = 0.25;

  HostWindows(EventLoop& loop, QWidget* mainWindow);
  ~HostWindows() override;

  // The consent question in a panel, for AppModel::setHost.
  PartnerSessions::ConsentAsk asker();
  void showChat();
  // The desktop asks the person again after the panel (Wayland's portal).
  void setDesktopAsks(bool asks) { desktopAsks_ = asks; }

  void showRunning(HostSession& session, std::function<void()> stop) override;
  std::vector<uint32_t> excludedWindowIDs() const override;
  void closeAll() override;
  void setMainMinimised(bool minimised) override;
  bool answersFiles() const override { return true; }

  ConsentPanel* consent() const { return consent_.get(); }
  HostBar* bar() const { return bar_.get(); }
  HostChat* chat() const { return chat_.get(); }
  size_t glowCount() const { return glows_.size(); }

 private:
  void ask(HostSession& session, HostSession::AnswerFn answer);

  EventLoop& loop_;
  QPointer<QWidget> main_;
  HostSession* session_ = nullptr;
  bool desktopAsks_ = false;
  std::unique_ptr<ConsentPanel> consent_;
  std::unique_ptr<HostBar> bar_;
  std::unique_ptr<HostChat> chat_;
  std::unique_ptr<FileWindow> files_;
  std::vector<std::unique_ptr<GlowFrame>> glows_;
  Timer refresh_;
};

}  // namespace plimo
