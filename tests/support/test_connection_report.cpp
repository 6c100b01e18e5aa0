// The connection report: each finding under its condition, in order, and the
// whole text for one run.

#include <gtest/gtest.h>

#include "support/ConnectionReport.h"

using namespace plimo;
using namespace plimo::ConnectionReport;
using Level = Finding::Level;
using Nat = NetProbes::Nat;
using Tcp = NetProbes::TcpResult;

namespace {

// A run where everything works: the server answers over UDP and on TCP 443,
// the NAT is easy, no attempt yet.
Facts healthy() {
  Facts f;
  f.date = "2026-12-09 04:10:00";
  f.version = "0.1.0 (1)";
  f.system = "Debian GNU/Linux 12 (bookworm)";
  f.serverAddress = "relay.example.com:47800";
  f.relayAddress = "198.51.100.1:47800";
  f.relayPort = 47800;
  f.relayOk = true;
  f.relayMilliseconds = 12;
  f.relayText = "server 0.1.0, 3 online, up 5h";
  f.serverUp = true;
  f.transport = "UDP 47800";
  f.keyFingerprint = "1A2B 3C4D 5E6F 7081";
  f.tcp = {{8443, {Tcp::Kind::noConnection, 0, "Connection refused"}}, {443, {Tcp::Kind::plimo, 15, ""}}};
  f.nat = {Nat::Kind::easy, "203.0.113.7:40000", "", ""};
  f.natLines = {"a.example:3478 sees this PC as 203.0.113.7:40000", "b.example:19302 sees this PC as 203.0.113.7:40000"};
  f.myID = "123456789";
  f.idPinned = true;
  f.localIP = "192.168.1.20";
  f.localPort = 40000;
  f.interfaces = {{"enp3s0", "192.168.1.20"}};
  return f;
}

std::vector<std::string> titles(const Result& r) {
  std::vector<std::string> out;
  for (const auto& f : r.findings) out.push_back(f.title);
  return out;
}

const Finding* find(const Result& r, std::string_view title) {
  for (const auto& f : r.findings)
    if (f.title == title) return &f;
  return nullptr;
}

TEST(ConnectionReport, TheWholeTextOfAHealthyRun) {
  Result r = build(healthy());
  EXPECT_EQ(r.text,
            "Plimo for Linux - connection report\n"
            "Date: 2026-12-09 04:10:00\n"
            "Version: 0.1.0 (1), Debian GNU/Linux 12 (bookworm)\n"
            "\n"
            "Server: relay.example.com:47800 -> 198.51.100.1:47800\n"
            "Server test: answered in 12 ms (server 0.1.0, 3 online, up 5h)\n"
            "Secure session: yes over UDP 47800, server key 1A2B 3C4D 5E6F 7081\n"
            "TCP 8443: no connection (Connection refused)\n"
            "TCP 443: answers as a Plimo server in 15 ms\n"
            "NAT: easy NAT (203.0.113.7:40000)\n"
            "  a.example:3478 sees this PC as 203.0.113.7:40000\n"
            "  b.example:19302 sees this PC as 203.0.113.7:40000\n"
            "This PC's ID: 123 456 789 (kept)\n"
            "Socket: 192.168.1.20:40000\n"
            "Interfaces: enp3s0 192.168.1.20\n"
            "Firewall: off, Plimo not listed\n"
            "\n"
            "Findings:\n"
            "- [OK] The server answers: relay.example.com:47800 answered in 12 ms (server 0.1.0, 3 online, up 5h).\n"
            "- [OK] The TCP fallback works: TCP port 443 answers as a Plimo server, so Plimo also works on networks "
            "that block UDP.\n"
            "- [OK] This network allows direct links: Both test servers see this PC at the same public address and "
            "port (203.0.113.7:40000), so direct links to other PCs normally work from here.\n"
            "- [OK] No connection attempt yet: Connect to the PC first, then run this test again to see why it did "
            "or did not work.\n");
}

TEST(ConnectionReport, TheServerFindingPrefersTheKeyMismatch) {
  Facts f = healthy();
  f.relayOk = false;
  f.relayText = "Server key does not match Plimo.ini";
  f.relayBlocked = true;
  Result r = build(f);
  EXPECT_EQ(r.findings[0].title, "The server shows a different key");
  EXPECT_EQ(r.findings[0].level, Level::problem);
  f.relayBlocked = false;
  f.relayText = "No answer from the server.";
  r = build(f);
  EXPECT_EQ(r.findings[0],
            (Finding{Level::problem, "The server does not answer",
                     "No answer from the server. This network may block UDP port 47800 to the server."}));
  EXPECT_NE(r.text.find("Server test: no answer (No answer from the server.)\n"), std::string::npos);
}

TEST(ConnectionReport, TcpFindings) {
  Facts f = healthy();
  f.tcp = {{443, {Tcp::Kind::plimo, 15, ""}}, {80, {Tcp::Kind::plimo, 16, ""}}};
  EXPECT_TRUE(build(f).findings[1].detail.starts_with("TCP ports 443, 80 answer as a Plimo server"));

  f.tcp = {{8443, {Tcp::Kind::otherProgram, 0, "connected, but no Plimo answer"}},
           {80, {Tcp::Kind::noConnection, 0, "no answer in 8 s"}}};
  Result r = build(f);
  EXPECT_EQ(r.findings[1].title, "No TCP fallback port answers");
  EXPECT_TRUE(r.findings[1].detail.starts_with(
      "TCP 8443: another program answers (connected, but no Plimo answer); TCP 80: no connection (no answer in 8 "
      "s). On networks that block UDP"));

  f.tcp.clear();
  r = build(f);
  EXPECT_EQ(titles(r).size(), 3u) << "no TCP finding without probed ports";
  EXPECT_NE(r.text.find("\nTCP fallback: off\n"), std::string::npos);
}

TEST(ConnectionReport, NatFindingsAndSummaries) {
  struct Case {
    Nat nat;
    std::string title, summary;
    Level level;
  };
  const Case cases[] = {
      {{Nat::Kind::symmetric, "1.2.3.4:5000", "1.2.3.4:5001", ""},
       "This network rarely allows direct links (symmetric NAT)", "NAT: symmetric NAT (1.2.3.4:5000 / 1.2.3.4:5001)",
       Level::warning},
      {{Nat::Kind::twoAddresses, "1.2.3.4:5000", "5.6.7.8:5000", ""}, "This PC uses two internet connections",
       "NAT: two public addresses (1.2.3.4:5000 / 5.6.7.8:5000)", Level::warning},
      {{Nat::Kind::unknown, "", "", "UDP to the internet is blocked here, or STUN is"},
       "The network type could not be tested", "NAT: unknown (UDP to the internet is blocked here, or STUN is)",
       Level::warning},
  };
  for (const auto& c : cases) {
    Facts f = healthy();
    f.nat = c.nat;
    Result r = build(f);
    EXPECT_EQ(r.findings[2].title, c.title);
    EXPECT_EQ(r.findings[2].level, c.level);
    EXPECT_NE(r.text.find(c.summary + "\n"), std::string::npos) << c.summary;
  }
  Facts f = healthy();
  f.nat = {Nat::Kind::unknown, "", "", "only one server answered"};
  EXPECT_EQ(build(f).findings[2].detail,
            "Only one server answered. Sessions from this network then go through the server over TCP.");
}

TEST(ConnectionReport, InterfaceFindings) {
  struct Case {
    std::vector<InterfaceAddress> interfaces;
    bool hotspot, vpn;
  };
  const Case cases[] = {
      {{{"enp3s0", "192.168.1.20"}}, false, false},
      {{{"wlp2s0", "172.20.10.3"}}, true, false},
      // The primary interface is the LAN card, not the first in the list.
      {{{"docker0", "172.20.10.1"}, {"enp3s0", "192.168.1.20"}}, false, false},
      // Without a LAN card the first interface is the primary one.
      {{{"usb0", "172.20.10.4"}, {"tun0", "10.8.0.2"}}, true, true},
      {{{"enp3s0", "192.168.1.20"}, {"wg0", "10.9.0.2"}}, false, true},
      {{{"enp3s0", "192.168.1.20"}, {"ppp0", "10.64.0.2"}}, false, true},
  };
  for (const auto& c : cases) {
    Facts f = healthy();
    f.interfaces = c.interfaces;
    Result r = build(f);
    EXPECT_EQ(find(r, "This PC uses an iPhone hotspot") != nullptr, c.hotspot) << c.interfaces[0].name;
    EXPECT_EQ(find(r, "A VPN is active") != nullptr, c.vpn) << c.interfaces[0].name;
  }
}

TEST(ConnectionReport, FirewallFindings) {
  struct Case {
    FirewallState firewall;
    const char* title;  // nullptr: none
    const char* line;
  };
  const Case cases[] = {
      {{false, false, false}, nullptr, "Firewall: off, Plimo not listed"},
      {{true, true, false}, nullptr, "Firewall: on, Plimo allowed"},
      {{true, true, true}, "The firewall of this PC blocks Plimo", "Firewall: on, Plimo blocked"},
      {{true, false, false}, "The firewall of this PC does not know Plimo yet", "Firewall: on, Plimo not listed"},
  };
  for (const auto& c : cases) {
    Facts f = healthy();
    f.firewall = c.firewall;
    Result r = build(f);
    EXPECT_EQ(r.findings.size(), c.title ? 5u : 4u) << c.line;
    if (c.title) {
      EXPECT_EQ(r.findings[3].title, c.title);
    }
    EXPECT_NE(r.text.find(std::string(c.line) + "\n"), std::string::npos) << c.line;
  }
}

PlimoClient::Attempt failedAttempt() {
  PlimoClient::Attempt a;
  a.partnerID = "987654321";
  a.publicAddress = "203.0.113.9:41000";
  a.lanAddress = "10.2.0.2:41000";
  a.outcome = "failed: no direct path";
  a.relayOffered = "no";
  return a;
}

TEST(ConnectionReport, AttemptFindings) {
  struct Case {
    std::function<void(PlimoClient::Attempt&)> change;
    const char* title;  // nullptr: none
  };
  const Case cases[] = {
      {[](auto& a) { a.outcome = "connected", a.path = "203.0.113.9:41000"; }, "The last connection worked"},
      {[](auto& a) { a.localNetworkBlocked = true, a.packetsIn = 3; }, "This PC's own rules block the local network for Plimo"},
      {[](auto& a) { a.packetsIn = 4; }, "Answers arrived but could not be read"},
      {[](auto&) {}, "Nothing came back from the other PC"},
      {[](auto& a) { a.outcome = "in progress"; }, nullptr},
      {[](auto& a) { a.packetsIn = 4, a.packetsDecrypted = 2; }, nullptr},
  };
  for (const auto& c : cases) {
    Facts f = healthy();
    f.attempt = failedAttempt();
    c.change(*f.attempt);
    Result r = build(f);
    if (c.title) {
      ASSERT_EQ(r.findings.size(), 4u);
      EXPECT_EQ(r.findings[3].title, c.title);
    } else {
      EXPECT_EQ(r.findings.size(), 3u) << titles(r).back();
    }
  }
}

TEST(ConnectionReport, TheAttemptLines) {
  Facts f = healthy();
  f.attempt = failedAttempt();
  f.attempt->packetsIn = 0;
  f.attempt->sendError = "Operation not permitted";
  f.attempt->localNetworkBlocked = true;
  f.attempt->relayOffered = "yes";
  f.attempt->triedRelay = true;
  f.attemptTime = "04:09:12";
  EXPECT_NE(build(f).text.find("Last attempt: 987 654 321 at 04:09:12\n"
                               "  Other PC: public 203.0.113.9:41000, local 10.2.0.2:41000\n"
                               "  Result: failed: no direct path\n"
                               "  Packets in: 0, readable: 0\n"
                               "  Send error: Operation not permitted (refused by this PC's own rules)\n"
                               "  Server offers relaying: yes, tried through the server\n"
                               "\n"
                               "Findings:\n"),
            std::string::npos)
      << build(f).text;
  f.attempt->outcome = "connected";
  f.attempt->path = "through the server";
  Result r = build(f);
  EXPECT_NE(r.text.find("  Result: connected via through the server\n"), std::string::npos);
  EXPECT_EQ(r.findings.back().detail, "Link to 987 654 321 through the server.");
}

TEST(ConnectionReport, WithoutAServerLink) {
  Result r = notRunning();
  ASSERT_EQ(r.findings.size(), 1u);
  EXPECT_EQ(r.findings[0],
            (Finding{Level::problem, "Plimo is not running its network part", "Quit and start Plimo again."}));
  EXPECT_NE(r.text.find("- [Problem] Plimo is not running its network part: Quit and start Plimo again.\n"),
            std::string::npos);
}

}  // namespace
