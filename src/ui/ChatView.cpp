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

// Qt lays the whole document out again after a change at its front (40 ms
// for a full chat of 4 MB), and after every change of a paragraph's format.
// So the lines a capped list lets go stay shown until a hundred of them, or
// a quarter of the list's most text, have gathered, and go together; the
// new lines, at the end, cost only their own layout.
constexpr size_t kStaleLines = kMaxChatLines / 10;
constexpr size_t kStaleLength = kMaxTalkBytes / 4;

void setFormat(const QTextBlock& block, const QTextBlockFormat& format) {
  if (block.blockFormat() != format) QTextCursor(block).setBlockFormat(format);
}

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
// list may have dropped are tried, and a wrong count fails at its first key
// unless keys repeat (notices may).
template <typename Shown, typename T, typename Key>
size_t droppedOldest(const std::deque<Shown>& shown, const std::vector<T>& items, Key key) {
  const size_t n = shown.size();
  for (size_t d = n > items.size() ? n - items.size() : 0; d < n; ++d) {
    if (std::equal(shown.begin() + std::ptrdiff_t(d), shown.end(), items.begin(),
                   [&](const Shown& s, const T& item) { return s.key == key(item); }))
      return d;
  }
  return n;
}

}  // namespace

ChatView::ChatView(QString other) : other_(std::move(other)) {
  // Dropped lines must not live on in an undo history.
  document()->setUndoRedoEnabled(false);
}

void ChatView::showNotes(const std::vector<std::string>& notes) {
  follow(notes_, 0, notes, [](const std::string& note) -> const std::string& { return note; },
         [&](const std::string& note) { writeNote(int(notes_.items.size()), inOneBlock(note)); });
}

void ChatView::writeNote(int at, const QString& text) {
  QTextCharFormat grey;
  grey.setForeground(QColor("#6b6f76"));
  newBlock(at, paragraph(Qt::AlignHCenter)).insertText(text, grey);
}

void ChatView::showChat(const std::vector<ChatLine>& lines) {
  QTextCharFormat bold, plain;
  bold.setFontWeight(QFont::Bold);
  follow(chat_, int(notes_.items.size()), lines, [](const ChatLine& line) -> const std::string& { return line.id; },
         [&](const ChatLine& line) {
           QString text = inOneBlock(line.text);
           if (line.notice) return writeNote(blocks(), text);
           QTextCursor at = newBlock(blocks(), paragraph(Qt::AlignLeft));
           at.insertText(line.fromMe ? QString("You:") : other_, bold);
           at.insertText(" " + text, plain);
         });
}

template <typename T, typename Key, typename Write>
void ChatView::follow(Section& section, int firstBlock, const std::vector<T>& items, Key key, Write write) {
  auto& shown = section.items;
  const size_t gone = droppedOldest(shown, items, key);
  const bool more = shown.size() - gone < items.size();
  if (gone == section.stale && !more) return;  // the reader's place stays
  size_t staleLength = 0;
  for (size_t i = 0; i < gone; ++i) staleLength += size_t(shown[i].length);
  section.stale = gone;
  if (gone == shown.size() || gone > kStaleLines || staleLength > kStaleLength) {
    dropBlocks(firstBlock, int(gone));
    shown.erase(shown.begin(), shown.begin() + std::ptrdiff_t(gone));
    section.stale = 0;
  }
  for (size_t i = shown.size() - section.stale; i < items.size(); ++i) {
    const int before = document()->characterCount();
    write(items[i]);
    shown.push_back({key(items[i]), document()->characterCount() - before});
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
  if (survivor >= 0) setFormat(doc->findBlockByNumber(survivor), kept);
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
    setFormat(doc->findBlockByNumber(last ? at - 1 : at + 1), kept);
  }
  QTextBlock block = doc->findBlockByNumber(at);
  setFormat(block, format);
  return QTextCursor(block);
}

}  // namespace plimo::ui
