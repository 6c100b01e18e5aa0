#include "platform/wayland/WaylandPlatform.h"

#include "platform/wayland/MutterShare.h"
#include "platform/wayland/PortalShare.h"
#include "platform/wayland/WaylandInput.h"

namespace plimo {

const char* const WaylandPlatform::kNoUnattended =
    "this PC's desktop is Wayland, which lets a helper in only after a person at the PC allows it in the "
    "desktop's own dialog, and it has no remote-desktop interface that works without one (GNOME has). For "
    "unattended help, log in to an X11 session or GNOME; otherwise a person at the PC must be there to allow it";

WaylandPlatform::WaylandPlatform(Settings settings) : settings_(std::move(settings)) {}

std::unique_ptr<ScreenSource> WaylandPlatform::screenSource() {
  // Before the share only GNOME tells its monitors; elsewhere the person
  // picks in the dialog, so one screen stands for "what the dialog gives".
  auto monitors = [] {
    std::vector<Display> screens;
    try {
      Bus bus;
      screens = MutterShare::monitors(bus);
    } catch (const Failure&) {
    }
    if (screens.empty()) screens.push_back({0, {}, true});
    return screens;
  };
  return std::make_unique<WaylandScreen>([this] { return grantedShare(); }, monitors, shown_);
}

std::shared_ptr<void> WaylandPlatform::askToShare(std::function<void()> answered) {
  // GNOME's share asks nobody: the screen's start makes it at once.
  if (settings_.unattended && settings_.unattended()) return nullptr;
  auto asking = std::make_shared<ShareAsking>([this] { return openShare(); }, std::move(answered));
  asked_ = asking;
  return asking;
}

GrantedShare WaylandPlatform::grantedShare() {
  if (auto asked = asked_.lock()) {
    GrantedShare granted = asked->take();
    asked_.reset();
    return granted;
  }
  return ShareAsking([this] { return openShare(); }, [] {}).take();
}

std::unique_ptr<InputSink> WaylandPlatform::inputSink() { return std::make_unique<WaylandInput>(shown_); }

std::unique_ptr<DesktopShare> WaylandPlatform::openShare() {
  auto bus = std::make_unique<Bus>();
  if (settings_.unattended && settings_.unattended()) {
    if (!MutterShare::available(*bus)) throw Failure(Failure::Kind::unsupported, kNoUnattended);
    return std::make_unique<MutterShare>(std::move(bus));
  }
  if (!PortalShare::available(*bus))
    throw Failure(Failure::Kind::unsupported,
                  "this Wayland desktop offers no screen-sharing portal: install xdg-desktop-portal and the "
                  "portal of this desktop (xdg-desktop-portal-gnome or xdg-desktop-portal-kde)");
  return std::make_unique<PortalShare>(std::move(bus), RestoreToken(settings_.restoreTokenFile));
}

}  // namespace plimo
