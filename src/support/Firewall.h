#pragma once
// What this PC's firewall tool says about Plimo. On Linux that is ufw, where
// installed; a PC without it has no firewall tool the report can read.

#include <string_view>

namespace plimo {

struct FirewallState {
  bool enabled = false;
  bool listed = false;   // a rule names Plimo (its application profile)
  bool blocked = false;  // such a rule denies or rejects
  bool operator==(const FirewallState&) const = default;
};

// The output of `ufw status`: on when it says "Status: active"; Plimo listed
// and blocked as its rules say. Anything else (an error) reads as off.
FirewallState parseUfwStatus(std::string_view output);

// Runs `ufw status` (standard output and error together) when ufw is
// installed. Blocks until the tool exits; call it off the main thread when
// that matters. No ufw, or one that fails, reads as off.
FirewallState firewallState();

}  // namespace plimo
