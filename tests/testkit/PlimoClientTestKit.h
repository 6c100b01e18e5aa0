#pragma once
// What tests read inside a PlimoClient beyond its read-only view (the server
// and partner sessions' own state and their parts'), and the two things they
// set by hand. The product reaches the link through PlimoClient.h alone.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/link/PartnerSession.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/link/ServerSession.h"

namespace plimo::testkit {

class PlimoClientTestKit {
 public:
  explicit PlimoClientTestKit(PlimoClient& client) : client_(client) {}

  // The server session.
  const std::shared_ptr<SecureChannel>& serverChannel() const { return server().relay_; }
  const std::string& relayIP() const { return server().address().ip(); }
  uint16_t udpPort() const { return server().localPort(); }
  bool onTcp() const { return server().transport_.onTcp(); }
  const std::vector<uint16_t>& tcpPorts() const { return server().transport_.tcpPorts_; }
  uint16_t tcpPort() const { return server().transport_.tcpPort_; }
  size_t tcpIndex() const { return server().transport_.tcpIndex_; }
  const std::string& testToken() const { return server().test_.token_; }
  const std::optional<double>& idExpires() const { return server().registration_.idExpires_; }
  const std::string& pinID() const { return server().registration_.pinID_; }
  const std::string& pinSecret() const { return server().registration_.pinSecret_; }
  // As if Plimo.ini had held `key`.
  void pinServerKey(ByteView key) { server().handshake_.key_ = Bytes(key.begin(), key.end()); }

  // The partner session.
  const EcdhKey& peerKey() const { return partner().offeredKey(); }
  bool hasPeerChannel() const { return bool(partner().peerChannel_); }
  const std::vector<Address>& candidates() const { return partner().holePunch_.candidates_; }
  char partnerRelay() const { return partner().holePunch_.partnerRelay_; }
  bool relayPunch() const { return partner().holePunch_.relayPunch_; }
  int punchTries() const { return partner().holePunch_.tries_; }
  int punchOpened() const { return partner().holePunch_.opened_; }
  double lastPeerRx() const { return partner().lastPeerRx_; }
  // A session locked to `peer` over `channel`, without any rendezvous.
  void lockTo(std::shared_ptr<SecureChannel> channel, const Address& peer) {
    partner().peerChannel_ = std::move(channel);
    partner().phase_ = PlimoClient::PartnerSession::Phase::connected;
    partner().peer_ = peer;
  }

 private:
  PlimoClient::ServerSession& server() const { return *client_.server_; }
  PlimoClient::PartnerSession& partner() const { return *client_.partner_; }

  PlimoClient& client_;
};

}  // namespace plimo::testkit
