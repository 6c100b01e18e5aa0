#include "platform/fake/RecordingInputSink.h"

#include <cstdio>

namespace plimo {

void RecordingInputSink::moveTo(int x, int y) {
  events.push_back("move " + std::to_string(x) + "," + std::to_string(y));
}

void RecordingInputSink::button(int button, bool down) {
  events.push_back("button " + std::to_string(button) + (down ? " down" : " up"));
}

void RecordingInputSink::key(uint32_t keysym, bool down) {
  char text[32];
  std::snprintf(text, sizeof text, "key 0x%x %s", keysym, down ? "down" : "up");
  events.push_back(text);
}

}  // namespace plimo
