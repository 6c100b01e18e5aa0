#pragma once
// Clipboard text between the two PCs (channel message 97, extension
// "clipboard"): a text copied here goes to the partner, a text from the
// partner replaces this PC's clipboard (nothing is pasted). Text crosses only
// while the session lets it (`allowed`: running, consented, not paused, the
// helper not view-only), once the partner's list names the extension, and at
// most ClipboardText::kMaxText at a time; a copy made while it may not cross
// is dropped, never sent later. A larger copy is not sent, and the person
// here is told why.
//
// Owner: a session; its thread only. The clipboard's copies come through
// posted tasks that check the share still lives.

#include <functional>
#include <memory>
#include <string>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "core/Weakly.h"
#include "exchange/PartnerExtensions.h"
#include "platform/Clipboard.h"

namespace plimo {

class ClipboardShare {
 public:
  struct Hooks {
    std::function<bool()> allowed;
    // Posts a kind-97 payload on the message channel.
    std::function<void(ByteView)> post;
    // Tells the person here.
    std::function<void(const std::string&)> note;
  };

  // `clipboard` null: this side has none or shares none, and offers nothing.
  // `partner` outlives the share.
  ClipboardShare(EventLoop& loop, std::unique_ptr<Clipboard> clipboard, PartnerExtensions& partner, Hooks hooks);
  ~ClipboardShare();
  ClipboardShare(const ClipboardShare&) = delete;
  ClipboardShare& operator=(const ClipboardShare&) = delete;

  // A whole kind-97 message from the partner.
  void take(ByteView payload);
  void stop();

 private:
  void copied(Clipboard::Copy copy);
  bool crossing() const;

  EventLoop& loop_;
  std::unique_ptr<Clipboard> clipboard_;
  const PartnerExtensions& partner_;
  const Hooks hooks_;
  LifeGuard<ClipboardShare> guard_{this};
};

}  // namespace plimo
