#include "platform/fake/SyntheticDesktop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

namespace plimo {

namespace {

// Character cells of 8 x 16 pixels with 2 rows of leading, like a small
// terminal font: the shape of text matters to the tile compressor, the
// legibility does not.
constexpr int cellWidth = 8;
constexpr int glyphHeight = 16;
constexpr int lineHeight = 18;
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

// Deterministic integer hashing (the same pictures on every platform).
uint32_t mix(uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  v ^= v >> 16;
  return v;
}

void put(uint8_t* at, uint32_t rgb) {
  at[0] = uint8_t(rgb);
  at[1] = uint8_t(rgb >> 8);
  at[2] = uint8_t(rgb >> 16);
  at[3] = 255;
}

uint32_t blend(uint32_t a, uint32_t b) {
  return (((a & 0xFEFEFE) >> 1) + ((b & 0xFEFEFE) >> 1)) & 0xFFFFFF;
}

// Eight pixels of one row of character c: six stroke columns in the middle,
// rows 3..13 inked, so letters sit on a base line with ascender room above.
uint8_t glyphBits(char c, int row) {
  if (c == ' ' || row < 3 || row > 13) return 0;
  const uint32_t shape = mix(uint32_t(uint8_t(c)) * 0x9E3779B9u);
  const uint32_t stems = shape & 0x7E;               // the letter's vertical strokes
  const bool bar = (shape >> (8 + (row % 11))) & 1;  // its horizontal strokes
  return uint8_t(bar ? 0x7E : stems);
}

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
  uint32_t seed = mix(uint32_t(index) + 1);
  const int count = heading ? 2 + int(seed % 3) : 6 + int(seed % 9);
  std::string line;
  for (int i = 0; i < count; ++i) {
    seed = mix(seed);
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
  fill({layout_.player.x + 1, layout_.player.y + 1 + titleHeight, layout_.player.w - 2,
        layout_.player.h - 2 - titleHeight},
       0x101010);
  drawVideo();
}

void SyntheticDesktop::drawWallpaper() {
  for (int y = 0; y < height_; ++y) {
    const uint32_t fade = uint32_t(y * 96 / height_);
    const uint32_t base = (0x10 + fade / 3) << 16 | (0x30 + fade) << 8 | (0x60 + fade / 2);
    uint8_t* row = pixels_.data() + size_t(y) * bytesPerRow();
    for (int x = 0; x < width_; ++x) {
      // Soft diagonal stripes, so the wallpaper is not one flat colour.
      const bool stripe = ((x + y) / 6) % 16 < 2;
      put(row + size_t(x) * 4, stripe ? base + 0x060606 : base);
    }
  }
}

void SyntheticDesktop::drawTaskBar() {
  const Rect& bar = layout_.taskBar;
  fill(bar, 0x202428);
  static constexpr uint32_t icons[] = {0xE8A33D, 0x3DA5E8, 0x5BC05B, 0xD04848, 0x9A6BD0, 0xC0C0C0};
  for (size_t i = 0; i < std::size(icons); ++i)
    fill({bar.x + 12 + int(i) * 36, bar.y + 8, 24, 24}, icons[i]);
  text(bar.x + bar.w - 60, bar.y + 12, "12:34", 0xE0E0E0, 0x202428, bar);
}

void SyntheticDesktop::drawWindow(const Rect& frame, uint32_t titleColour, std::string_view title) {
  fill(frame, borderGrey);
  const Rect bar{frame.x + 1, frame.y + 1, frame.w - 2, titleHeight};
  fill(bar, titleColour);
  text(bar.x + 10, bar.y + 6, title, white, titleColour, bar);
  fill({frame.x + 1, frame.y + 1 + titleHeight, frame.w - 2, frame.h - 2 - titleHeight}, white);
}

void SyntheticDesktop::drawEditor() {
  fill(layout_.editorBody, white);
  drawCaret(true);
}

void SyntheticDesktop::drawCaret(bool on) {
  const Rect& body = layout_.editorBody;
  fill({body.x + textInset + caretColumn_ * cellWidth, body.y + textInset + caretLine_ * lineHeight, 2, glyphHeight},
       on ? ink : white);
}

void SyntheticDesktop::typeOne() {
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
    fill(body, white);
    caretLine_ = 0;
  }
  const int x = body.x + textInset + caretColumn_ * cellWidth;
  const int y = body.y + textInset + caretLine_ * lineHeight;
  for (int row = 0; row < glyphHeight; ++row) glyphRow(x, y + row, c, row, ink, white, body);
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
  const Rect& body = layout_.documentBody;
  const Rect textArea{body.x, body.y, std::max(body.w - scrollBarWidth, 0), body.h};
  int cachedLine = -1;
  std::string line;
  bool heading = false;
  for (int k = firstRow; k < firstRow + rowCount && k < body.h; ++k) {
    const int docRow = documentTop_ + k;
    const int y = body.y + k;
    fill({textArea.x, y, textArea.w, 1}, white);
    if (docRow / lineHeight != cachedLine) {
      cachedLine = docRow / lineHeight;
      line = documentLine(cachedLine, heading);
    }
    const int glyphRowIndex = docRow % lineHeight;
    if (glyphRowIndex >= glyphHeight) continue;
    for (size_t i = 0; i < line.size(); ++i)
      glyphRow(textArea.x + textInset + int(i) * cellWidth, y, line[i], glyphRowIndex, heading ? headingInk : ink,
               white, textArea);
  }
  // The scroll bar's thumb walks down the track as the document moves.
  const Rect track{body.x + body.w - scrollBarWidth, body.y, std::min(scrollBarWidth, body.w), body.h};
  fill(track, 0xE6E6E6);
  const int thumbHeight = std::min(60, track.h);
  const int travel = std::max(track.h - thumbHeight, 1);
  fill({track.x + 2, track.y + (documentTop_ / 8) % travel, track.w - 4, thumbHeight}, 0xA0A0A0);
}

void SyntheticDesktop::drawVideo() {
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
    uint8_t* row = pixels_.data() + size_t(v.y + y) * bytesPerRow();
    for (int x = 0; x < v.w; ++x) {
      if (v.x + x < 0 || v.x + x >= width_) continue;
      const uint32_t s = sine[(x * 3 + t * 5) & 255] + sine[(y * 4 + 256 - (t * 3 & 255)) & 255] +
                         sine[((x + y) * 2 + t * 7) & 255];
      // Sensor noise: video never repeats a pixel exactly.
      const uint32_t noise = mix(uint32_t(x) | uint32_t(y) << 12 | t << 22) & 7;
      uint32_t r = s / 3, g = sine[(s / 3 + t) & 255], b = 255 - s / 3;
      const bool ball = x >= ballX && x < ballX + 24 && y >= ballY && y < ballY + 24;
      if (ball) r = g = b = 240;
      put(row + size_t(v.x + x) * 4, std::min(r + noise, 255u) << 16 | std::min(g + noise, 255u) << 8 |
                                         std::min(b + noise, 255u));
    }
  }
}

void SyntheticDesktop::fill(Rect r, uint32_t colour) {
  const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
  const int x1 = std::min(r.x + r.w, width_), y1 = std::min(r.y + r.h, height_);
  if (x0 >= x1 || y0 >= y1) return;
  uint8_t pattern[4];
  put(pattern, colour);
  for (int y = y0; y < y1; ++y) {
    uint8_t* at = pixels_.data() + (size_t(y) * size_t(width_) + size_t(x0)) * 4;
    for (int x = x0; x < x1; ++x, at += 4) std::memcpy(at, pattern, 4);
  }
}

void SyntheticDesktop::text(int x, int y, std::string_view line, uint32_t inkColour, uint32_t paper, Rect clip) {
  for (int row = 0; row < glyphHeight; ++row)
    for (size_t i = 0; i < line.size(); ++i)
      glyphRow(x + int(i) * cellWidth, y + row, line[i], row, inkColour, paper, clip);
}

// One pixel row of a character cell, with a half-tone beside each stroke as
// font smoothing would leave it.
void SyntheticDesktop::glyphRow(int x, int y, char c, int row, uint32_t inkColour, uint32_t paper, Rect clip) {
  if (y < std::max(clip.y, 0) || y >= std::min(clip.y + clip.h, height_)) return;
  const unsigned bits = glyphBits(c, row);
  if (bits == 0) return;  // the cell's paper is already there
  const uint32_t half = blend(inkColour, paper);
  uint8_t* rowStart = pixels_.data() + size_t(y) * bytesPerRow();
  for (int b = 0; b < cellWidth; ++b) {
    const int px = x + b;
    if (px < std::max(clip.x, 0) || px >= std::min(clip.x + clip.w, width_)) continue;
    const unsigned mask = 0x80u >> b;
    const bool on = bits & mask;
    const bool edge = !on && (bits & ((mask << 1) | (mask >> 1)));
    if (on || edge) put(rowStart + size_t(px) * 4, on ? inkColour : half);
  }
}

}  // namespace plimo
