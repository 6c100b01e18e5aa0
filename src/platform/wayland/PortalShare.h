#pragma once
// The desktop portal's share (org.freedesktop.portal.RemoteDesktop with its
// ScreenCast sources): CreateSession, SelectSources (every monitor the
// person picks, the pointer as metadata, persist_mode 2 with the kept
// restore token), SelectDevices (keyboard and pointer), Start (the
// desktop's own dialog), OpenPipeWireRemote.

#include <memory>

#include "platform/wayland/Bus.h"
#include "platform/wayland/DesktopShare.h"
#include "platform/wayland/PortalRequest.h"
#include "platform/wayland/RestoreToken.h"

namespace plimo {

class PortalShare final : public DesktopShare {
 public:
  static bool available(Bus& bus);

  // How long the desktop's dialog may wait for the person.
  static constexpr auto kDialogWait = std::chrono::seconds(90);

  PortalShare(std::unique_ptr<Bus> bus, RestoreToken token);
  ~PortalShare() override;

  std::vector<Stream> start() override;
  void cancel() override { bus_->cancel(); }
  void watch() override { bus_->watch(); }
  int pipeWireFd() override;
  void pointerMotion(const Stream& stream, double x, double y) override;
  void pointerButton(int evdevCode, bool down) override;
  void pointerAxisDiscrete(int axis, int steps) override;
  void keysym(uint32_t keysym, bool down) override;

 private:
  PortalResponse ask(const std::string& interface, const std::string& member,
                     std::vector<BusOption> options, std::chrono::steady_clock::duration wait);
  void notify(const char* member, const char* types, ...);

  std::unique_ptr<Bus> bus_;
  PortalRequests requests_;
  RestoreToken token_;
  std::string session_;
  uint32_t devices_ = 0;  // granted: 1 keyboard, 2 pointer
  std::atomic<bool> closing_{false};  // read on the bus's thread
};

// The person's text for a portal answer that is not a grant.
std::string portalRefusal(int code, const std::string& step);

}  // namespace plimo
