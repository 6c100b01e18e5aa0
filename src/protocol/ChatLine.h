#pragma once
// One chat line of a session, on either side.

#include <string>

namespace plimo {

struct ChatLine {
  std::string id;       // a random UUID, new for every line
  bool fromMe = false;  // written on this PC
  std::string text;
  double time = 0;      // when it was made here, wall clock seconds

  bool operator==(const ChatLine&) const = default;
};

// A fresh random (version 4) UUID in its usual text form.
std::string newChatLineID();

}  // namespace plimo
