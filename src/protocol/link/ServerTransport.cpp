// How packets reach the server: UDP, or the TCP fallback over a short list of
// ports; the server's port list updates.
#include "protocol/link/ServerTransport.h"

#include <algorithm>
#include <system_error>

#include "core/Weakly.h"
#include "protocol/link/ServerSession.h"
#include "protocol/net/Net.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

namespace {

constexpr size_t kMaxTcpPorts = 4;

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

PlimoClient::ServerTransport::ServerTransport(PlimoClient& link, ServerSession& server,
                                              std::string_view tcpPortsText)
    : link_(link), server_(server), tcpPorts_(parsePortList(tcpPortsText)) {
  tcpPort_ = tcpPorts_.empty() ? 0 : tcpPorts_.front();
}

bool PlimoClient::ServerTransport::nextHandshake() {
  if (!tcp_) {
    if (!tcpPorts_.empty() &&
        (tcpNext_ ||
         (udpTries_ >= udpTriesBeforeTcp && (!tcpTried_ || link_.loop_.now() - *tcpTried_ >= tcpRetry)))) {
      startTcp();
      return false;
    }
    ++udpTries_;
    return true;
  }
  if (!tcp_->connected()) return false;  // it connects, or its connect timer gives it up
  if (tcpTries_ < tcpTriesPerPort) {
    ++tcpTries_;
    return true;
  }
  link_.log("TCP " + std::to_string(tcpPort_) + " answers, but not as a Plimo server");
  dropTcp();
  advanceTcpPort();
  return false;
}

void PlimoClient::ServerTransport::welcomed() {
  udpTries_ = 0;
  tcpTries_ = 0;
}

void PlimoClient::ServerTransport::restart() {
  if (tcp_) dropTcp();
  tcpIndex_ = 0;
  tcpNext_ = false;
  tcpTried_.reset();
  udpTries_ = 0;
  tcpTries_ = 0;
}

void PlimoClient::ServerTransport::checkEnded() {
  if (tcp_ && tcp_->done()) tcpEnded(tcp_->error());
}

void PlimoClient::ServerTransport::close() {
  tcpConnectTimer_.reset();
  if (tcp_) {
    std::shared_ptr<StreamLink> tcpLink = std::move(tcp_);
    closingTcp_ = link_.loop_.after(tcpCloseDelay, [tcpLink] { tcpLink->cancel(); });
  }
}

std::string PlimoClient::ServerTransport::text() const {
  if (tcp_) return "TCP " + std::to_string(tcpPort_);
  return "UDP " + std::to_string(server_.address().port());
}

void PlimoClient::ServerTransport::tcpEnded(const std::string& reason) {
  link_.log("TCP " + std::to_string(tcpPort_) + " to the server ended: " + reason);
  dropTcp();
  if (server_.up()) {
    // The port worked; after the UDP tries it is the one tried again.
    server_.dropRelay("Lost the TCP connection to the server, reconnecting...");
  } else {
    advanceTcpPort();
  }
}

void PlimoClient::ServerTransport::tcpConnectTimedOut() {
  // A link that failed meanwhile is the tick's, with its own reason.
  if (!tcp_ || tcp_->connected() || tcp_->done()) return;
  tcpEnded(std::make_error_code(std::errc::timed_out).message());
}

void PlimoClient::ServerTransport::dropTcp() {
  tcpConnectTimer_.reset();
  tcp_->cancel();
  tcp_.reset();
  udpTries_ = 0;
}

void PlimoClient::ServerTransport::advanceTcpPort() {
  ++tcpIndex_;
  if (tcpIndex_ >= tcpPorts_.size()) {
    // The whole list failed: back to UDP, TCP again after the pause.
    tcpIndex_ = 0;
    tcpNext_ = false;
  } else {
    tcpNext_ = true;
  }
}

void PlimoClient::ServerTransport::startTcp() {
  const std::string& serverIP = server_.address().ip();
  if (tcp_ || tcpPorts_.empty() || serverIP.empty()) return;
  if (tcpIndex_ >= tcpPorts_.size()) tcpIndex_ = 0;
  tcpPort_ = tcpPorts_[tcpIndex_];
  tcpNext_ = false;
  tcpTried_ = link_.loop_.now();
  tcpTries_ = 0;
  link_.log("No answer from the server on UDP " + std::to_string(server_.address().port()) + "; trying TCP " +
            std::to_string(tcpPort_) + " instead");
  server_.status("Trying the server on TCP port " + std::to_string(tcpPort_) + "...");
  if (!link_.socket_) return;  // the owner stopped the link from the event
  // Packets from the link are server packets, exactly like datagrams from
  // the server's UDP address.
  tcp_ = link_.sockets_.openTcp(serverIP, tcpPort_,
                                weakly<Bytes>(link_.weak_from_this(), [](PlimoClient& self, Bytes packet) {
                                  self.processPacket(packet, self.server_->address().endpoint());
                                }));
  // The wait is the link's rule, not the socket's: the system would wait
  // minutes for a port that drops the connection attempt. The link owns this
  // object for all its life, so `this` is there whenever the link is.
  tcpConnectTimer_ = link_.loop_.after(
      tcpConnectTimeout, weakly(link_.weak_from_this(), [this](PlimoClient&) { tcpConnectTimedOut(); }));
}

void PlimoClient::ServerTransport::send(ByteView data, const Address& to) {
  if (tcp_ && to == server_.address().endpoint()) {
    // Relayed partner traffic may be dropped under congestion; the server
    // session's own packets never are.
    tcp_->send(data, !data.empty() && data[0] == ServerPacket::kRelayed);
  } else if (link_.socket_) {
    link_.socket_->send(data, to);
  }
}

void PlimoClient::ServerTransport::sendRelayed(ByteView sealed) {
  if (server_.address().ip().empty()) return;
  Bytes packet{ServerPacket::kRelayed};
  append(packet, sealed);
  send(packet, server_.address().endpoint());
}

void PlimoClient::ServerTransport::handlePorts(const std::vector<std::string>& words) {
  auto ports = parsePortList(words[2]);
  std::string text = portListText(ports);
  if (text == portListText(tcpPorts_)) return;
  tcpPorts_ = std::move(ports);
  tcpIndex_ = 0;
  if (!tcp_) tcpPort_ = tcpPorts_.empty() ? 0 : tcpPorts_.front();
  link_.log("The server's TCP fallback ports: " + text);
  link_.tell(&LinkEvents::onTcpPortChanged, text);
}

}  // namespace plimo
