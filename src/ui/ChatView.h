#pragma once
// A session's talk as the chat windows show it: the notices, centred and
// grey, then the chat lines, each after "You:" or the partner's label. It
// follows the session's capped lists: a change appends the new paragraphs
// and drops from the front those the list let go, so a line costs as much
// in a full chat as in an empty one. Texts go in as they are, never read as
// markup.
//
// Owner: the chat window. Main thread only.

#include <QTextBrowser>
#include <deque>
#include <string>
#include <vector>

#include "protocol/ChatLine.h"

namespace plimo::ui {

class ChatView final : public QTextBrowser {
 public:
  explicit ChatView(QString other);

  void showNotes(const std::vector<std::string>& notes);
  void showChat(const std::vector<ChatLine>& lines);

 private:
  // What one list has in the document: a paragraph (block) per item, after
  // those of the lists before it, known by the keys that tell items apart.
  using Keys = std::deque<std::string>;

  template <typename T, typename Key, typename Write>
  void follow(Keys& shown, int firstBlock, const std::vector<T>& items, Key key, Write write);
  void dropBlocks(int first, int count);
  QTextCursor newBlock(int at, const QTextBlockFormat& format);
  int blocks() const { return int(notes_.size() + chat_.size()); }

  QString other_;
  Keys notes_;  // the notices themselves
  Keys chat_;   // the lines' IDs
};

}  // namespace plimo::ui
