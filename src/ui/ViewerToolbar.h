#pragma once
// The helper's toolbar: the session's state in a line, then the screen
// picker (two screens or more), the keys menu (with control only), the size
// menu, full screen, sound, chat with its unread count, files, and Disconnect.
//
// Owner: ViewerWindow, which outlives nothing it hands over: the session and
// the view outlive the bar. Main thread only.

#include <QWidget>
#include <functional>
#include <vector>

#include "core/Observable.h"
#include "viewer/ViewerOptions.h"

class QLabel;
class QMenu;
class QToolButton;

namespace plimo {

class ScreenView;
class ViewerSession;

class ViewerToolbar final : public QWidget {
 public:
  // The window's part in what the bar offers.
  struct Actions {
    std::function<void(const ViewerOptions&)> setOptions;
    std::function<void()> toggleFullScreen;
    std::function<void()> disconnect;
    std::function<void()> showFiles;
  };
  static constexpr int kHeight = 46;

  ViewerToolbar(ViewerSession& session, ScreenView& view, Actions actions);
  ~ViewerToolbar() override;

  // What the size menu and the full-screen button show.
  void showOptions(const ViewerOptions& options);

 private:
  QToolButton* button(const QString& name, const QString& text, const QString& help);
  void showStatus();
  void showMonitors();
  void buildKeys();
  void buildSize();

  ViewerSession& session_;
  ScreenView& view_;
  Actions actions_;
  ViewerOptions options_;
  QLabel* status_;
  QToolButton *screen_, *keys_, *size_, *fullScreen_, *sound_, *chat_;
  QLabel* unread_;
  QMenu *screenMenu_, *sizeMenu_;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
