#include "platform/fake/SyntheticDesktop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

namespace plimo {

namespace {

constexpr int cellWidth = SyntheticPainter::cellWidth;
constexpr int glyphHeight = SyntheticPainter::glyphHeight;
constexpr int lineHeight = SyntheticPainter::lineHeight;
constexpr int titleHeight = 28;
constexpr int taskBarHeight = 40;
constexpr int scrollBarWidth = 12;
constexpr int textInset = 10;
// Rows the document moves a picture: a gentle mouse-wheel scroll.
constexpr int scrollRows = 3;

constexpr uint32_t white = 0xFFFFFF;
constexpr uint32_t ink = 0x1E1E1E;
constexpr uint32_t headingInk = 0x1A4F9C;
constexpr uint32_t borderGrey = 0x5A5A5A;

constexpr std::string_view words[] = {
    "remote", "screen", "session", "partner", "support", "the",    "a",      "of",
    "to",     "and",    "window",  "picture", "helper",  "server", "key",    "is",
    "in",     "network", "relay",  "update",  "tile",    "for",    "with",   "check",
    "number", "sound",  "mouse",   "keyboard", "chat",   "file",   "report", "connect"};

// Line `index` of the document: deterministic prose, a heading now and then,
// and an empty line before each heading.
std::string documentLine(int index, bool& heading) {
  heading = index % 23 == 1;
  if (index % 23 == 0) return {};
  uint32_t seed = syntheticMix(uint32_t(index) + 1);
  const int count = heading ? 2 + int(seed % 3) : 6 + int(seed % 9);
  std::string line;
  for (int i = 0; i < count; ++i) {
    seed = syntheticMix(seed);
    if (!line.empty()) line += ' ';
    line += words[seed % std::size(words)];
  }
  if (heading) line[0] = char(line[0] - 'a' + 'A');
  else line += '.';
  return line;
}

// The text typed into the editor, one character a picture, over and over.
const std::string& editorText() {
  static const std::string text = [] {
    std::string all;
    for (int i = 0; i < 40; ++i) {
      bool heading = false;
      all += documentLine(i * 7 + 2, heading);
      all += ' ';
    }
    return all;
  }();
  return text;
}

// One period of a sine as bytes, for the video's moving colours.
const std::array<uint8_t, 256>& sineTable() {
  static const std::array<uint8_t, 256> table = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = uint8_t(std::lround(127.5 + 127.5 * std::sin(i * std::numbers::pi / 128)));
    return t;
  }();
  return table;
}

}  // namespace

std::string_view SyntheticDesktop::name(Script script) {
  switch (script) {
    case Script::still: return "still";
    case Script::typing: return "typing";
    case Script::scrolling: return "scrolling";
    case Script::video: return "video";
    case Script::busy: return "busy";
  }
  return "unknown";
}

SyntheticDesktop::SyntheticDesktop(Script script, int width, int height) : script_(script) {
  resize(width, height);
}

void SyntheticDesktop::resize(int width, int height) {
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  pixels_.assign(size_t(width_) * size_t(height_) * 4, 0);
  caretColumn_ = 0;
  caretLine_ = 0;
  layOut();
  drawAll();
}

ByteView SyntheticDesktop::next() {
  ++step_;
  const bool all = script_ == Script::busy;
  if (all || script_ == Script::typing) typeOne();
  if (all || script_ == Script::scrolling) scrollDocument();
  if (all || script_ == Script::video) drawVideo();
  return pixels_;
}

void SyntheticDesktop::layOut() {
  const int w = width_, h = height_;
  const auto body = [](const Rect& f) {
    return Rect{f.x + 1, f.y + 1 + titleHeight, std::max(f.w - 2, 0), std::max(f.h - 2 - titleHeight, 0)};
  };
  layout_.taskBar = {0, h - std::min(taskBarHeight, h / 8), w, std::min(taskBarHeight, h / 8)};
  layout_.editor = {w * 5 / 100, h * 8 / 100, w * 42 / 100, h * 50 / 100};
  layout_.document = {w * 50 / 100, h * 5 / 100, w * 45 / 100, h * 80 / 100};
  layout_.player = {w * 6 / 100, h * 62 / 100, w * 30 / 100, h * 30 / 100};
  layout_.editorBody = body(layout_.editor);
  layout_.documentBody = body(layout_.document);
  const Rect playerBody = body(layout_.player);
  // A 16:9 picture of at most 320 x 180 (a small video call or clip),
  // deliberately not aligned to any tile grid.
  const int vw = std::min(320, std::max(playerBody.w - 14, 0));
  const int vh = std::min(vw * 9 / 16, std::max(playerBody.h - 14, 0));
  layout_.video = {playerBody.x + 7, playerBody.y + 7, vw, vh};
}

void SyntheticDesktop::drawAll() {
  drawWallpaper();
  drawTaskBar();
  drawWindow(layout_.editor, 0x3C6E9E, "Notes - editor");
  drawEditor();
  drawWindow(layout_.document, 0x4B4B7A, "Handbook.txt");
  drawDocumentRows(0, layout_.documentBody.h);
  drawWindow(layout_.player, 0x2F2F2F, "Player");
  painter().fill({layout_.player.x + 1, layout_.player.y + 1 + titleHeight, layout_.player.w - 2,
                  layout_.player.h - 2 - titleHeight},
                 0x101010);
  drawVideo();
}

void SyntheticDesktop::drawWallpaper() {
  SyntheticPainter paint = painter();
  for (int y = 0; y < height_; ++y) {
    const uint32_t fade = uint32_t(y * 96 / height_);
    const uint32_t base = (0x10 + fade / 3) << 16 | (0x30 + fade) << 8 | (0x60 + fade / 2);
    for (int x = 0; x < width_; ++x) {
      // Soft diagonal stripes, so the wallpaper is not one flat colour.
      const bool stripe = ((x + y) / 6) % 16 < 2;
      paint.put(x, y, stripe ? base + 0x060606 : base);
    }
  }
}

void SyntheticDesktop::drawTaskBar() {
  SyntheticPainter paint = painter();
  const Rect& bar = layout_.taskBar;
  paint.fill(bar, 0x202428);
  static constexpr uint32_t icons[] = {0xE8A33D, 0x3DA5E8, 0x5BC05B, 0xD04848, 0x9A6BD0, 0xC0C0C0};
  for (size_t i = 0; i < std::size(icons); ++i)
    paint.fill({bar.x + 12 + int(i) * 36, bar.y + 8, 24, 24}, icons[i]);
  paint.text(bar.x + bar.w - 60, bar.y + 12, "12:34", 0xE0E0E0, 0x202428, bar);
}

void SyntheticDesktop::drawWindow(const Rect& frame, uint32_t titleColour, std::string_view title) {
  SyntheticPainter paint = painter();
  paint.fill(frame, borderGrey);
  const Rect bar{frame.x + 1, frame.y + 1, frame.w - 2, titleHeight};
  paint.fill(bar, titleColour);
  paint.text(bar.x + 10, bar.y + 6, title, white, titleColour, bar);
  paint.fill({frame.x + 1, frame.y + 1 + titleHeight, frame.w - 2, frame.h - 2 - titleHeight}, white);
}

void SyntheticDesktop::drawEditor() {
  painter().fill(layout_.editorBody, white);
  drawCaret(true);
}

void SyntheticDesktop::drawCaret(bool on) {
  const Rect& body = layout_.editorBody;
  painter().fill(
      {body.x + textInset + caretColumn_ * cellWidth, body.y + textInset + caretLine_ * lineHeight, 2, glyphHeight},
      on ? ink : white);
}

void SyntheticDesktop::typeOne() {
  SyntheticPainter paint = painter();
  const Rect& body = layout_.editorBody;
  const int columns = (body.w - 2 * textInset) / cellWidth;
  const int lines = (body.h - 2 * textInset) / lineHeight;
  const std::string& source = editorText();
  const char c = source[typed_++ % source.size()];
  if (columns <= 0 || lines <= 0) return;
  drawCaret(false);
  if (caretColumn_ >= columns) {
    caretColumn_ = 0;
    ++caretLine_;
  }
  if (caretLine_ >= lines) {
    // The page is full: start a new one, as a user clearing the note would.
    paint.fill(body, white);
    caretLine_ = 0;
  }
  const int x = body.x + textInset + caretColumn_ * cellWidth;
  const int y = body.y + textInset + caretLine_ * lineHeight;
  for (int row = 0; row < glyphHeight; ++row) paint.glyphRow(x, y + row, c, row, ink, white, body);
  ++caretColumn_;
  drawCaret(true);
}

void SyntheticDesktop::scrollDocument() {
  const Rect& body = layout_.documentBody;
  documentTop_ += scrollRows;
  if (body.w <= 0 || body.h <= 0) return;
  const int kept = body.h - scrollRows;
  if (kept <= 0) {
    drawDocumentRows(0, body.h);
    return;
  }
  const size_t rowBytes = size_t(body.w) * 4;
  for (int k = 0; k < kept; ++k) {
    uint8_t* to = pixels_.data() + (size_t(body.y + k) * size_t(width_) + size_t(body.x)) * 4;
    std::memmove(to, to + size_t(scrollRows) * bytesPerRow(), rowBytes);
  }
  drawDocumentRows(kept, scrollRows);
}

// Draws the document rows [firstRow, firstRow + rowCount) of its window
// (counted from the window's top), and the scroll bar.
void SyntheticDesktop::drawDocumentRows(int firstRow, int rowCount) {
  SyntheticPainter paint = painter();
  const Rect& body = layout_.documentBody;
  const Rect textArea{body.x, body.y, std::max(body.w - scrollBarWidth, 0), body.h};
  int cachedLine = -1;
  std::string line;
  bool heading = false;
  for (int k = firstRow; k < firstRow + rowCount && k < body.h; ++k) {
    const int docRow = documentTop_ + k;
    const int y = body.y + k;
    paint.fill({textArea.x, y, textArea.w, 1}, white);
    if (docRow / lineHeight != cachedLine) {
      cachedLine = docRow / lineHeight;
      line = documentLine(cachedLine, heading);
    }
    const int glyphRowIndex = docRow % lineHeight;
    if (glyphRowIndex >= glyphHeight) continue;
    for (size_t i = 0; i < line.size(); ++i)
      paint.glyphRow(textArea.x + textInset + int(i) * cellWidth, y, line[i], glyphRowIndex,
                     heading ? headingInk : ink, white, textArea);
  }
  // The scroll bar's thumb walks down the track as the document moves.
  const Rect track{body.x + body.w - scrollBarWidth, body.y, std::min(scrollBarWidth, body.w), body.h};
  paint.fill(track, 0xE6E6E6);
  const int thumbHeight = std::min(60, track.h);
  const int travel = std::max(track.h - thumbHeight, 1);
  paint.fill({track.x + 2, track.y + (documentTop_ / 8) % travel, track.w - 4, thumbHeight}, 0xA0A0A0);
}

void SyntheticDesktop::drawVideo() {
  SyntheticPainter paint = painter();
  const Rect& v = layout_.video;
  const auto& sine = sineTable();
  const uint32_t t = uint32_t(step_);
  // A bright square bouncing across the picture, like a subject moving.
  const int travelX = std::max(v.w - 24, 1), travelY = std::max(v.h - 24, 1);
  const int bx = int((t * 5) % uint32_t(2 * travelX)), by = int((t * 3) % uint32_t(2 * travelY));
  const int ballX = bx < travelX ? bx : 2 * travelX - bx;
  const int ballY = by < travelY ? by : 2 * travelY - by;
  for (int y = 0; y < v.h; ++y) {
    if (v.y + y < 0 || v.y + y >= height_) continue;
    for (int x = 0; x < v.w; ++x) {
      if (v.x + x < 0 || v.x + x >= width_) continue;
      const uint32_t s = sine[(x * 3 + t * 5) & 255] + sine[(y * 4 + 256 - (t * 3 & 255)) & 255] +
                         sine[((x + y) * 2 + t * 7) & 255];
      // Sensor noise: video never repeats a pixel exactly.
      const uint32_t noise = syntheticMix(uint32_t(x) | uint32_t(y) << 12 | t << 22) & 7;
      uint32_t r = s / 3, g = sine[(s / 3 + t) & 255], b = 255 - s / 3;
      const bool ball = x >= ballX && x < ballX + 24 && y >= ballY && y < ballY + 24;
      if (ball) r = g = b = 240;
      paint.put(v.x + x, v.y + y,
                    std::min(r + noise, 255u) << 16 | std::min(g + noise, 255u) << 8 | std::min(b + noise, 255u));
    }
  }
}

}  // namespace plimo
