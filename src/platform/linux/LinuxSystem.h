#pragma once
// The system facts of a Linux desktop: passwd entry, host name, os-release,
// and what the X server offers.

#include "platform/System.h"

namespace plimo {

class LinuxSystem final : public System {
 public:
  SystemInfo info() const override;
  bool canRecordScreen() const override;
  bool canControl() const override;
};

// Reads NAME and VERSION (or VERSION_ID) from os-release text.
void parseOsRelease(const std::string& text, SystemInfo& info);

}  // namespace plimo
