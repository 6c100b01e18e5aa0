#pragma once
// An input sink that writes down what it is told, as short text lines:
// "move 10,20", "button 1 down", "key 0xffe1 up".

#include <string>
#include <vector>

#include "platform/InputSink.h"

namespace plimo {

class RecordingInputSink final : public InputSink {
 public:
  void moveTo(int x, int y) override;
  void button(int button, bool down) override;
  void key(uint32_t keysym, bool down) override;

  std::vector<std::string> events;
};

}  // namespace plimo
