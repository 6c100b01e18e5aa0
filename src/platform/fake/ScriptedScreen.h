#pragma once
// A screen source the test drives: it lists the screens it is given, fails a
// start when told to, and publishes the pictures the test hands it as if they
// had been captured.

#include "platform/ScreenSource.h"
#include "platform/fake/SyntheticDesktop.h"

namespace plimo {

class ScriptedScreen final : public ScreenSource {
 public:
  std::vector<Display> displays() override { return screens; }
  void start(const Display& wanted, const std::vector<uint32_t>& excluding) override;
  void stop() override;

  // As captured: puts the picture in the slot (only while running).
  void show(PictureRef picture);
  // As captured: the desktop's next picture (its size should match the start's).
  void showNext(SyntheticDesktop& desktop);
  // The capture stops by itself with `reason`.
  void die(const std::string& reason);
  // The person ends the sharing from the desktop, with `reason`.
  void endSharing(const std::string& reason);

  std::vector<Display> screens;
  // The screens listed from the first start on, when not empty (a desktop
  // that names them only once the person has shared them).
  std::vector<Display> sharedScreens;
  Size pictureSize{1920, 1080};     // size a start reports (made even)
  std::optional<Failure> failNext;  // the next start throws this
  bool running = false;
  int starts = 0;
  int stops = 0;
};

}  // namespace plimo
