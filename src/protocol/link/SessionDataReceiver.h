#pragma once
// The session that takes the partner's session data from the server link
// (PlimoClient::attachSession): every decrypted partner packet from 0x80 up,
// while a partner session is up, on the loop's thread. The link holds the
// receiver weakly; receive() may drop the link from inside.

#include "core/Bytes.h"

namespace plimo {

class SessionDataReceiver {
 public:
  virtual ~SessionDataReceiver() = default;
  virtual void receive(ByteView packet) = 0;
};

}  // namespace plimo
