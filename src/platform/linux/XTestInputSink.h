#pragma once
// Plays input into the X server through XTEST, as if from real devices.
//
// A keysym that has no key of its own at the keyboard's first level (keypad
// digits without Num Lock, F13 and up on many layouts) is played on a spare
// key code bound to it for as long as the sink lives.
//
// Owner: the host session; its thread only. Owns its own X connection.

#include <map>
#include <memory>
#include <vector>

#include "platform/InputSink.h"
#include "platform/linux/XConnection.h"

namespace plimo {

class XTestInputSink final : public InputSink {
 public:
  // Throws Failure::Kind::noServer, or noXTest when the server does not offer
  // XTEST.
  static std::unique_ptr<XTestInputSink> open();
  ~XTestInputSink() override;

  void moveTo(int x, int y) override;
  void button(int button, bool down) override;
  void key(uint32_t keysym, bool down) override;

 private:
  explicit XTestInputSink(std::unique_ptr<XConnection> x);
  unsigned keycode(uint32_t keysym);
  unsigned spareKeycode();

  std::unique_ptr<XConnection> x_;
  std::map<uint32_t, unsigned> keycodes_;  // keysym → key code played
  std::vector<unsigned> bound_;            // spare codes bound here, freed at the end
};

}  // namespace plimo
