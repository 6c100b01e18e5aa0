#pragma once
// The extensions both ends of a session speak: those this side's parts offer
// and those the partner's list (channel message 96) names. Nothing of an
// extension is sent or taken before the partner named it; a partner of
// another edition never sends a list, so it never gets any of them.
//
// Owner: a session, whose parts offer themselves at its creation; its thread
// only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "protocol/wire/ExtensionList.h"

namespace plimo {

class PartnerExtensions {
 public:
  // This side speaks `name` up to `version`; before the list goes out.
  void offer(std::string_view name, uint16_t version);
  // This side's list, the first time only; nothing afterwards.
  std::optional<Bytes> listOnce();
  // A whole list from the partner; true when it is the first readable one,
  // the only one that counts.
  bool take(ByteView payload);

  // The version of `name` both speak, 0 while either side does not.
  uint16_t version(std::string_view name) const;
  bool uses(std::string_view name) const { return version(name) != 0; }
  // "clipboard 1, files 1": what both speak, for the log.
  std::string shared() const;

 private:
  static uint16_t find(const std::vector<ExtensionList::Extension>& list, std::string_view name);

  std::vector<ExtensionList::Extension> own_;
  std::optional<std::vector<ExtensionList::Extension>> partner_;
  bool sent_ = false;
};

}  // namespace plimo
