#pragma once
// This PC's clipboard (the CLIPBOARD selection), as text: what is copied
// here, and a text from the partner that replaces it.
//
// Owner: the session's clipboard share. `start`, `setText` and `stop` from
// the session's thread; `onCopied` runs on the clipboard's own thread (set
// it before `start`; the owner moves each copy to its thread). No callback
// runs once `stop` (or the destructor) has returned.

#include <cstddef>
#include <functional>
#include <string>

namespace plimo {

class Clipboard {
 public:
  // One text copied here. Larger than the limit given to `start`: the text
  // is left empty and `tooLarge` set.
  struct Copy {
    std::string text;
    bool tooLarge = false;
  };

  virtual ~Clipboard() = default;

  // Starts watching for copies made here from now on (not for what the
  // clipboard holds already), each read up to `maxBytes`.
  virtual void start(size_t maxBytes) = 0;
  virtual void stop() = 0;
  // Makes `text` the clipboard's until the next copy here; that is no copy.
  virtual void setText(std::string text) = 0;

  std::function<void(Copy)> onCopied;
};

}  // namespace plimo
