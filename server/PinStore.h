#pragma once
// The kept IDs of the server's database (with only a hash of their secret)
// and the helpers trusted with unattended PCs. A part of ServerStore, which
// each engine implements.
//
// One thread per connection.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Result.h"

namespace plimo {

class PinStore {
 public:
  // The stored hash of the secret that keeps `id`, or nothing when the ID is
  // not kept.
  virtual Result<std::optional<Bytes>> pinHash(const std::string& id) = 0;
  // Keeps `id` for the holder of the secret whose hash is given (replaces an
  // earlier hash); `when` (Unix seconds) also becomes its last use, so an
  // administrator can find IDs no PC has claimed for years.
  virtual Result<void> setPin(const std::string& id, ByteView secretHash, int64_t when) = 0;
  virtual Result<void> removePin(const std::string& id) = 0;

  // Helpers let into PCs with unattended access. The list is read on every
  // such CONNECT, so that `plimo-server --trust-helper` in another process
  // takes effect on a running server. Trust goes to the pin the ID had when
  // it was trusted, not to the ID: an ID given up (unpinned) passes to
  // whichever PC registers it next. Once that pin goes or changes, the entry
  // is suspended until it is trusted again, even if the same secret keeps
  // the ID again.
  struct Helper {
    std::string id;
    std::string name;  // for the log; may be empty
    int64_t added = 0;  // Unix seconds
    bool kept = false;  // the ID is kept with a secret (pinned) now
    bool suspended = false;  // the pin it was trusted with is gone: let in nowhere
  };
  // Trusts the holder of the secret that keeps `id` now (renaming the entry,
  // and lifting a suspension, when there is one). True when the ID was kept:
  // one that is not is not trusted.
  virtual Result<bool> trustHelper(const std::string& id, const std::string& name, int64_t when) = 0;
  // True when the ID was listed.
  virtual Result<bool> distrustHelper(const std::string& id) = 0;
  // The listed helper `id`, suspended or not, or nothing.
  virtual Result<std::optional<Helper>> trustedHelper(const std::string& id) = 0;
  // All of them, by ID.
  virtual Result<std::vector<Helper>> trustedHelpers() = 0;
  // How many are trusted and not suspended.
  virtual Result<int64_t> trustedHelperCount() = 0;

 protected:
  virtual ~PinStore() = default;
};

}  // namespace plimo
