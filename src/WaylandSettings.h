#pragma once
// What the Wayland platform reads from this user's files, for both ways the
// program starts: the portal's restore token beside Plimo.ini, and whether
// unattended access is on ([Session] Unattended), read at each share.

#include "platform/wayland/WaylandPlatform.h"
#include "support/AppSettings.h"
#include "support/IniFile.h"

namespace plimo {

inline WaylandPlatform::Settings waylandSettings() {
  return {IniFile::appFolder() / "ScreenCast.token", [] { return AppSettings::unattended(IniFile::user()); }};
}

}  // namespace plimo
