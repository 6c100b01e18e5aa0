#include "protocol/wire/ChatLog.h"

#include "core/CappedList.h"

namespace plimo {

void ChatLog::add(bool fromMe, std::string text, double time) {
  auto items = lines_.get();
  appendCapped(items, ChatLine{newChatLineID(), fromMe, std::move(text), time}, kMaxChatLines, kMaxTalkBytes,
               [](const ChatLine& line) { return line.text.size(); });
  lines_.set(items);
}

void ChatLog::received(std::string text, double time) {
  add(false, std::move(text), time);
  if (!open_.get()) unread_.set(unread_.get() + 1);
}

void ChatLog::setOpen(bool open) {
  open_.set(open);
  if (open) unread_.set(0);
}

}  // namespace plimo
