#pragma once
// A session's talk as the chat windows show it: the notices, centred and
// grey, then the chat lines, each after "You:" or the partner's label (a
// session that keeps its notices among the lines flags them, and those read
// as notices too, where they came). It
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

#include "protocol/wire/ChatLine.h"

namespace plimo::ui {

class ChatView final : public QTextBrowser {
 public:
  explicit ChatView(QString other);

  void showNotes(const std::vector<std::string>& notes);
  void showChat(const std::vector<ChatLine>& lines);

 private:
  // What one list has in the document: a paragraph (block) per item, after
  // those of the lists before it, known by the key that tells items apart.
  // The oldest `stale` the list has let go already are still shown: see
  // kStaleLines.
  struct Shown {
    std::string key;
    int length;  // in the document, with its block break
  };
  struct Section {
    std::deque<Shown> items;
    size_t stale = 0;
  };

  template <typename T, typename Key, typename Write>
  void follow(Section& section, int firstBlock, const std::vector<T>& items, Key key, Write write);
  // A notice's paragraph, centred and grey, before block `at`.
  void writeNote(int at, const QString& text);
  void dropBlocks(int first, int count);
  QTextCursor newBlock(int at, const QTextBlockFormat& format);
  int blocks() const { return int(notes_.items.size() + chat_.items.size()); }

  QString other_;
  Section notes_;  // keyed by the notices themselves
  Section chat_;   // keyed by the lines' IDs
};

}  // namespace plimo::ui
