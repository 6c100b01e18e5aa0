#pragma once
// The helper's window: the toolbar, the other PC's screen with what lies
// over it, and the chat panel. It follows the remote screen's proportions
// while the picture is fitted (and the option is on), keeps the display
// choices in Plimo.ini and its place on the screen in Windows.ini beside it,
// and goes full screen with F11 or Ctrl+Super+F. A file dropped onto it is
// offered to the other PC (FileWindow).
//
// Closing it (or Disconnect) lets go of every key and button held on the
// other PC and then calls `onClosed` once; a close asked for by the model
// (closeFromModel) calls nothing.
//
// Owner: HelperWindows. The session outlives the window or, when the helper
// closes it, lives until detach. Main thread only.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "app/ViewerWindows.h"
#include "core/EventLoop.h"
#include "core/Observable.h"
#include "viewer/ViewerOptions.h"

class QScrollArea;

namespace plimo {

class FileWindow;
class IniFile;
class ScreenView;
class ViewerChat;
class ViewerOverlays;
class ViewerSession;
class ViewerToolbar;

class ViewerWindow final : public QWidget {
 public:
  struct Closing {
    std::function<void()> onClosed;
    std::function<void(std::string_view)> log;  // a failed save of the options
  };

  ViewerWindow(EventLoop& loop, ViewerSession& session, IniFile& ini, const ViewerWindows::Facts& facts,
               Closing closing);
  ~ViewerWindow() override;

  ScreenView& view() const { return *view_; }
  const ViewerOptions& options() const { return options_; }
  void setOptions(const ViewerOptions& next);
  void toggleFullScreen();
  // The session ends: let go of held input and close, calling nothing.
  void closeFromModel();
  // Lets go of the session: nothing here reaches it afterwards.
  void detach();

  // The content height that keeps the remote screen's shape at `width`, or
  // nothing while the window is free to take any shape.
  std::optional<int> proportionalHeight(int width) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void followProportions();

  ViewerSession* session_;
  IniFile& ini_;
  Closing closing_;
  ViewerOptions options_;
  QScrollArea* area_;
  ScreenView* view_;
  ViewerToolbar* toolbar_;
  ViewerChat* chat_;
  std::unique_ptr<ViewerOverlays> overlays_;
  std::unique_ptr<FileWindow> files_;
  bool closingFromModel_ = false;
  bool closed_ = false;
  bool adjusting_ = false;
  std::vector<Subscription> watching_;
};

}  // namespace plimo
