#include "host/HelperIdentity.h"

#include <utility>

#include "core/PlimoID.h"
#include "core/Text.h"
#include "host/HelperProfile.h"
#include "protocol/wire/SessionCodecs.h"

namespace plimo {

bool HelperIdentity::takeText(const Bytes& text) {
  auto profile = ProfileText::decode(utf8Lossy(toString(text)));
  if (profile.name) name_ = *profile.name;
  if (profile.company) company_ = *profile.company;
  return !profile.pictureFollows && complete();
}

bool HelperIdentity::takePicture(ByteView payload) {
  picture_ = HelperProfile::decodePicture(payload);
  return complete();
}

std::string HelperIdentity::title() const {
  if (name_.empty()) return "A helper (" + formatPlimoID(partnerID_) + ")";
  if (company_.empty()) return name_;
  return name_ + ", " + company_;
}

bool HelperIdentity::complete() { return !std::exchange(complete_, true); }

}  // namespace plimo
