#include "platform/linux/XGrabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace plimo {

struct XGrabber::Shm {
  XShmSegmentInfo info{};
  XImage* image = nullptr;
};

namespace {

// Pictures kept for reuse: one in the slot, one being encoded, one being made.
constexpr size_t kPoolSize = 3;

// The pixel layout we copy without conversion: 32 bits a pixel, little-endian,
// red in bits 16–23, green 8–15, blue 0–7, which is blue, green, red, pad in
// memory.
bool plainLayout(::Display* x, Visual* visual, int depth) {
  if (visual->red_mask != 0xff0000 || visual->green_mask != 0xff00 || visual->blue_mask != 0xff) return false;
  if (ImageByteOrder(x) != LSBFirst) return false;
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(x, &count);
  bool ok = false;
  for (int i = 0; i < count; ++i) {
    if (formats[i].depth == depth) ok = formats[i].bits_per_pixel == 32;
  }
  if (formats) XFree(formats);
  return ok;
}

}  // namespace

std::unique_ptr<XGrabber> XGrabber::open(const Rect& region) {
  auto connection = XConnection::open();
  ::Display* x = connection->get();
  int screen = DefaultScreen(x);
  Visual* visual = DefaultVisual(x, screen);
  int depth = DefaultDepth(x, screen);
  if (!plainLayout(x, visual, depth))
    throw Failure(Failure::Kind::unsupported, "The screen's pixel format cannot be captured");

  std::unique_ptr<XGrabber> grabber(new XGrabber(std::move(connection)));
  grabber->left_ = int(region.x);
  grabber->top_ = int(region.y);
  grabber->width_ = int(region.width) & ~1;
  grabber->height_ = int(region.height) & ~1;
  if (grabber->width_ <= 0 || grabber->height_ <= 0) throw noScreen();
  Window root = RootWindow(x, screen);

  if (XShmQueryExtension(x)) {
    auto shm = std::make_unique<Shm>();
    shm->image = XShmCreateImage(x, visual, unsigned(depth), ZPixmap, nullptr, &shm->info,
                                 unsigned(grabber->width_), unsigned(grabber->height_));
    if (shm->image) {
      size_t bytes = size_t(shm->image->bytes_per_line) * size_t(grabber->height_);
      shm->info.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      if (shm->info.shmid >= 0) {
        void* at = shmat(shm->info.shmid, nullptr, 0);
        if (at != reinterpret_cast<void*>(-1)) {
          shm->info.shmaddr = shm->image->data = static_cast<char*>(at);
          shm->info.readOnly = False;
          int before = XConnection::errors();
          XShmAttach(x, &shm->info);
          XSync(x, False);
          // Freed by the system once both sides have detached.
          shmctl(shm->info.shmid, IPC_RMID, nullptr);
          if (XConnection::errors() == before) {
            grabber->shm_ = std::move(shm);
          } else {  // a server on another machine cannot share memory
            shmdt(at);
            shm->info.shmaddr = nullptr;
          }
        } else {
          shmctl(shm->info.shmid, IPC_RMID, nullptr);
        }
      }
      if (!grabber->shm_) {
        shm->image->data = nullptr;
        XDestroyImage(shm->image);
      }
    }
  }

  int damageError = 0;
  if (XDamageQueryExtension(x, &grabber->damageEvent_, &damageError)) {
    grabber->damage_ = XDamageCreate(x, root, XDamageReportNonEmpty);
  }
  int fixesEvent = 0, fixesError = 0;
  if (XFixesQueryExtension(x, &fixesEvent, &fixesError)) {
    grabber->fixesEvent_ = fixesEvent;
    XFixesSelectCursorInput(x, root, XFixesDisplayCursorNotifyMask);
    if (grabber->damage_ && grabber->shm_) grabber->damagedRegion_ = XFixesCreateRegion(x, nullptr, 0);
  }
  XSync(x, False);
  if (grabber->dead()) throw XConnection::unreachable();
  return grabber;
}

XGrabber::XGrabber(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}

XGrabber::~XGrabber() {
  ::Display* x = x_->get();
  if (damage_ && !dead()) XDamageDestroy(x, damage_);
  if (damagedRegion_ && !dead()) XFixesDestroyRegion(x, damagedRegion_);
  if (shm_) {
    if (!dead()) XShmDetach(x, &shm_->info);
    shm_->image->data = nullptr;
    XDestroyImage(shm_->image);
    shmdt(shm_->info.shmaddr);
  }
  if (!dead()) XSync(x, False);
}

int XGrabber::fd() const { return ConnectionNumber(x_->get()); }

bool XGrabber::queued() const {
  ::Display* x = x_->get();
  XFlush(x);  // the damage just subtracted must reach the server before waiting on it
  return XEventsQueued(x, QueuedAlready) > 0;
}

bool XGrabber::poll() {
  ::Display* x = x_->get();
  if (dead()) return false;
  while (XPending(x) > 0) {
    XEvent event;
    XNextEvent(x, &event);
    if (damage_ && event.type == damageEvent_ + XDamageNotify) damaged_ = true;
    if (fixesEvent_ >= 0 && event.type == fixesEvent_ + XFixesCursorNotify) cursorChanged_ = true;
  }
  Window rootReturn, child;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned mask = 0;
  if (XQueryPointer(x, DefaultRootWindow(x), &rootReturn, &child, &rootX, &rootY, &winX, &winY, &mask) &&
      (rootX != pointerX_ || rootY != pointerY_)) {
    pointerX_ = rootX;
    pointerY_ = rootY;
    pointerMoved_ = true;
  }
  if (!damage_) damaged_ = true;
  return damaged_ || pointerMoved_ || (cursorChanged_ && fixesEvent_ >= 0);
}

void XGrabber::Rows::add(Rows more) {
  if (more.top >= more.bottom) return;
  if (top >= bottom) {
    *this = more;
    return;
  }
  top = std::min(top, more.top);
  bottom = std::max(bottom, more.bottom);
}

XGrabber::Rows XGrabber::damagedRows(bool whole) {
  const Rows all{0, height_};
  if (whole || !damagedRegion_ || !screenValid_) {
    if (damage_) XDamageSubtract(x_->get(), damage_, None, None);
    return all;
  }
  ::Display* x = x_->get();
  XDamageSubtract(x, damage_, None, damagedRegion_);
  int count = 0;
  XRectangle bounds{};
  if (XRectangle* parts = XFixesFetchRegionAndBounds(x, damagedRegion_, &count, &bounds)) XFree(parts);
  if (count == 0) return {};
  return {std::clamp(int(bounds.y) - top_, 0, height_), std::clamp(int(bounds.y) + int(bounds.height) - top_, 0, height_)};
}

std::optional<XGrabber::Rows> XGrabber::readScreen(bool whole) {
  ::Display* x = x_->get();
  Window root = DefaultRootWindow(x);
  // The damage is cleared before reading, so that drawing during the read is
  // seen next time.
  const Rows rows = damagedRows(whole);
  int before = XConnection::errors();
  if (shm_) {
    // Only the damaged rows, into their place in the segment.
    XImage* image = shm_->image;
    const int fullHeight = image->height;
    image->height = rows.bottom - rows.top;
    image->data = shm_->info.shmaddr + size_t(rows.top) * size_t(image->bytes_per_line);
    const bool read = image->height <= 0 || XShmGetImage(x, root, image, left_, top_ + rows.top, AllPlanes);
    image->height = fullHeight;
    image->data = shm_->info.shmaddr;
    if (!read || XConnection::errors() != before) return std::nullopt;
  } else {
    XImage* image = XGetImage(x, root, left_, top_, unsigned(width_), unsigned(height_), AllPlanes, ZPixmap);
    if (!image) return std::nullopt;
    size_t rowBytes = size_t(width_) * 4;
    screen_.resize(rowBytes * size_t(height_));
    for (int y = 0; y < height_; ++y) {
      std::memcpy(screen_.data() + size_t(y) * rowBytes, image->data + size_t(y) * size_t(image->bytes_per_line),
                  rowBytes);
    }
    XDestroyImage(image);
  }
  damaged_ = false;
  screenValid_ = true;
  return shm_ ? rows : Rows{0, height_};
}

void XGrabber::readCursor() {
  cursorChanged_ = false;
  if (fixesEvent_ < 0) return;
  XFixesCursorImage* image = XFixesGetCursorImage(x_->get());
  if (!image) return;
  cursor_.width = image->width;
  cursor_.height = image->height;
  cursor_.xhot = image->xhot;
  cursor_.yhot = image->yhot;
  cursor_.argb.resize(size_t(image->width) * size_t(image->height));
  // The pixels come as longs even where a long is 64 bits.
  for (size_t i = 0; i < cursor_.argb.size(); ++i) cursor_.argb[i] = uint32_t(image->pixels[i]);
  XFree(image);
}

XGrabber::Rows XGrabber::drawCursor(Picture& picture) const {
  drawPointer(picture, cursor_, pointerX_ - left_, pointerY_ - top_);
  const int top = pointerY_ - top_ - cursor_.yhot;
  return {std::clamp(top, 0, height_), std::clamp(top + cursor_.height, 0, height_)};
}

XGrabber::Pooled& XGrabber::freePicture() {
  for (auto& pooled : pool_) {
    if (pooled.picture.use_count() == 1) return pooled;
  }
  Pooled made{std::make_shared<Picture>(width_, height_), {0, height_}};
  if (pool_.size() < kPoolSize) return pool_.emplace_back(std::move(made));
  spare_ = std::move(made);
  return spare_;
}

PictureRef XGrabber::picture(bool readAgain) {
  if (dead()) return nullptr;
  if (readAgain || damaged_ || !screenValid_) {
    auto read = readScreen(readAgain);
    if (!read) return nullptr;
    for (auto& pooled : pool_) pooled.stale.add(*read);
  }
  if (cursorChanged_) readCursor();
  pointerMoved_ = false;
  Pooled& pooled = freePicture();
  Picture& picture = *pooled.picture;
  // The last read stays in the shared segment (or `screen_`) until the next
  // one, so a pointer that only moved costs no round trip for pixels.
  const uint8_t* clean = shm_ ? reinterpret_cast<const uint8_t*>(shm_->image->data) : screen_.data();
  size_t cleanStride = shm_ ? size_t(shm_->image->bytes_per_line) : size_t(width_) * 4;
  for (int y = pooled.stale.top; y < pooled.stale.bottom; ++y)
    copyOpaque(picture.row(y), clean + size_t(y) * cleanStride, width_);
  // The pointer drawn now is to be wiped from this picture when it is reused.
  pooled.stale = drawCursor(picture);
  return pooled.picture;
}

}  // namespace plimo
