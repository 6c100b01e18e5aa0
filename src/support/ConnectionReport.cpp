#include "support/ConnectionReport.h"

#include <cctype>

#include "core/PlimoID.h"

namespace plimo::ConnectionReport {

namespace {

using Level = Finding::Level;
using Nat = NetProbes::Nat;
using Tcp = NetProbes::TcpResult;

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const auto& part : parts) {
    if (!out.empty()) out += separator;
    out += part;
  }
  return out;
}

std::string portLine(uint16_t port, const Tcp& result) {
  std::string head = "TCP " + std::to_string(port);
  switch (result.kind) {
    case Tcp::Kind::plimo:
      return head + ": answers as a Plimo server in " + std::to_string(result.milliseconds) + " ms";
    case Tcp::Kind::otherProgram:
      return head + ": another program answers (" + result.detail + ")";
    case Tcp::Kind::noConnection:
      return head + ": no connection (" + result.detail + ")";
    case Tcp::Kind::off:
      break;
  }
  return "";
}

std::vector<std::string> portLines(const Facts& f) {
  std::vector<std::string> lines;
  for (const auto& [port, result] : f.tcp)
    if (auto line = portLine(port, result); !line.empty()) lines.push_back(line);
  return lines;
}

std::string natSummary(const Nat& nat) {
  switch (nat.kind) {
    case Nat::Kind::easy:
      return "easy NAT (" + nat.first + ")";
    case Nat::Kind::symmetric:
      return "symmetric NAT (" + nat.first + " / " + nat.second + ")";
    case Nat::Kind::twoAddresses:
      return "two public addresses (" + nat.first + " / " + nat.second + ")";
    case Nat::Kind::unknown:
      break;
  }
  return "unknown (" + nat.reason + ")";
}

std::string capitalized(std::string text) {
  if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

void serverFinding(const Facts& f, std::vector<Finding>& out) {
  if (f.relayOk) {
    out.push_back({Level::ok, "The server answers",
                   f.serverAddress + " answered in " + std::to_string(f.relayMilliseconds) + " ms (" + f.relayText +
                       ")."});
  } else if (f.relayBlocked) {
    out.push_back({Level::problem, "The server shows a different key",
                   "The server at " + f.serverAddress +
                       " identified itself with another key than the one this PC remembered, so Plimo will not use "
                       "it. If the server was reinstalled, remove the Key line under [Relay] in Plimo.ini."});
  } else {
    out.push_back({Level::problem, "The server does not answer",
                   f.relayText + " This network may block UDP port " + std::to_string(f.relayPort) +
                       " to the server."});
  }
}

void tcpFinding(const Facts& f, std::vector<Finding>& out) {
  std::vector<std::string> answering;
  for (const auto& [port, result] : f.tcp)
    if (result.kind == Tcp::Kind::plimo) answering.push_back(std::to_string(port));
  if (!answering.empty()) {
    bool one = answering.size() == 1;
    out.push_back({Level::ok, "The TCP fallback works",
                   std::string(one ? "TCP port " : "TCP ports ") + join(answering, ", ") +
                       (one ? " answers" : " answer") +
                       " as a Plimo server, so Plimo also works on networks that block UDP."});
  } else if (auto lines = portLines(f); !lines.empty()) {
    out.push_back({Level::warning, "No TCP fallback port answers",
                   join(lines, "; ") +
                       ". On networks that block UDP, Plimo then cannot reach the server. The server owner can "
                       "check plimo-server's TCP ports (its --tcp-ports option) and the router's port forwarding."});
  }
}

void natFinding(const Nat& nat, std::vector<Finding>& out) {
  switch (nat.kind) {
    case Nat::Kind::easy:
      out.push_back({Level::ok, "This network allows direct links",
                     "Both test servers see this PC at the same public address and port (" + nat.first +
                         "), so direct links to other PCs normally work from here."});
      return;
    case Nat::Kind::symmetric:
      out.push_back({Level::warning, "This network rarely allows direct links (symmetric NAT)",
                     "Each destination sees this PC on a different public port (" + nat.first + ", " + nat.second +
                         "). Direct links to other PCs rarely work from here; sessions then go through the server "
                         "(relay fallback), which needs an up-to-date server."});
      return;
    case Nat::Kind::twoAddresses:
      out.push_back({Level::warning, "This PC uses two internet connections",
                     "The test servers see two different public addresses (" + nat.first + ", " + nat.second +
                         "). Direct links may fail; sessions then go through the server."});
      return;
    case Nat::Kind::unknown:
      out.push_back({Level::warning, "The network type could not be tested",
                     capitalized(nat.reason) + ". Sessions from this network then go through the server over TCP."});
      return;
  }
}

bool isVpnInterface(std::string_view name) {
  // Linux names of tunnel devices: OpenVPN and others (tun, tap), WireGuard
  // (wg), PPP and L2TP dial-ups (ppp), strongSwan and Libreswan (ipsec).
  for (std::string_view prefix : {"tun", "tap", "wg", "ppp", "ipsec"})
    if (name.starts_with(prefix)) return true;
  return false;
}

void interfaceFindings(const Facts& f, std::vector<Finding>& out) {
  // An iPhone's Personal Hotspot hands out addresses from this network.
  if (!f.interfaces.empty() && chooseLocalIPv4(f.interfaces).starts_with("172.20.10.")) {
    out.push_back({Level::warning, "This PC uses an iPhone hotspot",
                   "Mobile networks usually block direct connections between two computers (carrier NAT). "
                   "Connecting to a PC is then only possible once the server can pass the session along (relay "
                   "fallback). Use Wi-Fi or a wired network instead if you can."});
  }
  for (const auto& i : f.interfaces) {
    if (!isVpnInterface(i.name)) continue;
    out.push_back({Level::warning, "A VPN is active",
                   "Traffic may go through the VPN, and many VPNs block direct connections. Try again with the VPN "
                   "off."});
    break;
  }
}

void firewallFinding(const FirewallState& fw, std::vector<Finding>& out) {
  if (!fw.enabled) return;
  if (fw.blocked) {
    out.push_back({Level::problem, "The firewall of this PC blocks Plimo",
                   "ufw has a rule that denies Plimo. In a terminal, list the rules with \"sudo ufw status "
                   "numbered\" and remove that one with \"sudo ufw delete\" and its number."});
  } else if (!fw.listed) {
    out.push_back({Level::warning, "The firewall of this PC does not know Plimo yet",
                   "ufw is on and has no rule for Plimo. Direct links usually work anyway, because Plimo sends "
                   "first; if they fail, try again with ufw off (\"sudo ufw disable\") to see whether it is the "
                   "cause."});
  }
}

void attemptFinding(const std::optional<PlimoClient::Attempt>& attempt, std::vector<Finding>& out) {
  if (!attempt) {
    out.push_back({Level::ok, "No connection attempt yet",
                   "Connect to the PC first, then run this test again to see why it did or did not work."});
    return;
  }
  const auto& a = *attempt;
  if (a.outcome == "connected") {
    // A relayed session is no direct link; say the path as it is.
    bool relayed = a.path == "through the server";
    out.push_back({Level::ok, "The last connection worked",
                   relayed ? "Link to " + formatPlimoID(a.partnerID) + " through the server."
                           : "Direct link to " + formatPlimoID(a.partnerID) + " over " + a.path + "."});
  } else if (a.localNetworkBlocked) {
    out.push_back({Level::problem, "This PC's own rules block the local network for Plimo",
                   "A firewall rule (ufw or iptables), AppArmor or SELinux on this PC refuses Plimo's packets into "
                   "the local network. Allow Plimo's outgoing UDP there."});
  } else if (a.packetsIn > 0 && a.packetsDecrypted == 0) {
    out.push_back({Level::problem, "Answers arrived but could not be read",
                   std::to_string(a.packetsIn) +
                       " packet(s) came in that did not belong to this session. Start the connection again; if it "
                       "keeps happening, send this report to support."});
  } else if (a.packetsIn == 0 && a.outcome.starts_with("failed")) {
    out.push_back({Level::problem, "Nothing came back from the other PC",
                   "This PC sent to the PC at " + a.publicAddress + " (on its own network " + a.lanAddress +
                       ") for 10 seconds and received no answer. Most likely one of the two networks does not allow "
                       "direct connections (a mobile network, a company firewall, or a router with a \"symmetric "
                       "NAT\"). If both computers are on the same network, check that the firewall of this PC "
                       "allows Plimo."});
  }
}

std::string firewallLine(const FirewallState& fw) {
  return std::string("Firewall: ") + (fw.enabled ? "on" : "off") + ", Plimo " +
         (fw.blocked ? "blocked" : fw.listed ? "allowed" : "not listed");
}

}  // namespace

std::string_view levelWord(Finding::Level level) {
  switch (level) {
    case Level::ok:
      return "OK";
    case Level::warning:
      return "Attention";
    case Level::problem:
      break;
  }
  return "Problem";
}

Result build(const Facts& f) {
  Result r;
  serverFinding(f, r.findings);
  tcpFinding(f, r.findings);
  natFinding(f.nat, r.findings);
  interfaceFindings(f, r.findings);
  firewallFinding(f.firewall, r.findings);
  attemptFinding(f.attempt, r.findings);

  std::string& t = r.text;
  auto line = [&t](const std::string& text) { t += text + "\n"; };
  line("Plimo for Linux - connection report");
  line("Date: " + f.date);
  line("Version: " + f.version + ", " + f.system);
  line("");
  line("Server: " + f.serverAddress + " -> " + f.relayAddress);
  line("Server test: " +
       (f.relayOk ? "answered in " + std::to_string(f.relayMilliseconds) + " ms" : std::string("no answer")) + " (" +
       f.relayText + ")");
  line(std::string("Secure session: ") + (f.serverUp ? "yes" : "no") + " over " + f.transport + ", server key " +
       f.keyFingerprint);
  auto ports = portLines(f);
  if (ports.empty()) ports.push_back("TCP fallback: off");
  for (const auto& p : ports) line(p);
  line("NAT: " + natSummary(f.nat));
  for (const auto& n : f.natLines) line("  " + n);
  line("This PC's ID: " + formatPlimoID(f.myID) + (f.idPinned ? " (kept)" : ""));
  line("Socket: " + f.localIP + ":" + std::to_string(f.localPort));
  std::vector<std::string> interfaces;
  for (const auto& i : f.interfaces) interfaces.push_back(i.name + " " + i.ip);
  line("Interfaces: " + join(interfaces, ", "));
  line(firewallLine(f.firewall));
  line("");
  if (const auto& a = f.attempt) {
    line("Last attempt: " + formatPlimoID(a->partnerID) + " at " + f.attemptTime);
    line("  Other PC: public " + a->publicAddress + ", local " + a->lanAddress);
    line("  Result: " + a->outcome + (a->path.empty() ? "" : " via " + a->path));
    line("  Packets in: " + std::to_string(a->packetsIn) + ", readable: " + std::to_string(a->packetsDecrypted));
    line("  Send error: " + (a->sendError.empty() ? std::string("none") : a->sendError) +
         (a->localNetworkBlocked ? " (refused by this PC's own rules)" : ""));
    line("  Server offers relaying: " + a->relayOffered + (a->triedRelay ? ", tried through the server" : ""));
    line("");
  }
  line("Findings:");
  for (const auto& finding : r.findings)
    line("- [" + std::string(levelWord(finding.level)) + "] " + finding.title + ": " + finding.detail);
  return r;
}

Result notRunning() {
  Result r;
  r.findings.push_back({Level::problem, "Plimo is not running its network part", "Quit and start Plimo again."});
  r.text = "Plimo for Linux - connection report\n\nFindings:\n- [Problem] Plimo is not running its network part: "
           "Quit and start Plimo again.\n";
  return r;
}

}  // namespace plimo::ConnectionReport
