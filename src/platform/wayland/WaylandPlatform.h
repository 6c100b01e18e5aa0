#pragma once
// The platform of a Wayland desktop: the screen and input through the
// desktop's screen-sharing interfaces (WaylandScreen, WaylandInput), and
// the sound, H.264 and picture files of the Linux platform.
//
// Which share: with unattended access on, GNOME's own remote-desktop
// interface (no dialog, nobody need be there); otherwise the desktop
// portal, whose dialog asks the person after Plimo's own question.

#include <filesystem>
#include <functional>
#include <memory>

#include "platform/PlatformFactory.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/wayland/WaylandScreen.h"

namespace plimo {

class WaylandPlatform final : public PlatformFactory {
 public:
  struct Settings {
    std::filesystem::path restoreTokenFile;  // the portal's, beside Plimo.ini
    std::function<bool()> unattended;        // read at each share
  };
  explicit WaylandPlatform(Settings settings);

  std::unique_ptr<ScreenSource> screenSource() override;
  std::unique_ptr<InputSink> inputSink() override;
  std::unique_ptr<SoundCapture> soundCapture() override { return media_.soundCapture(); }
  std::unique_ptr<VideoEncoder> videoEncoder(int width, int height, int fps) override {
    return media_.videoEncoder(width, height, fps);
  }
  std::unique_ptr<SoundOut> soundOut() override { return media_.soundOut(); }
  std::unique_ptr<VideoDecoder> videoDecoder() override { return media_.videoDecoder(); }
  std::optional<Picture> readPicture(const std::string& path, const Fit& fit) override {
    return media_.readPicture(path, fit);
  }
  bool writePng(const std::string& path, const Picture& picture) override { return media_.writePng(path, picture); }
  // The desktop's dialog, on a thread of its own; nothing for GNOME's share.
  std::shared_ptr<void> askToShare(std::function<void()> answered) override;

  // Asks the desktop for a share; throws Failure with the person's text.
  std::unique_ptr<DesktopShare> openShare();
  // What the screen source starts on: the asked share, else one asked for
  // now, waiting; throws as openShare.
  GrantedShare grantedShare();
  // What the person is told when an unattended PC's desktop has no
  // interface that shares without a dialog.
  static const char* const kNoUnattended;

 private:
  Settings settings_;
  LinuxPlatform media_;
  std::shared_ptr<WaylandShown> shown_ = std::make_shared<WaylandShown>();
  // Until the screen source takes the grant; a refusal stays, so a screen
  // switched to later does not ask again.
  std::weak_ptr<ShareAsking> asked_;
};

}  // namespace plimo
