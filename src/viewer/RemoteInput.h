#pragma once
// Where the view sends the helper's mouse and keyboard: the viewer session,
// which numbers each event and sends it at once.
//
// Main thread only.

#include <cstdint>

namespace plimo {

class RemoteInput {
 public:
  virtual ~RemoteInput() = default;

  // The person at the helped PC has given control (and not paused it);
  // events made at other times are dropped by the view.
  virtual bool hasControl() const = 0;
  // `kind` is an InputEvent kind; x and y are pixels of the remote picture.
  virtual void sendInput(uint8_t kind, int x, int y, int32_t data) = 0;
};

}  // namespace plimo
