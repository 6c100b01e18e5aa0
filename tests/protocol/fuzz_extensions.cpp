// An extension list or clipboard text from anywhere (the first byte picks
// which): the list reader refuses it or gives entries that encode writes
// back as the same list; the clipboard reader refuses it or gives valid
// UTF-8 without control characters but tab, line feed and carriage return.

#include <cstdlib>

#include "core/Text.h"
#include "protocol/wire/ClipboardText.h"
#include "protocol/wire/ExtensionList.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const ByteView payload(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    if (auto list = ExtensionList::decode(payload)) {
      check(list->size() <= ExtensionList::kMaxEntries);
      check(ExtensionList::decode(ExtensionList::encode(*list)) == list);
    }
  } else if (auto text = ClipboardText::decode(payload)) {
    check(!text->empty() && utf8Lossy(*text) == *text);
    for (size_t i = 0; i < text->size(); ++i) {
      const auto b = uint8_t((*text)[i]);
      check(b >= 0x20 || b == '\t' || b == '\n' || b == '\r');
      check(b != 0x7F && !(b == 0xC2 && i + 1 < text->size() && uint8_t((*text)[i + 1]) <= 0x9F));
    }
  }
  return 0;
}
