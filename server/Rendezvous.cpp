#include "server/Rendezvous.h"

#include "server/FleetIntroductions.h"
#include "server/FleetRelay.h"
#include "server/IdRegistry.h"
#include "server/Registrant.h"
#include "server/TextLine.h"
#include "server/UnattendedGate.h"

namespace plimo {

Rendezvous::Rendezvous(HandlerContext& server, UnattendedGate& gate, FleetIntroductions& fleet, FleetRelay& relay)
    : server_(server),
      gate_(gate),
      fleet_(fleet),
      relay_(relay),
      unknownPerAddress_(kUnknownPerAddress, RateLimiter::kTrackedAddresses),
      connectsPerAddress_(kConnectsPerAddress, RateLimiter::kTrackedAddresses),
      records_(server) {}

std::string Rendezvous::peerLine(const ClientSession& about) const {
  return PeerAbout::of(about, server_.registrant(about)).peerLine();
}

Rendezvous::Pairing& Rendezvous::of(const ClientSession& session) { return pairings_[session.serial]; }

const Rendezvous::Pairing& Rendezvous::of(const ClientSession& session) const {
  static const Pairing kNone;
  auto it = pairings_.find(session.serial);
  return it == pairings_.end() ? kNone : it->second;
}

Rendezvous::Limits& Rendezvous::limits(const ClientSession& session) { return limits_[session.serial]; }

bool Rendezvous::busy(const ClientSession& session, uint64_t asker) const {
  if (of(session).partner == 0 || of(session).partner == asker) return false;
  const ClientSession* current = server_.session(of(session).partner);
  if (!current || of(*current).partner != session.serial) return false;
  return of(session).usage != 0 || server_.now() - of(session).pairedAt < kPairingHold;
}

void Rendezvous::pair(const ClientSession& viewer, const ClientSession& host) {
  double now = server_.now();
  of(viewer).partner = host.serial;
  of(viewer).pairedAt = now;
  of(viewer).asked = true;
  leaveRemote(viewer);
  leaveRemote(host);
  of(host).partner = viewer.serial;
  of(host).pairedAt = now;
  of(host).asked = false;
  if (of(viewer).contender == host.serial) of(viewer).contender = 0;
  if (of(host).contender == viewer.serial) of(host).contender = 0;
}

void Rendezvous::unpair(const ClientSession& session) {
  if (const ClientSession* old = server_.session(of(session).partner); old && of(*old).partner == session.serial) {
    of(*old).partner = 0;
  }
  of(session).partner = 0;
  leaveRemote(session);
  const ClientSession* waiting = server_.session(of(session).contender);
  of(session).contender = 0;
  if (waiting && of(*waiting).partner == session.serial) pair(*waiting, session);
}

void Rendezvous::leaveRemote(const ClientSession& session) {
  if (of(session).remote.empty()) return;
  FleetPacket gone;
  gone.kind = FleetPacket::Kind::gone;
  gone.toID = of(session).remote;
  gone.fromID = server_.registrant(session).id;
  relay_.send(of(session).remoteServer, gone);
  of(session).remote.clear();
  of(session).remoteServer.clear();
}

void Rendezvous::remotePartner(const ClientSession& session, const std::string& id, const std::string& server) {
  if (of(session).partner || of(session).remote != id || of(session).remoteServer != server) unpair(session);
  of(session).remote = id;
  of(session).remoteServer = server;
  of(session).pairedAt = server_.now();
  relay_.know(server);
}

void Rendezvous::connect(const ClientSession& session, const std::vector<std::string>& words) {
  const Registrant& asker = server_.registrant(session);
  if (asker.id.empty()) {
    server_.say(session, "ERR NOT_READY");
    return;
  }
  double now = server_.now();
  if (now - limits(session).unknownWindowStart >= 60) {
    limits(session).unknownWindowStart = now;
    limits(session).unknownCount = 0;
  }
  if (limits(session).unknownCount >= kUnknownPerMinute) {
    server_.say(session, "ERR RATE_LIMIT");
    return;
  }
  const std::string& target = word(words, 1);
  if (target == asker.id) {
    server_.say(session, "ERR SELF");
    return;
  }
  // What CONNECT says of this side is fresher than its last HELLO.
  server_.noteLanAndKey(session, word(words, 2), word(words, 3), word(words, 4));

  uint64_t serial = IdRegistry::isValid(target) ? server_.holderOf(target) : 0;
  const ClientSession* partner = serial ? server_.session(serial) : nullptr;
  const Registrant* wanted = partner ? &server_.registrant(*partner) : nullptr;
  // A PC that lets its helper in at once is there only for trusted helpers;
  // to anyone else it reads exactly as an ID that is not online, so that
  // asking around finds no PC to try harder on.
  std::optional<ServerStore::Helper> trusted;
  if (partner && wanted->unattended && !wanted->peerKeyHex.empty()) trusted = gate_.admit(session, *partner);
  std::optional<std::string> elsewhere =
      partner || !IdRegistry::isValid(target) ? std::nullopt : fleet_.holderElsewhere(target);
  if (!elsewhere && (!partner || wanted->peerKeyHex.empty() || (wanted->unattended && !trusted))) {
    unknown(session);
    return;
  }
  if (asker.peerKeyHex.empty()) {
    server_.say(session, "ERR BAD_KEY");
    return;
  }
  // Unknown IDs have their own count above; this one is about the target.
  if (!limits(session).connects.take(now, kConnects) || !connectsPerAddress_.allow(session.endpoint.ip, now)) {
    server_.say(session, "ERR RATE_LIMIT");
    return;
  }
  if (elsewhere) {
    // The budgets are spent before the answer: each ask costs the store a
    // notification each way. A pairing with the same PC lasts until then.
    if (of(session).partner || of(session).remote != target) unpair(session);
    if (!fleet_.ask(session, target, *elsewhere)) server_.say(session, "ERR BUSY");
    return;
  }

  // The asker leaves any earlier pairing of its own.
  if (of(session).partner != partner->serial) unpair(session);
  if (busy(*partner, session.serial)) {
    // The helped PC is in a session; it takes the new helper only once the
    // current one has gone quiet (it then ends that session itself).
    of(session).partner = partner->serial;
    of(session).pairedAt = now;
    of(session).asked = true;
    of(*partner).contender = session.serial;
  } else {
    if (of(*partner).partner != session.serial) unpair(*partner);
    pair(session, *partner);
  }
  std::string as;
  if (trusted) {
    as = ", which has unattended access, as trusted helper" + (trusted->name.empty() ? "" : " " + trusted->name);
  }
  server_.log(session, "ID " + asker.id + " asks for " + target + as);
  server_.say(session, peerLine(*partner));
  server_.say(*partner, peerLine(session));
}

void Rendezvous::unknown(const ClientSession& session) {
  ++limits(session).unknownCount;
  // An address that guesses too much blocks its sessions for their minute.
  if (!unknownPerAddress_.allow(session.endpoint.ip, server_.now())) {
    limits(session).unknownCount = kUnknownPerMinute;
    server_.say(session, "ERR RATE_LIMIT");
    return;
  }
  server_.say(session, "ERR UNKNOWN_ID");
}

void Rendezvous::fleetAnswer(uint64_t serial, const std::string& pcID, const std::string& server,
                             const std::optional<std::string>& peerLine) {
  const ClientSession* session = server_.session(serial);
  if (!session) return;
  std::vector<Bytes> early = early_.take(serial, server, pcID, server_.now());
  if (!peerLine) {
    // An earlier pairing with that PC is over there too.
    if (of(*session).remote == pcID) {
      of(*session).remote.clear();
      of(*session).remoteServer.clear();
    }
    unknown(*session);
    return;
  }
  remotePartner(*session, pcID, server);
  of(*session).asked = true;
  server_.log(*session, "ID " + server_.registrant(*session).id + " asks for " + pcID + " on another server");
  server_.say(*session, *peerLine);
  for (const Bytes& packet : early) server_.pass(*session, packet);
}

void Rendezvous::fleetIntroduced(uint64_t serial, const std::string& helperID, const std::string& server) {
  const ClientSession* pc = server_.session(serial);
  // A PC in a session here keeps relaying with its helper; the one from
  // the other server relays once it asks again after that.
  if (!pc || busy(*pc, 0)) return;
  remotePartner(*pc, helperID, server);
  of(*pc).asked = false;
}

bool Rendezvous::relay(const ClientSession& session, ByteView packet) {
  const ClientSession* partner = server_.session(of(session).partner);
  if (partner && of(*partner).partner == session.serial) {
    // Partner traffic may be dropped by a congested TCP connection; the
    // partners' own channel resends what matters.
    server_.pass(*partner, packet);
    return true;
  }
  if (of(session).remote.empty()) return false;
  FleetPacket relayed;
  relayed.kind = FleetPacket::Kind::relayed;
  relayed.toID = of(session).remote;
  relayed.fromID = server_.registrant(session).id;
  relayed.packet = packet;
  return relay_.send(of(session).remoteServer, relayed);
}

bool Rendezvous::fromFleet(const std::string& server, const FleetPacket& packet) {
  uint64_t serial = server_.holderOf(packet.toID);
  const ClientSession* to = serial ? server_.session(serial) : nullptr;
  auto pairing = to ? pairings_.find(serial) : pairings_.end();
  if (pairing == pairings_.end() || pairing->second.remote != packet.fromID ||
      pairing->second.remoteServer != server) {
    return to && packet.kind == FleetPacket::Kind::relayed && fleet_.awaiting(serial, packet.fromID, server) &&
           early_.hold(serial, server, packet.fromID, packet.packet, server_.now());
  }
  if (packet.kind == FleetPacket::Kind::relayed) {
    server_.pass(*to, packet.packet);
    return true;
  }
  pairing->second.remote.clear();
  pairing->second.remoteServer.clear();
  server_.say(*to, "PARTNER GONE");
  return true;
}

void Rendezvous::fleetServersGone(const std::function<bool(const std::string& server)>& gone) {
  for (auto& [serial, pairing] : pairings_) {
    if (pairing.remoteServer.empty() || !gone(pairing.remoteServer)) continue;
    pairing.remote.clear();
    pairing.remoteServer.clear();
    if (const ClientSession* session = server_.session(serial)) server_.say(*session, "PARTNER GONE");
  }
}

void Rendezvous::leaveFleet() {
  for (auto& [serial, pairing] : pairings_) {
    if (const ClientSession* session = server_.session(serial)) leaveRemote(*session);
  }
}

void Rendezvous::sessionLine(const ClientSession& session, const std::vector<std::string>& words) {
  const std::string& ownID = server_.registrant(session).id;
  const std::string& what = word(words, 1);
  if (what == "END") {
    if (of(session).usage) closeUsage(of(session).usage);
    unpair(session);
    return;
  }
  if (what != "START" || ownID.empty()) return;
  const std::string& partnerID = word(words, 2);
  const std::string& role = word(words, 3);
  // A fourth word (" 0", sent again after a rebuilt server session) says the
  // same thing; it starts nothing new.
  if (!IdRegistry::isValid(partnerID) || partnerID == ownID || (role != "V" && role != "H")) return;
  bool viewer = role == "V";
  uint64_t serial = server_.holderOf(partnerID);
  const ClientSession* partner = serial ? server_.session(serial) : nullptr;
  uint64_t number = usageFor(session, viewer, partnerID, partner);
  if (!number) return;
  UsageRecords::Usage& usage = *records_.at(number);
  (viewer ? usage.viewerSerial : usage.hostSerial) = session.serial;
  of(session).usage = number;
  if (partner && of(*partner).partner == session.serial && of(*partner).usage == 0) {
    of(*partner).usage = number;
    (viewer ? usage.hostSerial : usage.viewerSerial) = partner->serial;
  }
}

uint64_t Rendezvous::usageFor(const ClientSession& session, bool viewer, const std::string& partnerID,
                              const ClientSession* partner) {
  const std::string& ownID = server_.registrant(session).id;
  const std::string& viewerID = viewer ? ownID : partnerID;
  const std::string& hostID = viewer ? partnerID : ownID;
  uint64_t open = records_.find(viewerID, hostID);
  bool introduced = (partner && of(session).partner == partner->serial && of(*partner).partner == session.serial &&
                     of(session).asked == viewer) ||
                    (viewer && of(session).asked && of(session).remote == partnerID);
  if (introduced) {
    if (open) return open;
    if (of(session).usage) closeUsage(of(session).usage);
    return records_.open(viewerID, hostID, viewer ? "V" : "H");
  }
  // Not the pair as introduced: only a side whose server session was rebuilt
  // continues its open record, when no other session holds that side.
  if (!open) return 0;
  uint64_t side = viewer ? records_.at(open)->viewerSerial : records_.at(open)->hostSerial;
  if (side != 0 && side != session.serial && server_.session(side)) return 0;
  // The pair is made again, so that relayed traffic finds its way; a partner
  // now paired with someone else keeps that pairing.
  if (partner && (of(*partner).partner == 0 || !server_.session(of(*partner).partner))) {
    unpair(session);
    if (viewer) {
      pair(session, *partner);
    } else {
      pair(*partner, session);
    }
  }
  return open;
}

void Rendezvous::closeUsage(uint64_t number) {
  const UsageRecords::Usage* usage = records_.at(number);
  if (!usage) return;
  for (uint64_t serial : {usage->viewerSerial, usage->hostSerial}) {
    if (auto pairing = pairings_.find(serial); pairing != pairings_.end() && pairing->second.usage == number) {
      pairing->second.usage = 0;
    }
  }
  records_.close(number);
}

void Rendezvous::sessionEnded(const ClientSession& session) {
  auto mine = pairings_.find(session.serial);
  if (mine == pairings_.end()) return;
  leaveRemote(session);
  const Pairing ended = mine->second;
  pairings_.erase(mine);
  for (uint64_t serial : {ended.partner, ended.contender}) {
    const ClientSession* other = server_.session(serial);
    if (!other || of(*other).partner != session.serial) continue;
    server_.say(*other, "PARTNER GONE");
    of(*other).partner = 0;
  }
  // Kept while the other side is online: this one may come back with a new
  // server session and go on with the same partner session.
  if (ended.usage && records_.sideGone(ended.usage, session.serial)) closeUsage(ended.usage);
}

void Rendezvous::sessionRemoved(uint64_t serial) { limits_.erase(serial); }

}  // namespace plimo
