#pragma once
// A scripted desktop that stands in for a real screen in headless tests and
// benches: a wallpaper, a task bar and three windows (an editor, a long
// document, a video player), drawn into one 32-bit BGRA picture. Each call of
// `next()` moves the script on by one picture, always in the same way, so two
// desktops built alike produce the same pictures byte for byte.
//
// Owner: whoever takes pictures from it; one thread at a time.

#include <array>
#include <cstdint>
#include <string_view>

#include "core/Bytes.h"
#include "platform/fake/SyntheticPainter.h"

namespace plimo {

class SyntheticDesktop {
 public:
  enum class Script {
    still,      // nothing changes after the first picture
    typing,     // one character a picture is typed into the editor
    scrolling,  // the document scrolls up by a few rows a picture
    video,      // the player's small video area changes every picture
    busy,       // typing, scrolling and video at once
  };
  static constexpr std::array<Script, 5> allScripts = {Script::still, Script::typing, Script::scrolling,
                                                       Script::video, Script::busy};
  static std::string_view name(Script script);

  // Any size of at least 1 x 1; windows are laid out in proportion and clipped.
  explicit SyntheticDesktop(Script script = Script::busy, int width = 1920, int height = 1080);

  // Moves the script on by one picture and returns it (also `picture()`).
  ByteView next();
  // The current picture: width x height pixels of blue, green, red, alpha (255),
  // rows top to bottom, `bytesPerRow()` bytes apart (no padding).
  ByteView picture() const { return pixels_; }

  Script script() const { return script_; }
  int width() const { return width_; }
  int height() const { return height_; }
  size_t bytesPerRow() const { return size_t(width_) * 4; }
  // Pictures made by `next()` since construction.
  uint64_t step() const { return step_; }

  // A new screen size (as when the shared screen changes): everything is laid
  // out and drawn again, and the script carries on from where it was.
  void resize(int width, int height);

 private:
  using Rect = SyntheticPainter::Rect;
  struct Layout {
    Rect editor, editorBody;
    Rect document, documentBody;
    Rect player, video;
    Rect taskBar;
  };

  void layOut();
  void drawAll();
  void drawWallpaper();
  void drawTaskBar();
  void drawWindow(const Rect& frame, uint32_t titleColour, std::string_view title);
  void drawEditor();
  void drawDocumentRows(int firstRow, int rowCount);
  void drawVideo();

  void typeOne();
  void scrollDocument();

  // Drawing into the current picture, made anew: a resize moves the pixels.
  SyntheticPainter painter() { return {pixels_.data(), width_, height_}; }
  void drawCaret(bool on);

  Script script_;
  int width_ = 0;
  int height_ = 0;
  Bytes pixels_;
  Layout layout_;
  uint64_t step_ = 0;
  uint64_t typed_ = 0;         // characters typed into the editor so far
  int documentTop_ = 0;        // document row shown at the top of its window
  int caretColumn_ = 0;
  int caretLine_ = 0;
};

}  // namespace plimo
