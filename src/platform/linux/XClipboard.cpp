#include "platform/linux/XClipboard.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

namespace plimo {

namespace {

// Texts above this go by INCR: well below the smallest maximum request a
// server has (256 KiB).
constexpr size_t kChunk = 64 * 1024;
// Large texts being served at once; a requestor that vanished mid-way is
// dropped when this fills.
constexpr size_t kMaxServed = 4;

}  // namespace

// The selection work on the clipboard's thread: one read of a new owner's
// text at a time, and what this PC owns and serves.
class XSelection {
 public:
  XSelection(::Display* d, size_t maxBytes, std::function<void(Clipboard::Copy)>& onCopied)
      : d_(d), max_(maxBytes), onCopied_(onCopied) {
    auto atom = [&](const char* name) { return XInternAtom(d_, name, False); };
    clipboard_ = atom("CLIPBOARD");
    utf8_ = atom("UTF8_STRING");
    targets_ = atom("TARGETS");
    incr_ = atom("INCR");
    plainUtf8_ = atom("text/plain;charset=utf-8");
    property_ = atom("PLIMO_CLIPBOARD");
    XSetWindowAttributes a{};
    a.event_mask = PropertyChangeMask;
    window_ = XCreateWindow(d_, DefaultRootWindow(d_), -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                            CWEventMask, &a);
    int error = 0;
    XFixesQueryExtension(d_, &fixesEvent_, &error);
    XFixesSelectSelectionInput(d_, window_, clipboard_, XFixesSetSelectionOwnerNotifyMask);
  }
  ~XSelection() {
    if (window_) XDestroyWindow(d_, window_);
  }
  // The display went away: nothing may be asked of it any more.
  void forget() { window_ = 0; }
  XSelection(const XSelection&) = delete;
  XSelection& operator=(const XSelection&) = delete;

  void own(std::string text) {
    owned_ = std::make_shared<const std::string>(std::move(text));
    XSetSelectionOwner(d_, clipboard_, window_, CurrentTime);
  }

  void handle(XEvent& e) {
    if (e.type == fixesEvent_ + XFixesSelectionNotify) {
      auto& n = reinterpret_cast<XFixesSelectionNotifyEvent&>(e);
      if (n.owner == window_ || n.owner == None) return;
      owned_.reset();
      reading_ = Reading::converting;
      incoming_.clear();
      XConvertSelection(d_, clipboard_, utf8_, property_, window_, n.selection_timestamp);
      return;
    }
    switch (e.type) {
      case SelectionNotify:
        if (e.xselection.requestor == window_ && reading_ == Reading::converting) converted(e.xselection);
        break;
      case PropertyNotify:
        if (e.xproperty.window == window_) {
          if (reading_ == Reading::incremental && e.xproperty.atom == property_ &&
              e.xproperty.state == PropertyNewValue)
            nextIncoming();
        } else if (e.xproperty.state == PropertyDelete) {
          nextOutgoing(e.xproperty.window, e.xproperty.atom);
        }
        break;
      case SelectionRequest: serve(e.xselectionrequest); break;
      case SelectionClear:
        if (e.xselectionclear.selection == clipboard_) owned_.reset();
        break;
      default: break;
    }
  }

 private:
  enum class Reading { idle, converting, incremental };
  struct Served {
    Window requestor;
    Atom property;
    std::shared_ptr<const std::string> text;
    size_t sent = 0;
    bool done = false;  // the closing empty chunk is out
  };

  // Reads the property, deleting it (which asks an INCR owner for more).
  // Returns its type; `out` gets at most max_ + 1 bytes.
  Atom take(std::string& out, bool& more) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const long longs = long(max_ / 4 + 1);
    if (XGetWindowProperty(d_, window_, property_, 0, longs, True, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success)
      return None;
    const size_t bytes = format == 8 ? count : format == 16 ? count * 2 : count * 4;
    if (data) out.assign(reinterpret_cast<const char*>(data), bytes);
    more = after > 0;
    if (data) XFree(data);
    return type;
  }

  void converted(const XSelectionEvent& e) {
    reading_ = Reading::idle;
    if (e.property == None) return;  // no text on the clipboard (a picture, say)
    std::string value;
    bool more = false;
    const Atom type = take(value, more);
    if (type == incr_) {
      uint32_t hint = 0;
      if (value.size() >= 4) std::memcpy(&hint, value.data(), 4);
      if (hint > max_) return tooLarge();
      reading_ = Reading::incremental;
      return;
    }
    if (type != utf8_ && type != XA_STRING) return;
    if (more || value.size() > max_) return tooLarge();
    copied(std::move(value));
  }

  void nextIncoming() {
    std::string chunk;
    bool more = false;
    take(chunk, more);
    if (chunk.empty()) {
      reading_ = Reading::idle;
      return copied(std::move(incoming_));
    }
    incoming_ += chunk;
    // The owner is left to time out: reading on would only fetch more.
    if (more || incoming_.size() > max_) tooLarge();
  }

  void tooLarge() {
    reading_ = Reading::idle;
    incoming_.clear();
    if (onCopied_) onCopied_({{}, true});
  }

  void copied(std::string text) {
    if (onCopied_ && !text.empty()) onCopied_({std::move(text), false});
  }

  void serve(const XSelectionRequestEvent& r) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = r.display;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    // Clients older than ICCCM 2 name no property: the target is it.
    const Atom property = r.property == None ? r.target : r.property;
    reply.property = None;
    if (owned_ && r.selection == clipboard_) {
      if (r.target == targets_) {
        const Atom list[] = {targets_, utf8_, plainUtf8_};
        XChangeProperty(d_, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(list), 3);
        reply.property = property;
      } else if (r.target == utf8_ || r.target == plainUtf8_) {
        if (owned_->size() <= kChunk) {
          XChangeProperty(d_, r.requestor, property, r.target, 8, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(owned_->data()), int(owned_->size()));
        } else {
          if (served_.size() >= kMaxServed) served_.pop_front();
          served_.push_back({r.requestor, property, owned_});
          XSelectInput(d_, r.requestor, PropertyChangeMask);
          const long size = long(owned_->size());
          XChangeProperty(d_, r.requestor, property, incr_, 32, PropModeReplace,
                          reinterpret_cast<const unsigned char*>(&size), 1);
        }
        reply.property = property;
      }
    }
    XSendEvent(d_, r.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
  }

  // The requestor took the last chunk (deleted the property): the next one,
  // then an empty one to close.
  void nextOutgoing(Window requestor, Atom property) {
    auto it = std::find_if(served_.begin(), served_.end(),
                           [&](const Served& s) { return s.requestor == requestor && s.property == property; });
    if (it == served_.end()) return;
    if (it->done) {
      served_.erase(it);
      return;
    }
    const size_t n = std::min(kChunk, it->text->size() - it->sent);
    XChangeProperty(d_, requestor, property, utf8_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(it->text->data() + it->sent), int(n));
    it->sent += n;
    it->done = n == 0;
  }

  ::Display* d_;
  const size_t max_;
  std::function<void(Clipboard::Copy)>& onCopied_;
  Atom clipboard_, utf8_, targets_, incr_, plainUtf8_, property_;
  Window window_;
  int fixesEvent_ = 0;
  std::shared_ptr<const std::string> owned_;
  Reading reading_ = Reading::idle;
  std::string incoming_;
  std::deque<Served> served_;
};

XClipboard::XClipboard() : x_(XConnection::open()) {
  int event = 0, error = 0;
  if (!XFixesQueryExtension(x_->get(), &event, &error))
    throw Failure(Failure::Kind::noServer, "The X display has no XFixes, so its clipboard cannot be watched");
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) throw Failure(Failure::Kind::noServer, "No eventfd for the clipboard");
}

XClipboard::~XClipboard() {
  stop();
  // Xlib waits forever on a display its other thread saw go away.
  if (selection_ && x_->dead()) selection_->forget();
  selection_.reset();
  close(wakeFd_);
}

void XClipboard::start(size_t maxBytes) {
  if (selection_) return;
  selection_ = std::make_unique<XSelection>(x_->get(), maxBytes, onCopied);
  XSync(x_->get(), False);
  thread_ = std::thread([this] { run(); });
}

void XClipboard::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake();
  if (thread_.joinable()) thread_.join();
}

void XClipboard::setText(std::string text) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    given_ = std::move(text);
  }
  wake();
}

void XClipboard::wake() const {
  const uint64_t one = 1;
  [[maybe_unused]] auto ignored = write(wakeFd_, &one, sizeof one);
}

void XClipboard::run() {
  ::Display* d = x_->get();
  XSelection& selection = *selection_;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (stopping_ || x_->dead()) return;
      if (given_) selection.own(std::exchange(given_, std::nullopt).value());
    }
    while (!x_->dead() && XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      selection.handle(e);
    }
    XFlush(d);
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    uint64_t count = 0;
    if (fds[1].revents & POLLIN) [[maybe_unused]] auto ignored = read(wakeFd_, &count, sizeof count);
  }
}

}  // namespace plimo
