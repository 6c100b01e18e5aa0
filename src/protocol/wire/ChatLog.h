#pragma once
// One session's chat, on either side, with the lines the partner wrote while
// the chat was closed. It keeps the newest kMaxChatLines lines within
// kMaxTalkBytes of text (ChatLine.h), the newest line always.
//
// Owner: the host or viewer session; its thread only.

#include <string>
#include <vector>

#include "core/Observable.h"
#include "protocol/wire/ChatLine.h"

namespace plimo {

class ChatLog {
 public:
  // A line written at this PC.
  void add(bool fromMe, std::string text, double time);
  // Plimo's own notice, shown among the lines.
  void notice(std::string text, double time);
  // A line from the partner: unread while the chat is closed.
  void received(std::string text, double time);
  // Opening the chat reads every line.
  void setOpen(bool open);

  const Observable<std::vector<ChatLine>>& lines() const { return lines_; }
  const Observable<int>& unread() const { return unread_; }
  const Observable<bool>& open() const { return open_; }

 private:
  void append(ChatLine line);

  Observable<std::vector<ChatLine>> lines_;
  Observable<int> unread_{0};
  Observable<bool> open_{false};
};

}  // namespace plimo
