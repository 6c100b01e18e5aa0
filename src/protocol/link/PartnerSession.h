#pragma once
// The partner half of the link, inside PlimoClient (threads and lifetime as
// there): asking the server for a partner, its PEER introduction, hole
// punching (its HolePunch), locking to the path that answered first, the
// partner channel (its PartnerKeys), control lines and session data, and the
// end of a session. It reaches the server only through the ServerSession.
//
// Files: PartnerSessionRendezvous.cpp (from the request to the locked path),
// PartnerSessionPeer.cpp (partner packets and the locked session).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/link/HolePunch.h"
#include "protocol/link/PartnerKeys.h"
#include "protocol/link/PlimoClient.h"
#include "protocol/wire/SecureChannel.h"

namespace plimo {

class PlimoClient::PartnerSession {
 public:
  enum class Phase { idle, punching, connected };

  explicit PartnerSession(PlimoClient& link);
  ~PartnerSession();
  PartnerSession(const PartnerSession&) = delete;
  PartnerSession& operator=(const PartnerSession&) = delete;

  // The owner's operations (PlimoClient.h says what each does).
  void connect(const std::string& id);
  void disconnect();
  void sendData(ByteView data);
  void sendPeer(const std::string& text, const Address& to);

  // From the server session: the PEER introduction, PARTNER GONE, and a
  // refusal that ends the attempt being set up (said to the user as `text`).
  void handlePeer(const std::vector<std::string>& words);
  void handlePartnerGone();
  void failAttempt(const std::string& text);

  // From the link: a sealed partner packet, direct (from its sender) or
  // passed on by the server (an empty `from`); the tick's silence check; the
  // timers stop with the link.
  void handlePacket(ByteView sealed, const Address& from);
  void checkSilence();
  void stopTimers();

  Phase phase() const { return phase_; }
  // Offered to the next partner (in HELLO and CONNECT); new after every session.
  const EcdhKey& offeredKey() const { return keys_.offered(); }
  const std::string& partnerID() const { return partnerID_; }
  const std::string& partnerName() const { return partnerName_; }
  const std::string& checkNumber() const { return checkNumber_; }
  const KeyFingerprints& keyFingerprints() const { return fingerprints_; }
  bool initiator() const { return initiator_; }
  bool viaRelay() const { return viaRelay_; }
  const Address& peer() const { return peer_; }
  const std::optional<Attempt>& lastAttempt() const { return holePunch_.lastAttempt(); }

 private:
  friend class testkit::PlimoClientTestKit;

  // Tuning, in seconds unless said otherwise.
  static constexpr double peerTimeout = 35.0;  // partner silence that ends a session
  // Keep-alive on a locked link: well inside the 35 s timeout and short
  // enough to hold a NAT mapping open.
  static constexpr double pingInterval = 5.0;
  // Partner silence after which a new partner's PEER replaces the current one.
  static constexpr double peerTakeover = 12.0;
  // Partner silence needed before the server's PARTNER GONE ends a session:
  // a direct link can outlive the partner's server session.
  static constexpr double partnerGoneQuiet = 5.0;

  // Rendezvous (PartnerSessionRendezvous.cpp).
  void takeOver();
  void lockPeer(const Address& address);

  // The locked session (PartnerSessionPeer.cpp).
  void handleControl(const std::string& line, const Address& from);
  void sendPeerPacket(ByteView sealed, const Address& to);
  void endSession(bool notifyPeer);
  void hangUp(bool notifyPeer, const std::string& reason);

  PlimoClient& link_;
  EventLoop& loop_;
  ServerSession& server_;

  Phase phase_ = Phase::idle;
  bool initiator_ = false;
  PartnerKeys keys_;
  // The ID this side asked the server for; a PEER naming another is not the
  // answer (a late answer to an earlier request, or a server that lies).
  std::string askedID_;
  std::shared_ptr<SecureChannel> peerChannel_;  // end to end, present during a session
  std::string partnerID_;
  std::string partnerName_;
  std::string checkNumber_;  // empty without a partner
  KeyFingerprints fingerprints_;  // as checkNumber_
  HolePunch holePunch_;
  Address peer_;
  bool viaRelay_ = false;
  double lastPeerRx_;  // the last authenticated partner packet
  Timer pingTimer_;
};

}  // namespace plimo
