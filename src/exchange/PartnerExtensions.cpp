#include "exchange/PartnerExtensions.h"

#include <algorithm>

namespace plimo {

void PartnerExtensions::offer(std::string_view name, uint16_t version) {
  if (!sent_ && find(own_, name) == 0) own_.push_back({std::string(name), version});
}

std::optional<Bytes> PartnerExtensions::listOnce() {
  if (sent_) return std::nullopt;
  sent_ = true;
  return ExtensionList::encode(own_);
}

bool PartnerExtensions::take(ByteView payload) {
  if (partner_) return false;
  partner_ = ExtensionList::decode(payload);
  return partner_.has_value();
}

uint16_t PartnerExtensions::version(std::string_view name) const {
  if (!partner_) return 0;
  return std::min(find(own_, name), find(*partner_, name));
}

std::string PartnerExtensions::shared() const {
  std::string out;
  for (const auto& e : own_)
    if (const uint16_t v = version(e.name)) out += (out.empty() ? "" : ", ") + e.name + " " + std::to_string(v);
  return out.empty() ? "nothing" : out;
}

uint16_t PartnerExtensions::find(const std::vector<ExtensionList::Extension>& list, std::string_view name) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.name == name; });
  return it == list.end() ? 0 : it->version;
}

}  // namespace plimo
