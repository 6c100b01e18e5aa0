// The link's life cycle, its tick, the dispatch of incoming packets, and the
// owner's operations and view, each handed to the half it belongs to.
#include "protocol/link/PlimoClient.h"

#include "core/Weakly.h"
#include "protocol/link/PartnerSession.h"
#include "protocol/link/ServerSession.h"
#include "protocol/wire/SecureChannel.h"
#include "protocol/wire/ServerPackets.h"

namespace plimo {

std::shared_ptr<PlimoClient> PlimoClient::create(EventLoop& loop, SocketFactory& sockets,
                                                 std::weak_ptr<LinkEvents> events, std::string relayHost,
                                                 uint16_t relayPort, std::string_view tcpPortsText,
                                                 std::string_view relayKeyHex) {
  return std::shared_ptr<PlimoClient>(
      new PlimoClient(loop, sockets, std::move(events), std::move(relayHost), relayPort, tcpPortsText, relayKeyHex));
}

PlimoClient::PlimoClient(EventLoop& loop, SocketFactory& sockets, std::weak_ptr<LinkEvents> events, std::string host,
                         uint16_t port, std::string_view tcpPortsText, std::string_view relayKeyHex)
    : loop_(loop),
      sockets_(sockets),
      events_(std::move(events)),
      server_(std::make_unique<ServerSession>(*this, std::move(host), port, tcpPortsText, relayKeyHex)),
      partner_(std::make_unique<PartnerSession>(*this)) {}

PlimoClient::~PlimoClient() = default;

void PlimoClient::start() {
  socket_ = sockets_.openUdp(weakly<Bytes, const Address&>(
      weak_from_this(), [](PlimoClient& self, Bytes data, const Address& from) { self.processPacket(data, from); }));
  server_->start();
  tickTimer_ = loop_.every(kTickInterval, weakly(weak_from_this(), [](PlimoClient& self) { self.tick(); }));
  tick();
}

void PlimoClient::stop() {
  auto keep = shared_from_this();
  if (partner_->phase() == PartnerSession::Phase::connected) partner_->disconnect();
  server_->stop();
  partner_->stopTimers();
  tickTimer_.reset();
  socket_.reset();
}

void PlimoClient::tick() {
  // An event below may drop the owner's last reference.
  auto keep = shared_from_this();
  server_->checkEnded();
  partner_->checkSilence();
  server_->keepContact();
}

void PlimoClient::processPacket(ByteView data, const Address& from) {
  if (data.empty()) return;
  if (server_->address().isServer(from)) {
    if (data[0] == ServerPacket::kRelayed && data.size() >= 2) {
      return partner_->handlePacket(data.subspan(1), Address{});
    }
    return server_->handlePacket(data);
  }
  if (data[0] == SecureChannel::kPeerType) return partner_->handlePacket(data, from);
  if (partner_->phase() == PartnerSession::Phase::punching) {
    log("Unexpected packet from " + from.text() + " (type " + std::to_string(data[0]) + ")");
  }
}

void PlimoClient::log(const std::string& text) { tell(&LinkEvents::onLog, text); }

void PlimoClient::sessionData(ByteView data) {
  if (auto session = session_.lock()) session->receive(data);
}

void PlimoClient::setUnattended(bool on) { server_->registration().setUnattended(on); }
void PlimoClient::setPin(std::string id, std::string secret) {
  server_->registration().setPin(std::move(id), std::move(secret));
}
void PlimoClient::sendPin() { server_->registration().sendPin(); }
void PlimoClient::unpinID() { server_->registration().unpinID(); }
void PlimoClient::testRelay() { server_->testRelay(); }
void PlimoClient::sendRelay(const std::string& text) { server_->sendLine(text); }
void PlimoClient::connect(const std::string& partnerID) { partner_->connect(partnerID); }
void PlimoClient::disconnect() { partner_->disconnect(); }
void PlimoClient::sendData(ByteView data) { partner_->sendData(data); }
void PlimoClient::attachSession(std::weak_ptr<SessionDataReceiver> session) { session_ = std::move(session); }
void PlimoClient::sendPeer(const std::string& text, const Address& to) { partner_->sendPeer(text, to); }

PlimoClient::State PlimoClient::state() const {
  switch (partner_->phase()) {
    case PartnerSession::Phase::punching:
      return State::punching;
    case PartnerSession::Phase::connected:
      return State::connected;
    case PartnerSession::Phase::idle:
      break;
  }
  return myID() == "0" ? State::offline : State::registered;
}

const std::string& PlimoClient::myID() const { return server_->registration().myID(); }
bool PlimoClient::idPinned() const { return server_->registration().idPinned(); }
bool PlimoClient::serverUp() const { return server_->up(); }
bool PlimoClient::relayBlocked() const { return server_->blocked(); }
const std::optional<Bytes>& PlimoClient::relayKey() const { return server_->key(); }
std::string PlimoClient::transport() const { return server_->transport().text(); }
std::string PlimoClient::relayAddressText() const { return server_->address().text(); }
const std::string& PlimoClient::relayIP() const { return server_->address().ip(); }
uint16_t PlimoClient::relayPort() const { return server_->address().port(); }
const std::vector<uint16_t>& PlimoClient::tcpPorts() const { return server_->transport().tcpPorts(); }
const std::string& PlimoClient::localIP() const { return server_->localIP(); }
uint16_t PlimoClient::localPort() const { return server_->localPort(); }
const std::string& PlimoClient::partnerID() const { return partner_->partnerID(); }
const std::string& PlimoClient::partnerName() const { return partner_->partnerName(); }
const std::string& PlimoClient::checkNumber() const { return partner_->checkNumber(); }
const PlimoClient::KeyFingerprints& PlimoClient::keyFingerprints() const { return partner_->keyFingerprints(); }
bool PlimoClient::initiator() const { return partner_->initiator(); }
bool PlimoClient::viaRelay() const { return partner_->viaRelay(); }
const Address& PlimoClient::peer() const { return partner_->peer(); }
const std::optional<PlimoClient::Attempt>& PlimoClient::lastAttempt() const { return partner_->lastAttempt(); }

}  // namespace plimo
