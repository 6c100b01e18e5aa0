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
  }
  XSync(x, False);
  if (grabber->dead()) throw XConnection::unreachable();
  return grabber;
}

XGrabber::XGrabber(std::unique_ptr<XConnection> x) : x_(std::move(x)) {}

XGrabber::~XGrabber() {
  ::Display* x = x_->get();
  if (damage_ && !dead()) XDamageDestroy(x, damage_);
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

bool XGrabber::readScreen() {
  ::Display* x = x_->get();
  Window root = DefaultRootWindow(x);
  // Cleared before reading, so that drawing during the read is seen next time.
  if (damage_) XDamageSubtract(x, damage_, None, None);
  int before = XConnection::errors();
  if (shm_) {
    if (!XShmGetImage(x, root, shm_->image, left_, top_, AllPlanes) || XConnection::errors() != before) return false;
  } else {
    XImage* image = XGetImage(x, root, left_, top_, unsigned(width_), unsigned(height_), AllPlanes, ZPixmap);
    if (!image) return false;
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
  return true;
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

void XGrabber::drawCursor(Picture& picture) const {
  drawPointer(picture, cursor_, pointerX_ - left_, pointerY_ - top_);
}

std::shared_ptr<Picture> XGrabber::freePicture() {
  for (auto& picture : pool_) {
    if (picture.use_count() == 1) return picture;
  }
  auto picture = std::make_shared<Picture>(width_, height_);
  if (pool_.size() < kPoolSize) pool_.push_back(picture);
  return picture;
}

PictureRef XGrabber::picture(bool readAgain) {
  if (dead()) return nullptr;
  if (readAgain || damaged_ || !screenValid_) {
    if (!readScreen()) return nullptr;
  }
  if (cursorChanged_) readCursor();
  pointerMoved_ = false;
  auto picture = freePicture();
  // The last read stays in the shared segment (or `screen_`) until the next
  // one, so a pointer that only moved costs no round trip for pixels.
  const uint8_t* clean = shm_ ? reinterpret_cast<const uint8_t*>(shm_->image->data) : screen_.data();
  size_t cleanStride = shm_ ? size_t(shm_->image->bytes_per_line) : size_t(width_) * 4;
  for (int y = 0; y < height_; ++y) copyOpaque(picture->row(y), clean + size_t(y) * cleanStride, width_);
  drawCursor(*picture);
  return picture;
}

}  // namespace plimo
