#pragma once
// The settings the user edits and the server link is built from, as kept in
// Plimo.ini.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Result.h"
#include "protocol/wire/LinkLimits.h"

namespace plimo {

class IniFile;
class UserDefaults;

struct AppSettings {
  // Plimo has no public server of its own: every server is a company's, so
  // choosing any server pins that server's key afresh.
  static constexpr std::string_view vendorRelayHost = "";
  static constexpr int64_t defaultRelayPort = link::kDefaultServerPort;
  static constexpr std::string_view defaultTcpPorts = "8443,443,80";

  std::string relayHost;
  int64_t relayPort = defaultRelayPort;
  std::string tcpPorts{defaultTcpPorts};
  std::string relayKey;
  std::string pinnedID;
  std::string pinSecret;
  std::string profileName;
  std::string profileCompany;
  std::string profileEmail;
  std::string profilePhone;
  std::string profilePicture;
  bool hideWallpaper = true;
  // The helper's Super key sent as Ctrl ([Mac] CommandAsControl, which the
  // Mac edition defaults to on: there ⌘ is the Ctrl of shortcuts). On Linux
  // shortcuts use Ctrl already, so Super stays the Windows key by default.
  bool commandAsControl = false;
  bool helperCtrlAsCommand = true;
  // [Session] Clipboard: text copied on either PC of a session may cross to
  // the other. Unset, it follows the PC: shared where someone answers for it,
  // not on an unattended PC, whose clipboard may hold what its last user
  // copied; a company that wants it there sets it in Plimo.ini.
  std::optional<bool> clipboard;
  // [Files] Folder: where files from the partner go. Without it a PC with
  // windows saves into ~/Downloads after asking; one without declines.
  std::string filesFolder;

  // A server given on the command line is for this run only: while the
  // setting is still the given value, save leaves the file's own value alone.
  std::optional<std::string> hostGiven;
  std::optional<int64_t> portGiven;

  // The defaults, with the system's full user name as the profile name.
  static AppSettings defaults(std::string_view fullUserName);
  // Reads every field; missing or unreadable values keep their defaults.
  static AppSettings load(const IniFile& ini, const UserDefaults& userDefaults, std::string_view fullUserName);
  // Writes every field load reads and saves the file; the error says why
  // the file could not be written.
  Result<void> save(IniFile& ini) const;

  bool shareClipboard(bool unattendedPC) const { return clipboard.value_or(!unattendedPC); }

  // Keeps the ID from the next registration on, with a new secret (64 hex
  // digits), or forgets the secret and the kept ID.
  void keepID(bool on);

  // [Session] Unattended, kept beside these settings: the model has its own
  // writer for it.
  static bool unattended(const IniFile& ini);
  static void setUnattended(IniFile& ini, bool on);

  bool operator==(const AppSettings&) const = default;
};

}  // namespace plimo
