#include "protocol/wire/ChatLog.h"

#include "core/CappedList.h"

namespace plimo {

void ChatLog::add(bool fromMe, std::string text, double time) {
  append(ChatLine{newChatLineID(), fromMe, std::move(text), time});
}

void ChatLog::notice(std::string text, double time) {
  append(ChatLine{newChatLineID(), false, std::move(text), time, true});
}

void ChatLog::append(ChatLine line) {
  auto items = lines_.get();
  appendCapped(items, std::move(line), kMaxChatLines, kMaxTalkBytes,
               [](const ChatLine& kept) { return kept.text.size(); });
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
