#include "ui/HelperWindows.h"

#include "ui/ScreenView.h"
#include "ui/ViewerWindow.h"

namespace plimo {

HelperWindows::HelperWindows(EventLoop& loop, IniFile& ini, std::function<void(std::string_view)> log)
    : loop_(loop), ini_(ini), log_(std::move(log)) {}

HelperWindows::~HelperWindows() { closeViewer(); }

ScreenDisplay& HelperWindows::showViewer(ViewerSession& session, const Facts& facts,
                                         std::function<void()> disconnect) {
  closeViewer();
  auto onClosed = [this, disconnect = std::move(disconnect)] {
    // The helper closed it from inside its own event: it goes once the event
    // is over, and the session's end finds no window left to close.
    ViewerWindow* closing = window_.release();
    closing->detach();
    closing->deleteLater();
    disconnect();
  };
  window_ = std::make_unique<ViewerWindow>(loop_, session, ini_, facts, ViewerWindow::Closing{onClosed, log_});
  window_->show();
  window_->raise();
  window_->activateWindow();
  return window_->view();
}

void HelperWindows::closeViewer() {
  if (!window_) return;
  window_->closeFromModel();
  window_.reset();
}

}  // namespace plimo
