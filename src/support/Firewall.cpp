#include "support/Firewall.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace plimo {

namespace {

// Where Debian and its derivatives install ufw; a user's PATH often lacks
// the sbin folders, so they are looked up directly.
constexpr const char* kUfwPaths[] = {"/usr/sbin/ufw", "/sbin/ufw"};
// `ufw status` prints a line per rule; no rule set a person keeps by hand
// comes near this, and a runaway tool cannot fill memory.
constexpr const char* kUfwConf = "/etc/ufw/ufw.conf";
constexpr size_t kMaxOutput = 256 * 1024;

bool startsWithWord(std::string_view line, std::string_view word) {
  return line.starts_with(word) && (line.size() == word.size() || line[word.size()] == ' ');
}

bool ufwConfEnabled() {
  FILE* file = std::fopen(kUfwConf, "r");
  if (!file) return false;
  char line[256];
  bool enabled = false;
  while (std::fgets(line, sizeof line, file))
    if (std::string_view(line).starts_with("ENABLED=yes")) enabled = true;
  std::fclose(file);
  return enabled;
}

}  // namespace

FirewallState parseUfwStatus(std::string_view output) {
  FirewallState state;
  while (!output.empty()) {
    size_t end = std::min(output.find('\n'), output.size());
    std::string_view line = output.substr(0, end);
    output.remove_prefix(std::min(end + 1, output.size()));
    if (line.starts_with("Status: ")) state.enabled = line.substr(8).starts_with("active");
    // A rule for an application profile starts with its name: "Plimo",
    // "Plimo (v6)", then the action.
    if (startsWithWord(line, "Plimo")) {
      state.listed = true;
      if (line.find(" DENY") != std::string_view::npos || line.find(" REJECT") != std::string_view::npos)
        state.blocked = true;
    }
  }
  return state;
}

FirewallState firewallState() {
  for (const char* path : kUfwPaths) {
    if (::access(path, X_OK) != 0) continue;
    std::string command = std::string(path) + " status 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string output;
    char buffer[4096];
    size_t n = 0;
    // Read to the end even past the limit, so the tool never blocks on a
    // full pipe while pclose waits for it.
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
      if (output.size() < kMaxOutput) output.append(buffer, n);
    ::pclose(pipe);
    FirewallState state = parseUfwStatus(output);
    // ufw shows its rules to root only; anyone may read whether it is on.
    if (output.find("need to be root") != std::string::npos) state.enabled = ufwConfEnabled();
    return state;
  }
  return {};
}

}  // namespace plimo
