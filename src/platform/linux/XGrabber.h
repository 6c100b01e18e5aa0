#pragma once
// Reads one rectangle of an X screen into pictures, with the mouse pointer
// drawn in. The screen's pixels are read (MIT-SHM where the server offers it)
// only when XDamage reported drawing since the last read; a pointer that only
// moved is drawn again over the last read. Without XDamage every picture
// reads the screen.
//
// One thread at a time; owns its own X connection.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Picture.h"
#include "platform/PointerImage.h"
#include "platform/ScreenSource.h"
#include "platform/linux/XConnection.h"

namespace plimo {

class XGrabber {
 public:
  // The rectangle is in root-window coordinates; its width and height are
  // rounded down to even numbers. Throws Failure::Kind::noServer, noDisplay
  // (nothing left of the rectangle) or unsupported (a pixel layout other than
  // 32-bit blue, green, red).
  static std::unique_ptr<XGrabber> open(const Rect& region);
  ~XGrabber();

  // Takes in what happened since the last call: whether the next picture
  // would differ from the last one (screen drawn on, pointer moved or changed).
  bool poll();
  // A new picture; nothing when the screen cannot be read (it shrank, or the
  // server went away). `readAgain` reads the screen even without damage.
  PictureRef picture(bool readAgain = false);

  // Readable when the server has sent something (damage, a new cursor):
  // wait on it when nothing is `queued`, which poll() would take in at once.
  int fd() const;
  bool queued() const;

  bool dead() const { return x_->dead(); }
  Size size() const { return {double(width_), double(height_)}; }

 private:
  struct Shm;
  explicit XGrabber(std::unique_ptr<XConnection> x);
  bool readScreen();
  void readCursor();
  void drawCursor(Picture& picture) const;
  std::shared_ptr<Picture> freePicture();

  std::unique_ptr<XConnection> x_;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  std::unique_ptr<Shm> shm_;         // none without MIT-SHM
  std::vector<uint8_t> screen_;      // last read without MIT-SHM, width × 4 bytes a row
  bool screenValid_ = false;
  bool damaged_ = true;              // the screen must be read again
  unsigned long damage_ = 0;         // XDamage handle, 0 without the extension
  int damageEvent_ = -1;
  int fixesEvent_ = -1;              // -1 without XFixes
  bool cursorChanged_ = true;
  PointerImage cursor_;
  int pointerX_ = -100000, pointerY_ = -100000;
  bool pointerMoved_ = true;
  std::vector<std::shared_ptr<Picture>> pool_;
};

}  // namespace plimo
