#pragma once
// The helper's input on this PC: input packets in, each event played once
// through the injector into the system's input sink, or nowhere when this PC
// cannot play input (no X server, no XTEST).
//
// Owner: the host session; its thread only.

#include <memory>
#include <optional>
#include <string>

#include "core/Bytes.h"
#include "host/InputInjector.h"
#include "platform/PlatformFactory.h"
#include "protocol/wire/InputReceiver.h"

namespace plimo {

class HostInput {
 public:
  HostInput(PlatformFactory& platform, bool controlAsCommand);

  // One input packet, its events played when `play`; the acknowledgement to
  // send, if any.
  std::optional<Bytes> receive(ByteView packet, bool play);
  // Why input cannot be played here; empty when it can.
  const std::string& problem() const { return problem_; }
  InputInjector& injector() { return injector_; }

 private:
  InputReceiver receiver_;
  std::string problem_;
  std::unique_ptr<InputSink> sink_;  // before the injector, which plays into it
  InputInjector injector_;
};

}  // namespace plimo
