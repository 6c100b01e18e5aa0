#include "platform/PictureSlot.h"

namespace plimo {

void PictureSlot::reset(Size size) {
  std::lock_guard guard(lock_);
  size_ = size;
  latest_.reset();
  changed_ = false;
}

void PictureSlot::publish(PictureRef picture) {
  std::function<void()> wake;
  {
    std::lock_guard guard(lock_);
    latest_ = std::move(picture);
    changed_ = true;
    wake = onPublish_;
  }
  if (wake) wake();
}

void PictureSlot::setOnPublish(std::function<void()> fn) {
  std::lock_guard guard(lock_);
  onPublish_ = std::move(fn);
}

PictureRef PictureSlot::take(bool evenUnchanged) {
  std::lock_guard guard(lock_);
  if (!latest_ || (!changed_ && !evenUnchanged)) return nullptr;
  changed_ = false;
  return latest_;
}

Size PictureSlot::size() const {
  std::lock_guard guard(lock_);
  return size_;
}

PictureRef PictureSlot::latest() const {
  std::lock_guard guard(lock_);
  return latest_;
}

bool PictureSlot::changed() const {
  std::lock_guard guard(lock_);
  return changed_;
}

}  // namespace plimo
