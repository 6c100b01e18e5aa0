#pragma once
// Who the helper is, as the consent question and the host bar show them: the
// name the server gave, then the name, company and picture of the profile
// the helper sends. The profile is complete with its text, or with the
// picture the text announces.
//
// Owner: the host session; its thread only.

#include <optional>
#include <string>

#include "core/Bytes.h"
#include "platform/Picture.h"

namespace plimo {

class HelperIdentity {
 public:
  HelperIdentity(std::string partnerID, std::string name) : partnerID_(std::move(partnerID)), name_(std::move(name)) {}

  // The profile's text and its picture; each returns true when it completes
  // the profile, the first time only.
  bool takeText(const Bytes& text);
  bool takePicture(ByteView payload);

  const std::string& name() const { return name_; }
  const std::string& company() const { return company_; }
  const std::optional<Picture>& picture() const { return picture_; }
  // "Name, Company", "Name", or "A helper (123 456 789)".
  std::string title() const;

 private:
  bool complete();

  const std::string partnerID_;
  std::string name_;
  std::string company_;
  std::optional<Picture> picture_;
  bool complete_ = false;
};

}  // namespace plimo
