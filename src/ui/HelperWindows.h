#pragma once
// The helper's window around a viewer session, as the model opens and
// closes it.
//
// Owner: the windowed program, which outlives the model's sessions. Main
// thread only.

#include <functional>
#include <memory>
#include <string_view>

#include "app/ViewerWindows.h"
#include "core/EventLoop.h"

namespace plimo {

class IniFile;
class ViewerWindow;

class HelperWindows final : public ViewerWindows {
 public:
  // `ini` keeps the display choices; `log` hears of a failed save.
  HelperWindows(EventLoop& loop, IniFile& ini, std::function<void(std::string_view)> log);
  ~HelperWindows() override;

  ScreenDisplay& showViewer(ViewerSession& session, const Facts& facts, std::function<void()> disconnect) override;
  void closeViewer() override;
  bool answersFiles() const override { return true; }

  // The open window, if any.
  ViewerWindow* viewer() const { return window_.get(); }

 private:
  EventLoop& loop_;
  IniFile& ini_;
  std::function<void(std::string_view)> log_;
  std::unique_ptr<ViewerWindow> window_;
};

}  // namespace plimo
