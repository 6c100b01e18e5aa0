#pragma once
// The newest captured picture, handed from the capture thread to the session:
// a mailbox of one, never a queue, so a slow session always takes the latest
// picture and never a backlog.
//
// Thread-safe: the capture thread publishes, the session's thread takes. The
// lock guards only the slot (sound has its own), is held for a pointer swap
// and never while calling out; pictures are shared and encoded outside it.

#include <functional>
#include <mutex>

#include "platform/Geometry.h"
#include "platform/Picture.h"

namespace plimo {

class PictureSlot {
 public:
  // A capture (re)starts with pictures of `size`: the slot is emptied.
  void reset(Size size);
  // The capture side: a complete picture replaces the one waiting.
  void publish(PictureRef picture);
  // Called after each publish, on the capture side and outside the lock, so
  // the session takes a picture as soon as there is one. Quick: it only
  // wakes the session.
  void setOnPublish(std::function<void()> fn);
  // The session side: the picture when one arrived since the last take, or
  // the latest one when `evenUnchanged` (a complete picture is wanted);
  // null when there is none.
  PictureRef take(bool evenUnchanged);

  Size size() const;
  // The latest picture without taking it.
  PictureRef latest() const;
  bool changed() const;

 private:
  mutable std::mutex lock_;
  PictureRef latest_;
  bool changed_ = false;
  Size size_;
  std::function<void()> onPublish_;
};

}  // namespace plimo
