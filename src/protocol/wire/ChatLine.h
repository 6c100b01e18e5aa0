#pragma once
// One chat line of a session, on either side.

#include <cstddef>
#include <string>

namespace plimo {

struct ChatLine {
  std::string id;       // a random UUID, new for every line
  bool fromMe = false;  // written on this PC
  std::string text;
  double time = 0;      // when it was made here, wall clock seconds
  // Plimo's own notice kept among the lines; a partner's line never is one,
  // whatever it starts with.
  bool notice = false;

  bool operator==(const ChatLine&) const = default;
};

// Chat a ChatLog keeps, at most: a session's talk is far shorter, and a
// partner sending without end must not fill memory (the oldest lines go).
constexpr size_t kMaxChatLines = 1000;
constexpr size_t kMaxTalkBytes = size_t(4) << 20;

// A fresh random (version 4) UUID in its usual text form.
std::string newChatLineID();

}  // namespace plimo
