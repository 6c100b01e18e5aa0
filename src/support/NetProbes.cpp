#include "support/NetProbes.h"

#include <algorithm>
#include <cmath>
#include <system_error>
#include <utility>

#include "core/Text.h"
#include "core/Weakly.h"
#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

namespace {

// "host:port" with a host and a decimal 16-bit port, else nothing.
std::optional<std::pair<std::string, uint16_t>> splitServer(std::string_view entry) {
  entry = trimWhitespace(entry);
  size_t colon = entry.find(':');
  if (colon == std::string_view::npos || colon == 0 || entry.find(':', colon + 1) != std::string_view::npos)
    return std::nullopt;
  auto port = parseDecimal(entry.substr(colon + 1));
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return std::pair{std::string(entry.substr(0, colon)), uint16_t(*port)};
}

std::string_view portPart(std::string_view mapped) { return mapped.substr(mapped.rfind(':') + 1); }

}  // namespace

namespace NetProbes {

std::vector<std::string> stunServers(std::string_view listText) {
  std::vector<std::string> servers;
  while (servers.size() < 2 && !listText.empty()) {
    size_t comma = std::min(listText.find(','), listText.size());
    std::string_view entry = listText.substr(0, comma);
    listText.remove_prefix(std::min(comma + 1, listText.size()));
    if (splitServer(entry)) servers.emplace_back(trimWhitespace(entry));
  }
  return servers.size() == 2 ? servers : kDefaultStunServers;
}

Nat classify(const std::optional<std::string>& first, const std::optional<std::string>& second) {
  if (!first || !second) {
    bool one = first || second;
    return {Nat::Kind::unknown, "", "",
            one ? "only one server answered" : "UDP to the internet is blocked here, or STUN is"};
  }
  if (*first == *second) return {Nat::Kind::easy, *first, "", ""};
  auto kind = portPart(*first) == portPart(*second) ? Nat::Kind::twoAddresses : Nat::Kind::symmetric;
  return {kind, *first, *second, ""};
}

}  // namespace NetProbes

std::shared_ptr<NatProbe> NatProbe::start(EventLoop& loop, SocketFactory& sockets, std::vector<std::string> servers,
                                          Done done) {
  auto probe = std::make_shared<NatProbe>(loop, sockets, std::move(servers), std::move(done));
  std::weak_ptr<NatProbe> weak = probe;
  try {
    probe->socket_ = sockets.openUdp(weakly<Bytes, const Address&>(
        weak, [](NatProbe& self, Bytes data, const Address& from) { self.received(data, from); }));
  } catch (const std::system_error&) {
    loop.post(weakly(weak, [](NatProbe& self) { self.finish({NetProbes::Nat::Kind::unknown, "", "", "no socket"}); }));
    return probe;
  }
  loop.post(weakly(weak, [](NatProbe& self) { self.next(); }));
  return probe;
}

NatProbe::NatProbe(EventLoop& loop, SocketFactory& sockets, std::vector<std::string> servers, Done done)
    : loop_(loop), sockets_(sockets), servers_(std::move(servers)), done_(std::move(done)) {}

void NatProbe::next() {
  if (index_ == servers_.size()) {
    answers_.resize(2);
    return finish(NetProbes::classify(answers_[0], answers_[1]));
  }
  auto parts = splitServer(servers_[index_]);
  if (!parts) return answered(std::nullopt);
  uint16_t port = parts->second;
  sockets_.resolveIPv4(parts->first, weakly<std::optional<std::string>>(
                                         weak_from_this(), [port](NatProbe& self, std::optional<std::string> ip) {
                                           self.resolved(std::move(ip), port);
                                         }));
}

void NatProbe::resolved(std::optional<std::string> ip, uint16_t port) {
  if (!ip) return answered(std::nullopt);
  server_ = {*ip, port};
  tries_ = 0;
  ask();
}

void NatProbe::ask() {
  if (tries_ == kTries) return answered(std::nullopt);
  ++tries_;
  transaction_ = Stun::randomTransactionId();
  waiting_ = true;
  socket_->send(Stun::bindingRequest(transaction_), server_);
  timer_ = loop_.after(kAnswerWait, weakly(weak_from_this(), [](NatProbe& self) { self.ask(); }));
}

void NatProbe::received(ByteView data, const Address& from) {
  // Only the server asked, under the current transaction; a late answer to
  // an earlier try, or anyone else's datagram, is ignored.
  if (!waiting_ || from != server_) return;
  if (auto mapped = Stun::mappedAddress(data, transaction_)) answered(mapped->text());
}

void NatProbe::answered(std::optional<std::string> mapped) {
  waiting_ = false;
  timer_.reset();
  const std::string& entry = servers_[index_];
  lines_.push_back(mapped ? entry + " sees this PC as " + *mapped : entry + ": no answer");
  answers_.push_back(std::move(mapped));
  ++index_;
  next();
}

void NatProbe::finish(NetProbes::Nat nat) {
  socket_.reset();
  timer_.reset();
  if (auto done = std::exchange(done_, nullptr)) done(std::move(nat), std::move(lines_));
}

std::shared_ptr<TcpProbe> TcpProbe::start(EventLoop& loop, SocketFactory& sockets, const std::string& ip,
                                          uint16_t port, Done done) {
  auto probe = std::make_shared<TcpProbe>(loop, std::move(done));
  std::weak_ptr<TcpProbe> weak = probe;
  if (port == 0 || ip.empty()) {
    loop.post(weakly(weak, [](TcpProbe& self) { self.finish({}); }));
    return probe;
  }
  probe->started_ = loop.now();
  probe->link_ = sockets.openTcp(ip, port, weakly<Bytes>(weak, [](TcpProbe& self, Bytes packet) {
                                   if (packet.empty() || packet[0] != ServerPacket::kWelcome) return;
                                   auto ms = std::llround((self.loop_.now() - self.started_) * 1000.0);
                                   self.finish({NetProbes::TcpResult::Kind::plimo, ms, ""});
                                 }));
  loop.post(weakly(weak, [](TcpProbe& self) { self.check(); }));
  probe->timer_ = loop.every(kCheckInterval, weakly(weak, [](TcpProbe& self) { self.check(); }));
  return probe;
}

TcpProbe::TcpProbe(EventLoop& loop, Done done) : loop_(loop), done_(std::move(done)) {}

void TcpProbe::check() {
  if (!done_) return;
  using Kind = NetProbes::TcpResult::Kind;
  if (link_->done()) {
    bool reached = sent_ || link_->connected();
    return finish({reached ? Kind::otherProgram : Kind::noConnection, 0, link_->error()});
  }
  if (link_->connected() && !sent_) {
    // The private key is not kept: the probe never reads the welcome's
    // sealed part, it only sees that a Plimo server answered.
    link_->send(ServerPacket::handshake(EcdhKey().publicKey(), PlimoCrypto::randomBytes(ServerPacket::kRandomSize)),
                false);
    sent_ = true;
  }
  if (checks_++ == kChecks) {
    finish(sent_ ? NetProbes::TcpResult{Kind::otherProgram, 0, "connected, but no Plimo answer"}
                 : NetProbes::TcpResult{Kind::noConnection, 0, "no answer in 8 s"});
  }
}

void TcpProbe::finish(NetProbes::TcpResult result) {
  timer_.reset();
  if (link_) link_->cancel();
  if (auto done = std::exchange(done_, nullptr)) done(std::move(result));
}

}  // namespace plimo
