#pragma once
// Reads one rectangle of an X screen into pictures, with the mouse pointer
// drawn in. The screen's pixels are read (MIT-SHM where the server offers it)
// only when XDamage reported drawing since the last read, and with MIT-SHM
// and XFixes only the rows it reported; a pointer that only moved is drawn
// again over the last read. Without XDamage every picture reads the screen.
// A picture taken again from the pool is brought up to date only in the rows
// that changed since it was made.
//
// One thread at a time; owns its own X connection.

#include <cstdint>
#include <memory>
#include <optional>
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
  // Rows [top, bottom) of the rectangle; empty when top >= bottom.
  struct Rows {
    int top = 0, bottom = 0;
    void add(Rows more);
  };
  struct Pooled {
    std::shared_ptr<Picture> picture;
    Rows stale;  // rows that differ from the last read
  };
  explicit XGrabber(std::unique_ptr<XConnection> x);
  // The rows read (all of them when `whole`), or nothing when the screen
  // cannot be read.
  std::optional<Rows> readScreen(bool whole);
  // Clears the damage: the rows it covered.
  Rows damagedRows(bool whole);
  void readCursor();
  // The rows the pointer covers in pictures drawn now.
  Rows drawCursor(Picture& picture) const;
  Pooled& freePicture();

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
  unsigned long damagedRegion_ = 0;  // XFixes region the damage is moved into, 0 without
  std::vector<Pooled> pool_;
  Pooled spare_;                     // made when every pooled picture is in use
};

}  // namespace plimo
