#pragma once
// GNOME's own remote-desktop interface (org.gnome.Mutter.RemoteDesktop with
// a linked org.gnome.Mutter.ScreenCast session), as GNOME's remote-desktop
// service uses it: no dialog, so only for PCs set up for unattended access.
// Monitors come from org.gnome.Mutter.DisplayConfig.

#include <atomic>
#include <memory>

#include "platform/wayland/Bus.h"
#include "platform/wayland/DesktopShare.h"

namespace plimo {

class MutterShare final : public DesktopShare {
 public:
  static bool available(Bus& bus);
  // The logical monitors; id is the monitor's place in the list, since
  // connector names have no number of their own.
  static std::vector<Display> monitors(Bus& bus);

  explicit MutterShare(std::unique_ptr<Bus> bus);
  ~MutterShare() override;

  std::vector<Stream> start() override;
  void cancel() override { bus_->cancel(); }
  void watch() override { bus_->watch(); }
  int pipeWireFd() override { return -1; }
  void pointerMotion(const Stream& stream, double x, double y) override;
  void pointerButton(int evdevCode, bool down) override;
  void pointerAxisDiscrete(int axis, int steps) override;
  void keysym(uint32_t keysym, bool down) override;

 private:
  void notify(const char* member, const char* types, ...);

  std::unique_ptr<Bus> bus_;
  std::string session_;  // the RemoteDesktop session's path, once made
  bool started_ = false;
  std::atomic<bool> closing_{false};  // read on the bus's thread
};

}  // namespace plimo
