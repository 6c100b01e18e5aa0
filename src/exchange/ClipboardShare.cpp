#include "exchange/ClipboardShare.h"

#include "protocol/wire/ClipboardText.h"
#include "protocol/wire/ExtensionList.h"

namespace plimo {

namespace {
constexpr uint16_t kVersion = 1;
}

ClipboardShare::ClipboardShare(EventLoop& loop, std::unique_ptr<Clipboard> clipboard, PartnerExtensions& partner,
                               Hooks hooks)
    : loop_(loop), clipboard_(std::move(clipboard)), partner_(partner), hooks_(std::move(hooks)) {
  if (!clipboard_) return;
  partner.offer(ExtensionList::kClipboard, kVersion);
  // On the clipboard's thread: only the weak pointer is touched there.
  clipboard_->onCopied = [&loop = loop_, weak = guard_.weak()](Clipboard::Copy copy) {
    loop.post([weak, copy = std::move(copy)]() mutable {
      if (auto self = weak.lock()) self->copied(std::move(copy));
    });
  };
  clipboard_->start(ClipboardText::kMaxText);
}

ClipboardShare::~ClipboardShare() { stop(); }

void ClipboardShare::stop() {
  if (clipboard_) clipboard_->stop();
}

bool ClipboardShare::crossing() const {
  return clipboard_ && partner_.uses(ExtensionList::kClipboard) && hooks_.allowed && hooks_.allowed();
}

void ClipboardShare::copied(Clipboard::Copy copy) {
  if (!crossing() || (copy.text.empty() && !copy.tooLarge)) return;
  if (copy.tooLarge) {
    if (hooks_.note) hooks_.note("The text you copied is larger than 1 MiB, so it was not sent to the other PC.");
    return;
  }
  hooks_.post(ClipboardText::encode(copy.text));
}

void ClipboardShare::take(ByteView payload) {
  if (!crossing()) return;
  if (auto text = ClipboardText::decode(payload)) clipboard_->setText(std::move(*text));
}

}  // namespace plimo
