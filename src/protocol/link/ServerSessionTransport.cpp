// How packets reach the server: UDP, or the TCP fallback over a short list of
// ports; the server's port list updates; the relay test.
#include <algorithm>
#include <system_error>

#include "core/Weakly.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"
#include "protocol/wire/ServerPackets.h"

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

void PlimoClient::ServerSession::sendHandshakeByTransportRule() {
  if (!tcp_) {
    if (!tcpPorts_.empty()) {
      if (tcpNext_) return startTcp();
      if (udpTries_ >= udpTriesBeforeTcp && (!tcpTried_ || loop_.now() - *tcpTried_ >= tcpRetry)) {
        return startTcp();
      }
    }
    ++udpTries_;
    return sendRelayHandshake();
  }
  if (!tcp_->connected()) return;  // it connects, or its connect timer gives it up
  if (tcpTries_ < tcpTriesPerPort) {
    ++tcpTries_;
    return sendRelayHandshake();
  }
  link_.log("TCP " + std::to_string(tcpPort_) + " answers, but not as a Plimo server");
  dropTcp();
  advanceTcpPort();
}

void PlimoClient::ServerSession::tcpEnded(const std::string& reason) {
  link_.log("TCP " + std::to_string(tcpPort_) + " to the server ended: " + reason);
  dropTcp();
  if (relay_) {
    // The port worked; after the UDP tries it is the one tried again.
    dropRelay("Lost the TCP connection to the server, reconnecting...");
  } else {
    advanceTcpPort();
  }
}

void PlimoClient::ServerSession::tcpConnectTimedOut() {
  // A link that failed meanwhile is the tick's, with its own reason.
  if (!tcp_ || tcp_->connected() || tcp_->done()) return;
  tcpEnded(std::make_error_code(std::errc::timed_out).message());
}

void PlimoClient::ServerSession::dropTcp() {
  tcpConnectTimer_.reset();
  tcp_->cancel();
  tcp_.reset();
  udpTries_ = 0;
}

void PlimoClient::ServerSession::advanceTcpPort() {
  ++tcpIndex_;
  if (tcpIndex_ >= tcpPorts_.size()) {
    // The whole list failed: back to UDP, TCP again after the pause.
    tcpIndex_ = 0;
    tcpNext_ = false;
  } else {
    tcpNext_ = true;
  }
}

void PlimoClient::ServerSession::startTcp() {
  if (tcp_ || tcpPorts_.empty() || relayIP_.empty()) return;
  if (tcpIndex_ >= tcpPorts_.size()) tcpIndex_ = 0;
  tcpPort_ = tcpPorts_[tcpIndex_];
  tcpNext_ = false;
  tcpTried_ = loop_.now();
  tcpTries_ = 0;
  link_.log("No answer from the server on UDP " + std::to_string(relayPort_) + "; trying TCP " +
            std::to_string(tcpPort_) + " instead");
  status("Trying the server on TCP port " + std::to_string(tcpPort_) + "...");
  if (!link_.socket_) return;  // the owner stopped the link from the event
  // Packets from the link are server packets, exactly like datagrams from
  // the server's UDP address.
  tcp_ = link_.sockets_.openTcp(relayIP_, tcpPort_,
                                weakly<Bytes>(link_.weak_from_this(), [](PlimoClient& self, Bytes packet) {
                                  self.processPacket(packet, self.server_->relayAddress());
                                }));
  // The wait is the link's rule, not the socket's: the system would wait
  // minutes for a port that drops the connection attempt.
  tcpConnectTimer_ =
      loop_.after(tcpConnectTimeout,
                  weakly(link_.weak_from_this(), [](PlimoClient& self) { self.server_->tcpConnectTimedOut(); }));
}

void PlimoClient::ServerSession::sendRaw(ByteView data, const Address& to) {
  if (tcp_ && to == relayAddress()) {
    // Relayed partner traffic may be dropped under congestion; the server
    // session's own packets never are.
    tcp_->send(data, !data.empty() && data[0] == ServerPacket::kRelayed);
  } else if (link_.socket_) {
    link_.socket_->send(data, to);
  }
}

void PlimoClient::ServerSession::sendRelayed(ByteView sealed) {
  if (relayIP_.empty()) return;
  Bytes packet{ServerPacket::kRelayed};
  append(packet, sealed);
  sendRaw(packet, relayAddress());
}

void PlimoClient::ServerSession::handlePorts(const std::vector<std::string>& words) {
  auto ports = parsePortList(words[2]);
  std::string text = portListText(ports);
  if (text == portListText(tcpPorts_)) return;
  tcpPorts_ = std::move(ports);
  tcpIndex_ = 0;
  if (!tcp_) tcpPort_ = tcpPorts_.empty() ? 0 : tcpPorts_.front();
  link_.log("The server's TCP fallback ports: " + text);
  link_.tell(&LinkEvents::onTcpPortChanged, text);
}

void PlimoClient::ServerSession::testRelay() {
  if (!testToken_.empty()) return;
  testToken_ = PlimoCrypto::hex(PlimoCrypto::randomBytes(kTestTokenBytes));
  testStart_ = loop_.now();
  if (relayBlocked_) return finishTest(false, "Server key does not match Plimo.ini");
  if (relay_) return sendLine("PING " + testToken_);
  // Start resolving and handshaking now; the welcome sends the PING.
  lastHandshake_.reset();
  lastResolve_.reset();
  link_.tick();
}

void PlimoClient::ServerSession::handlePong(const std::vector<std::string>& words) {
  if (testToken_.empty() || words[1] != testToken_) return;
  finishTest(true, "server " + words[2] + ", " + words[3] + " online, up " + words[4]);
}

void PlimoClient::ServerSession::finishTest(bool ok, const std::string& text) {
  if (testToken_.empty()) return;
  testToken_.clear();
  auto milliseconds = int64_t((loop_.now() - testStart_) * 1000.0);
  link_.tell(&LinkEvents::onRelayTest, ok, milliseconds, text);
}

}  // namespace plimo
