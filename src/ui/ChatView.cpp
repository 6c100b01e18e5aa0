#include "ui/ChatView.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace plimo::ui {

namespace {

// Paragraphs as far apart as Qt's rich text sets them.
constexpr qreal kParagraphGap = 12;

QTextBlockFormat paragraph(Qt::Alignment alignment) {
  QTextBlockFormat format;
  format.setAlignment(alignment);
  format.setTopMargin(kParagraphGap);
  format.setBottomMargin(kParagraphGap);
  return format;
}

// One paragraph per item: breaks inside a text become line breaks, and the
// characters the document reads as frame marks are replaced.
QString inOneBlock(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace("\r\n", "\n");
  for (QChar& c : s) {
    if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator)
      c = QChar::LineSeparator;
    else if (c == QChar(0xfdd0) || c == QChar(0xfdd1))
      c = QChar::ReplacementCharacter;
  }
  return s;
}

// How many of the oldest `shown` a capped list's change let go: the rest is
// still where `items` starts. All of them when `items` does not follow from
// `shown` so (another list), which is then shown anew. Only the counts the
// list may have dropped are tried, and a wrong one fails at its first key
// but where keys repeat.
template <typename T, typename Key>
size_t droppedOldest(const std::deque<std::string>& shown, const std::vector<T>& items, Key key) {
  const size_t n = shown.size();
  for (size_t d = n > items.size() ? n - items.size() : 0; d < n; ++d) {
    if (std::equal(shown.begin() + std::ptrdiff_t(d), shown.end(), items.begin(),
                   [&](const std::string& k, const T& item) { return k == key(item); }))
      return d;
  }
  return n;
}

}  // namespace

ChatView::ChatView(QString other) : other_(std::move(other)) {
  // Dropped lines must not live on in an undo history.
  document()->setUndoRedoEnabled(false);
  setOpenLinks(false);
}

void ChatView::showNotes(const std::vector<std::string>& notes) {
  QTextCharFormat grey;
  grey.setForeground(QColor("#6b6f76"));
  follow(notes_, 0, notes, [](const std::string& note) -> const std::string& { return note; },
         [&](const std::string& note) {
           newBlock(int(notes_.size()), paragraph(Qt::AlignHCenter)).insertText(inOneBlock(note), grey);
         });
}

void ChatView::showChat(const std::vector<ChatLine>& lines) {
  QTextCharFormat bold, plain;
  bold.setFontWeight(QFont::Bold);
  follow(chat_, int(notes_.size()), lines, [](const ChatLine& line) -> const std::string& { return line.id; },
         [&](const ChatLine& line) {
           QTextCursor at = newBlock(blocks(), paragraph(Qt::AlignLeft));
           at.insertText(line.fromMe ? QString("You:") : other_, bold);
           at.insertText(" " + inOneBlock(line.text), plain);
         });
}

template <typename T, typename Key, typename Write>
void ChatView::follow(Keys& shown, int firstBlock, const std::vector<T>& items, Key key, Write write) {
  const size_t dropped = droppedOldest(shown, items, key);
  if (dropped == 0 && shown.size() == items.size()) return;  // the reader's place stays
  dropBlocks(firstBlock, int(dropped));
  shown.erase(shown.begin(), shown.begin() + std::ptrdiff_t(dropped));
  for (size_t i = shown.size(); i < items.size(); ++i) {
    write(items[i]);
    shown.push_back(key(items[i]));
  }
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

// Removes blocks [first, first + count). Removing text across a block break
// may leave the survivor with either side's paragraph format: it gets its
// own back.
void ChatView::dropBlocks(int first, int count) {
  if (count == 0) return;
  QTextDocument* doc = document();
  const int end = first + count;
  QTextCursor cut(doc);
  int survivor = -1;  // its number once the cut is made
  QTextBlockFormat kept;
  if (end < blocks()) {
    survivor = first;
    kept = doc->findBlockByNumber(end).blockFormat();
    cut.setPosition(doc->findBlockByNumber(first).position());
    cut.setPosition(doc->findBlockByNumber(end).position(), QTextCursor::KeepAnchor);
  } else if (first > 0) {
    survivor = first - 1;
    QTextBlock before = doc->findBlockByNumber(survivor);
    kept = before.blockFormat();
    cut.setPosition(before.position() + before.length() - 1);
    cut.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  } else {
    cut.select(QTextCursor::Document);
  }
  cut.removeSelectedText();
  if (survivor >= 0) QTextCursor(doc->findBlockByNumber(survivor)).setBlockFormat(kept);
}

// An empty paragraph with `format` before block `at`, or after the last.
// Splitting a block may give either half the format asked for: the
// neighbour gets its own back.
QTextCursor ChatView::newBlock(int at, const QTextBlockFormat& format) {
  QTextDocument* doc = document();
  const int count = blocks();
  if (count > 0) {
    const bool last = at == count;
    QTextBlock neighbour = doc->findBlockByNumber(last ? count - 1 : at);
    const QTextBlockFormat kept = neighbour.blockFormat();
    QTextCursor split(doc);
    split.setPosition(last ? neighbour.position() + neighbour.length() - 1 : neighbour.position());
    split.insertBlock(format);
    QTextCursor(doc->findBlockByNumber(last ? at - 1 : at + 1)).setBlockFormat(kept);
  }
  QTextCursor cursor(doc->findBlockByNumber(at));
  cursor.setBlockFormat(format);
  return cursor;
}

}  // namespace plimo::ui
