// How packets reach the server: UDP, or the TCP fallback over a short list of
// ports; the server's port list updates; the relay test.
#include <algorithm>

#include "protocol/Net.h"
#include "protocol/PlimoClient.h"
#include "protocol/PlimoCrypto.h"
#include "protocol/ServerPackets.h"

namespace plimo {

namespace {

constexpr size_t kMaxTcpPorts = 4;
constexpr size_t kTestTokenBytes = 4;

}  // namespace

std::vector<uint16_t> PlimoClient::parsePortList(std::string_view text) {
  std::vector<uint16_t> ports;
  size_t from = 0;
  while (from <= text.size() && ports.size() < kMaxTcpPorts) {
    size_t end = text.find_first_of(",; ", from);
    if (end == std::string_view::npos) end = text.size();
    auto part = trimWhitespace(text.substr(from, end - from));
    from = end + 1;
    auto value = parseDecimal(part);
    if (!value || *value < 1 || *value > 65535) continue;
    auto port = uint16_t(*value);
    if (std::find(ports.begin(), ports.end(), port) == ports.end()) ports.push_back(port);
  }
  return ports;
}

std::string PlimoClient::portListText(const std::vector<uint16_t>& ports) {
  if (ports.empty()) return "0";
  std::string text;
  for (auto port : ports) text += (text.empty() ? "" : ",") + std::to_string(port);
  return text;
}

void PlimoClient::sendHandshakeByTransportRule() {
  if (!tcp) {
    if (!tcpPorts.empty()) {
      if (tcpNext) return startTcp();
      if (udpTries >= udpTriesBeforeTcp && (!tcpTried || loop_.now() - *tcpTried >= tcpRetry)) {
        return startTcp();
      }
    }
    ++udpTries;
    return sendRelayHandshake();
  }
  if (!tcp->connected()) return;  // it connects or times out by itself
  if (tcpTries < tcpTriesPerPort) {
    ++tcpTries;
    return sendRelayHandshake();
  }
  log("TCP " + std::to_string(tcpPort) + " answers, but not as a Plimo server");
  tcp->cancel();
  tcp.reset();
  udpTries = 0;
  advanceTcpPort();
}

void PlimoClient::tcpEnded() {
  log("TCP " + std::to_string(tcpPort) + " to the server ended: " + tcp->error());
  tcp->cancel();
  tcp.reset();
  udpTries = 0;
  if (relay) {
    // The port worked; after the UDP tries it is the one tried again.
    dropRelay("Lost the TCP connection to the server, reconnecting...");
  } else {
    advanceTcpPort();
  }
}

void PlimoClient::advanceTcpPort() {
  ++tcpIndex;
  if (tcpIndex >= tcpPorts.size()) {
    // The whole list failed: back to UDP, TCP again after the pause.
    tcpIndex = 0;
    tcpNext = false;
  } else {
    tcpNext = true;
  }
}

void PlimoClient::startTcp() {
  if (tcp || tcpPorts.empty() || relayIP.empty()) return;
  if (tcpIndex >= tcpPorts.size()) tcpIndex = 0;
  tcpPort = tcpPorts[tcpIndex];
  tcpNext = false;
  tcpTried = loop_.now();
  tcpTries = 0;
  log("No answer from the server on UDP " + std::to_string(relayPort) + "; trying TCP " +
      std::to_string(tcpPort) + " instead");
  status("Trying the server on TCP port " + std::to_string(tcpPort) + "...");
  if (!socket) return;  // the owner stopped the link from the callback
  std::weak_ptr<PlimoClient> weak = weak_from_this();
  tcp = sockets_.openTcp(relayIP, tcpPort, [weak](Bytes packet) {
    // Packets from the link are server packets, exactly like datagrams from
    // the server's UDP address.
    if (auto self = weak.lock()) self->processPacket(packet, self->relayAddress());
  });
}

void PlimoClient::sendRaw(ByteView data, const Address& to) {
  if (tcp && to == relayAddress()) {
    // Relayed partner traffic may be dropped under congestion; the server
    // session's own packets never are.
    tcp->send(data, !data.empty() && data[0] == ServerPacket::kRelayed);
  } else if (socket) {
    socket->send(data, to);
  }
}

void PlimoClient::handlePorts(const std::vector<std::string>& words) {
  auto ports = parsePortList(words[2]);
  std::string text = portListText(ports);
  if (text == portListText(tcpPorts)) return;
  tcpPorts = std::move(ports);
  tcpIndex = 0;
  if (!tcp) tcpPort = tcpPorts.empty() ? 0 : tcpPorts.front();
  log("The server's TCP fallback ports: " + text);
  if (onTcpPortChanged) onTcpPortChanged(text);
}

void PlimoClient::testRelay() {
  if (!testToken.empty()) return;
  testToken = PlimoCrypto::hex(PlimoCrypto::randomBytes(kTestTokenBytes));
  testStart = loop_.now();
  if (relayBlocked) return finishTest(false, "Server key does not match Plimo.ini");
  if (relay) return sendRelay("PING " + testToken);
  // Start resolving and handshaking now; the welcome sends the PING.
  lastHandshake.reset();
  lastResolve.reset();
  tick();
}

void PlimoClient::handlePong(const std::vector<std::string>& words) {
  if (testToken.empty() || words[1] != testToken) return;
  finishTest(true, "server " + words[2] + ", " + words[3] + " online, up " + words[4]);
}

void PlimoClient::finishTest(bool ok, const std::string& text) {
  if (testToken.empty()) return;
  testToken.clear();
  auto milliseconds = int64_t((loop_.now() - testStart) * 1000.0);
  if (onRelayTest) onRelayTest(ok, milliseconds, text);
}

}  // namespace plimo
