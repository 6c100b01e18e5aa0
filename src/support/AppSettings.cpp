#include "support/AppSettings.h"

#include "protocol/crypto/PlimoCrypto.h"
#include "support/IniFile.h"
#include "support/UserDefaults.h"

namespace plimo {

namespace {

bool flag(const IniFile& ini, std::string_view section, std::string_view key, bool byDefault = true) {
  return ini.integer(section, key, byDefault ? 1 : 0) != 0;
}

const char* flagText(bool value) { return value ? "1" : "0"; }

}  // namespace

AppSettings AppSettings::defaults(std::string_view fullUserName) {
  AppSettings s;
  s.profileName = fullUserName;
  return s;
}

AppSettings AppSettings::load(const IniFile& ini, const UserDefaults& userDefaults, std::string_view fullUserName) {
  AppSettings s = defaults(fullUserName);
  if (auto host = std::string(trimWhitespace(ini.string("Relay", "Host", ""))); !host.empty()) s.relayHost = host;
  if (auto ports = std::string(trimWhitespace(ini.string("Relay", "TcpPort", ""))); !ports.empty()) s.tcpPorts = ports;
  s.relayPort = ini.integer("Relay", "Port", defaultRelayPort);
  if (auto port = userDefaults.integer("relayPort"); port && *port >= 1) {
    s.portGiven = *port;
    s.relayPort = *port;
  }
  if (auto host = userDefaults.string("relayHost"); host && !host->empty()) {
    s.hostGiven = *host;
    s.relayHost = *host;
  }
  s.relayKey = trimWhitespace(ini.string("Relay", "Key", ""));
  s.pinnedID = ini.string("ID", "Pinned", "");
  s.pinSecret = ini.string("ID", "Secret", "");
  s.profileName = ini.string("Profile", "Name", fullUserName);
  s.profileCompany = ini.string("Profile", "Company", "");
  s.profileEmail = ini.string("Profile", "Email", "");
  s.profilePhone = ini.string("Profile", "Phone", "");
  s.profilePicture = ini.string("Profile", "Picture", "");
  s.hideWallpaper = flag(ini, "Session", "HideWallpaper");
  s.commandAsControl = flag(ini, "Mac", "CommandAsControl", AppSettings{}.commandAsControl);
  s.helperCtrlAsCommand = flag(ini, "Mac", "HelperCtrlAsCommand");
  // An unreadable value leaves it to the PC's kind: it never opens an unattended PC's clipboard.
  if (auto on = parseDecimal(trimWhitespace(ini.string("Session", "Clipboard", "")))) s.clipboard = *on != 0;
  s.filesFolder = trimWhitespace(ini.string("Files", "Folder", ""));
  return s;
}

Result<void> AppSettings::save(IniFile& ini) const {
  // The key belongs to the server in the file: one pinned for a server given
  // on the command line must not replace it.
  bool otherServer = hostGiven == relayHost && !sameName(trimWhitespace(ini.string("Relay", "Host", "")), relayHost);
  if (hostGiven != relayHost) ini.set("Relay", "Host", relayHost);
  if (portGiven != relayPort) ini.set("Relay", "Port", std::to_string(relayPort));
  ini.set("Relay", "TcpPort", tcpPorts);
  if (!otherServer) ini.set("Relay", "Key", relayKey);
  ini.set("ID", "Pinned", pinnedID);
  ini.set("ID", "Secret", pinSecret);
  ini.set("Profile", "Name", profileName);
  ini.set("Profile", "Company", profileCompany);
  ini.set("Profile", "Email", profileEmail);
  ini.set("Profile", "Phone", profilePhone);
  ini.set("Profile", "Picture", profilePicture);
  ini.set("Session", "HideWallpaper", flagText(hideWallpaper));
  ini.set("Mac", "CommandAsControl", flagText(commandAsControl));
  ini.set("Mac", "HelperCtrlAsCommand", flagText(helperCtrlAsCommand));
  if (clipboard) ini.set("Session", "Clipboard", flagText(*clipboard));
  if (!filesFolder.empty()) ini.set("Files", "Folder", filesFolder);
  return ini.save();
}

void AppSettings::keepID(bool on) {
  pinSecret = on ? PlimoCrypto::hex(PlimoCrypto::randomBytes(32)) : "";
  if (!on) pinnedID.clear();
}

bool AppSettings::unattended(const IniFile& ini) { return ini.integer("Session", "Unattended", 0) != 0; }

void AppSettings::setUnattended(IniFile& ini, bool on) { ini.set("Session", "Unattended", flagText(on)); }

}  // namespace plimo
