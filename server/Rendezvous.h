#pragma once
// Partner rendezvous on the server: CONNECT introduces two clients to each
// other (PEER to both), 0x14 packets pass between the two of a pair without
// being opened, PARTNER GONE tells one side that the other's server session
// ended, and SESSION START / END become usage records in the database.
//
// Only a pair the server introduced starts a record, each side in the role
// it has (the side that sent CONNECT is the helper, "V"); what a client
// claims beyond that (another ID, the other role, a length) is not taken.
// A usage record belongs to the pair of IDs, not to server sessions: a
// client whose server session is rebuilt during a partner session says
// SESSION START again (with a trailing " 0"), and that continues the open
// record when the client holds that side's ID and no other session does. A
// record ends with SESSION END from either side, or when neither side has a
// server session any more; its length is the server's own measure
// (UsageRecords keeps the open ones).
//
// A PC held online by another server of the fleet is asked for through
// FleetIntroductions, after this server has spent the helper's budgets; its
// PEER line comes back through fleetAnswer. The record of such a session is
// the helper's server's alone: it made the introduction, it hears the
// helper's SESSION START and END, and the helper's end of the session is the
// one a record is billed to; the PC's server writes nothing for it. Each
// side of such a pair relays through its own server, and the two servers
// pass the packets on through FleetRelay; PARTNER GONE crosses the same way,
// and a server of the fleet that is gone ends its partners' pairings here.
// The PC's first packets may come before its server's answer: they wait in
// EarlyFleetPackets for the helper's PEER line.
//
// One thread (the server loop). Owned by the RelayServer.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "server/EarlyFleetPackets.h"
#include "server/HandlerContext.h"
#include "server/RateLimiter.h"
#include "server/UsageRecords.h"

namespace plimo {

class FleetIntroductions;
class FleetRelay;
struct FleetPacket;
class UnattendedGate;

class Rendezvous {
 public:
  // Unknown IDs one client may ask for in a minute: enough for typing
  // mistakes, far too few to find online IDs by guessing.
  static constexpr int kUnknownPerMinute = 10;
  // And per source address, so that new sessions do not reset the count:
  // one a second on average, sixty at once (many helpers behind one NAT).
  static constexpr Rate kUnknownPerAddress{1.0, 60};
  // CONNECTs of one client: a helper asks once per attempt, an attempt lasts
  // ten seconds of punching, and a few quick retries are normal.
  static constexpr Rate kConnects{0.1, 5};
  // And per source address: every introduction may become a usage record
  // (two database writes), so this bounds one address's billing writes
  // without ever refusing the record of a session that took place.
  static constexpr Rate kConnectsPerAddress{1.0, 60};
  // A pairing is kept against other helpers this long without a session
  // (ten seconds of punching and a little more).
  static constexpr double kPairingHold = 12.0;

  Rendezvous(HandlerContext& server, UnattendedGate& gate, FleetIntroductions& fleet, FleetRelay& relay);

  void connect(const ClientSession& session, const std::vector<std::string>& words);
  // What `server` answered about `pcID`, asked for by the session `serial`.
  void fleetAnswer(uint64_t serial, const std::string& pcID, const std::string& server,
                   const std::optional<std::string>& peerLine);
  // The PC of the session `serial` was introduced to `helperID` on `server`.
  void fleetIntroduced(uint64_t serial, const std::string& helperID, const std::string& server);
  // A packet relayed by `server`, or its word that a partner there is gone;
  // false when it is for no pair of this server with that partner.
  bool fromFleet(const std::string& server, const FleetPacket& packet);
  // The servers of the fleet for which `gone` holds are gone: the partners
  // of their clients hear it.
  void fleetServersGone(const std::function<bool(const std::string& server)>& gone);
  // This server stops: the partners of its clients on other servers hear it
  // now rather than at their next heartbeat.
  void leaveFleet();
  // "SESSION START id V|H [0]" and "SESSION END".
  void sessionLine(const ClientSession& session, const std::vector<std::string>& words);
  // Passes a 0x14 packet from `session` on to its partner; false when it
  // has none to go to.
  bool relay(const ClientSession& session, ByteView packet);
  // What the session stood for ends (its pairing, its part in a record):
  // the session ends, or another client speaks from its endpoint now.
  void sessionEnded(const ClientSession& session);
  // The session itself is gone: its budgets go too (they outlive a client
  // forgotten at its endpoint, so that new keys do not refill them).
  void sessionRemoved(uint64_t serial);

  size_t openUsages() const { return records_.count(); }

 private:
  // One server session's place in a pair.
  struct Pairing {
    // The partner this client was introduced to (its serial), and when. The
    // pair carries relayed packets only while both point at each other.
    uint64_t partner = 0;
    double pairedAt = 0;
    // This side sent the CONNECT of its pairing: it is the helper (viewer).
    bool asked = false;
    // Another client that asked for this one while it was busy; it becomes
    // the partner when the current session ends (a helped PC may hand over
    // to a new helper once the old one falls silent).
    uint64_t contender = 0;
    // The usage record this client's current partner session belongs to.
    uint64_t usage = 0;
    // The ID of a partner on the server `remoteServer` of the fleet this
    // client was introduced to (with `partner` 0): a helper's PC, a PC's helper.
    std::string remote;
    std::string remoteServer;
  };
  // One server session's budgets.
  struct Limits {
    // Unknown IDs asked for in the current minute, against ID guessing.
    double unknownWindowStart = 0;
    int unknownCount = 0;
    // CONNECT requests: each one reveals the target's addresses and makes it punch.
    TokenBucket connects;
  };
  // Made on first use; only for sessions in the table.
  Pairing& of(const ClientSession& session);
  const Pairing& of(const ClientSession& session) const;
  Limits& limits(const ClientSession& session);

  std::string peerLine(const ClientSession& about) const;
  // CONNECT for an ID not online for this helper.
  void unknown(const ClientSession& session);
  bool busy(const ClientSession& session, uint64_t asker) const;
  // Ends the pairing of `session` (its contender, if still waiting, takes the place).
  void unpair(const ClientSession& session);
  // Ends a pairing with a partner on another server, and tells that server.
  void leaveRemote(const ClientSession& session);
  void remotePartner(const ClientSession& session, const std::string& id, const std::string& server);
  void pair(const ClientSession& viewer, const ClientSession& host);
  // The open record `session` may start or continue as that side of the
  // pair with `partner` (held by `partnerSession`, if online); 0 when none.
  uint64_t usageFor(const ClientSession& session, bool viewer, const std::string& partnerID,
                    const ClientSession* partnerSession);
  void closeUsage(uint64_t number);

  HandlerContext& server_;
  UnattendedGate& gate_;
  FleetIntroductions& fleet_;
  FleetRelay& relay_;
  RateLimiter unknownPerAddress_;
  RateLimiter connectsPerAddress_;
  UsageRecords records_;
  EarlyFleetPackets early_;
  std::unordered_map<uint64_t, Pairing> pairings_;  // by session serial
  std::unordered_map<uint64_t, Limits> limits_;     // by session serial
};

}  // namespace plimo
