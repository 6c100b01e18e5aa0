#pragma once
// Joins the parts of long channel messages: each kind gathers its parts
// until the last (`more` false) arrives, at most kMaxGathered bytes; parts
// beyond that are left out, and the message is still delivered.
//
// One per session, on its thread.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "core/Bytes.h"
#include "protocol/wire/ChannelMsg.h"

namespace plimo {

class MsgParts {
 public:
  // 1 MB and one part.
  static constexpr size_t kMaxGathered = 1048576 + 1150;

  // The whole message once its last part is here, else nothing.
  std::optional<Bytes> whole(const ChannelMsg& msg);

 private:
  std::map<uint8_t, Bytes> parts_;
};

}  // namespace plimo
