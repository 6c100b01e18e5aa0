#include "server/Rendezvous.h"

#include "server/IdRegistry.h"
#include "server/RelayServer.h"
#include "server/TextLine.h"
#include "server/UnattendedGate.h"

namespace plimo {

Rendezvous::Rendezvous(RelayServer& server)
    : server_(server),
      unknownPerAddress_(kUnknownPerAddress, RelayServer::kTrackedAddresses),
      connectsPerAddress_(kConnectsPerAddress, RelayServer::kTrackedAddresses) {}

std::string Rendezvous::peerLine(const ClientSession& about) const {
  // The server knows no display names; "-" says so. The relay capability
  // tells the other side how this one reaches the server.
  return "PEER " + about.endpoint.ipText() + " " + std::to_string(about.endpoint.port) + " " + about.lanIP + " " +
         std::to_string(about.lanPort) + " " + about.peerKeyHex + " " + about.id + " - " +
         (about.endpoint.isTcp() ? "T" : "U");
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
  const ClientSession* current = server_.sessions().find(of(session).partner);
  if (!current || of(*current).partner != session.serial) return false;
  return of(session).usage != 0 || server_.loop().now() - of(session).pairedAt < kPairingHold;
}

void Rendezvous::pair(ClientSession& viewer, ClientSession& host) {
  double now = server_.loop().now();
  of(viewer).partner = host.serial;
  of(viewer).pairedAt = now;
  of(viewer).asked = true;
  of(host).partner = viewer.serial;
  of(host).pairedAt = now;
  of(host).asked = false;
  if (of(viewer).contender == host.serial) of(viewer).contender = 0;
  if (of(host).contender == viewer.serial) of(host).contender = 0;
}

void Rendezvous::unpair(ClientSession& session) {
  SessionTable& table = server_.sessions();
  if (ClientSession* old = table.find(of(session).partner); old && of(*old).partner == session.serial) {
    of(*old).partner = 0;
  }
  of(session).partner = 0;
  ClientSession* waiting = table.find(of(session).contender);
  of(session).contender = 0;
  if (waiting && of(*waiting).partner == session.serial) pair(*waiting, session);
}

void Rendezvous::connect(ClientSession& session, const std::vector<std::string>& words) {
  if (session.id.empty()) {
    server_.say(session, "ERR NOT_READY");
    return;
  }
  double now = server_.loop().now();
  if (now - limits(session).unknownWindowStart >= 60) {
    limits(session).unknownWindowStart = now;
    limits(session).unknownCount = 0;
  }
  if (limits(session).unknownCount >= kUnknownPerMinute) {
    server_.say(session, "ERR RATE_LIMIT");
    return;
  }
  const std::string& target = word(words, 1);
  if (target == session.id) {
    server_.say(session, "ERR SELF");
    return;
  }
  // What CONNECT says of this side is fresher than its last HELLO.
  session.noteLanAndKey(word(words, 2), word(words, 3), word(words, 4));

  uint64_t serial = IdRegistry::isValid(target) ? server_.ids().holder(target) : 0;
  ClientSession* partner = serial ? server_.sessions().find(serial) : nullptr;
  // A PC that lets its helper in at once is there only for trusted helpers;
  // to anyone else it reads exactly as an ID that is not online, so that
  // asking around finds no PC to try harder on.
  std::optional<ServerStore::Helper> trusted;
  if (partner && partner->unattended && !partner->peerKeyHex.empty()) {
    trusted = server_.unattendedGate().admit(session, *partner);
  }
  if (!partner || partner->peerKeyHex.empty() || (partner->unattended && !trusted)) {
    ++limits(session).unknownCount;
    // An address that guesses too much blocks its sessions for their minute.
    if (!unknownPerAddress_.allow(session.endpoint.ip, now)) {
      limits(session).unknownCount = kUnknownPerMinute;
      server_.say(session, "ERR RATE_LIMIT");
      return;
    }
    server_.say(session, "ERR UNKNOWN_ID");
    return;
  }
  if (session.peerKeyHex.empty()) {
    server_.say(session, "ERR BAD_KEY");
    return;
  }
  // Unknown IDs have their own count above; this one is about the target.
  if (!limits(session).connects.take(now, kConnects) || !connectsPerAddress_.allow(session.endpoint.ip, now)) {
    server_.say(session, "ERR RATE_LIMIT");
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
  server_.log(session, "ID " + session.id + " asks for " + target + as);
  server_.say(session, peerLine(*partner));
  server_.say(*partner, peerLine(session));
}

bool Rendezvous::relay(ClientSession& session, ByteView packet) {
  ClientSession* partner = server_.sessions().find(of(session).partner);
  if (!partner || of(*partner).partner != session.serial) return false;
  // Partner traffic may be dropped by a congested TCP connection; the
  // partners' own channel resends what matters.
  server_.sendRaw(*partner, packet, true);
  return true;
}

void Rendezvous::sessionLine(ClientSession& session, const std::vector<std::string>& words) {
  const std::string& what = word(words, 1);
  if (what == "END") {
    if (of(session).usage) closeUsage(of(session).usage);
    unpair(session);
    return;
  }
  if (what != "START" || session.id.empty()) return;
  const std::string& partnerID = word(words, 2);
  const std::string& role = word(words, 3);
  // A fourth word (" 0", sent again after a rebuilt server session) says the
  // same thing; it starts nothing new.
  if (!IdRegistry::isValid(partnerID) || partnerID == session.id || (role != "V" && role != "H")) return;
  bool viewer = role == "V";
  uint64_t serial = server_.ids().holder(partnerID);
  ClientSession* partner = serial ? server_.sessions().find(serial) : nullptr;
  uint64_t number = usageFor(session, viewer, partnerID, partner);
  if (!number) return;
  Usage& usage = usages_.at(number);
  (viewer ? usage.viewerSerial : usage.hostSerial) = session.serial;
  of(session).usage = number;
  if (partner && of(*partner).partner == session.serial && of(*partner).usage == 0) {
    of(*partner).usage = number;
    (viewer ? usage.hostSerial : usage.viewerSerial) = partner->serial;
  }
}

uint64_t Rendezvous::usageFor(ClientSession& session, bool viewer, const std::string& partnerID,
                              ClientSession* partner) {
  const std::string& viewerID = viewer ? session.id : partnerID;
  const std::string& hostID = viewer ? partnerID : session.id;
  auto open = usageByPair_.find(viewerID + " " + hostID);
  bool introduced = partner && of(session).partner == partner->serial && of(*partner).partner == session.serial &&
                    of(session).asked == viewer;
  if (introduced) {
    if (open != usageByPair_.end()) return open->second;
    if (of(session).usage) closeUsage(of(session).usage);
    return openUsage(viewerID, hostID, viewer ? "V" : "H");
  }
  // Not the pair as introduced: only a side whose server session was rebuilt
  // continues its open record, when no other session holds that side.
  if (open == usageByPair_.end()) return 0;
  uint64_t side = viewer ? usages_.at(open->second).viewerSerial : usages_.at(open->second).hostSerial;
  if (side != 0 && side != session.serial && server_.sessions().find(side)) return 0;
  // The pair is made again, so that relayed traffic finds its way; a partner
  // now paired with someone else keeps that pairing.
  if (partner && (of(*partner).partner == 0 || !server_.sessions().find(of(*partner).partner))) {
    unpair(session);
    if (viewer) {
      pair(session, *partner);
    } else {
      pair(*partner, session);
    }
  }
  return open->second;
}

uint64_t Rendezvous::openUsage(const std::string& viewerID, const std::string& hostID, const std::string& role) {
  std::string key = viewerID + " " + hostID;
  Usage usage;
  usage.viewerID = viewerID;
  usage.hostID = hostID;
  usage.started = server_.loop().now();
  usage.startedWall = int64_t(server_.loop().wallNow());
  usage.row = server_.writes().startUsage(viewerID, hostID, role, usage.startedWall);
  uint64_t number = nextUsage_++;
  usages_.emplace(number, std::move(usage));
  usageByPair_.emplace(key, number);
  server_.log("Session " + viewerID + " helps " + hostID);
  return number;
}

bool Rendezvous::sideOnline(uint64_t serial, const std::string& id) const {
  return serial != 0 && server_.sessions().find(serial) && server_.ids().holder(id) == serial;
}

void Rendezvous::closeUsage(uint64_t number) {
  auto it = usages_.find(number);
  if (it == usages_.end()) return;
  Usage& usage = it->second;
  auto seconds = int64_t(server_.loop().now() - usage.started + 0.5);
  for (uint64_t serial : {usage.viewerSerial, usage.hostSerial}) {
    if (auto pairing = pairings_.find(serial); pairing != pairings_.end() && pairing->second.usage == number) {
      pairing->second.usage = 0;
    }
  }
  server_.log("Session " + usage.viewerID + " helps " + usage.hostID + " ended after " + std::to_string(seconds) +
              " s");
  // The helper says what the session was for; its report names the record,
  // and only a record it was asked about. It is asked once the record says
  // so, so that its report never arrives before.
  Ended ended{usage.row, usage.viewerID, usage.hostID, usage.viewerSerial, usage.startedWall, seconds,
              server_.sessions().find(usage.viewerSerial) != nullptr};
  usageByPair_.erase(usage.viewerID + " " + usage.hostID);
  usages_.erase(it);
  server_.writes().submit([ended](ServerStore& store) { return record(store, ended); },
                          [this, ended](const EndResult& result) { recorded(ended, result); });
}

Rendezvous::EndResult Rendezvous::record(ServerStore& store, const Ended& ended) {
  EndResult result;
  if (auto length = store.endUsage(ended.row, ended.seconds); !length) {
    result.lengthError = length.error();
    return result;
  }
  if (!ended.askHelper) return result;
  if (auto asked = store.markAsked(ended.row); !asked) {
    result.askError = asked.error();
  } else {
    result.asked = true;
  }
  return result;
}

void Rendezvous::recorded(const Ended& ended, const EndResult& result) {
  if (!result.lengthError.empty()) {
    server_.log("Cannot record the length of session " + ended.viewerID + " " + ended.hostID + ": " +
                result.lengthError);
  }
  if (!result.askError.empty()) {
    server_.log("Cannot note the report request on session " + std::to_string(ended.row) + ": " + result.askError);
  }
  ClientSession* helper = server_.sessions().find(ended.helperSerial);
  if (!result.asked || !helper) return;
  server_.say(*helper, "REPORTASK " + std::to_string(ended.row) + " " + std::to_string(ended.startedWall) + " " +
                           std::to_string(ended.startedWall + ended.seconds) + " " + std::to_string(ended.seconds) +
                           " " + ended.hostID);
}

void Rendezvous::sessionEnded(ClientSession& session) {
  auto mine = pairings_.find(session.serial);
  if (mine == pairings_.end()) return;
  const Pairing ended = mine->second;
  pairings_.erase(mine);
  SessionTable& table = server_.sessions();
  for (uint64_t serial : {ended.partner, ended.contender}) {
    ClientSession* other = table.find(serial);
    if (!other || of(*other).partner != session.serial) continue;
    server_.say(*other, "PARTNER GONE");
    of(*other).partner = 0;
  }
  if (ended.usage) {
    auto it = usages_.find(ended.usage);
    if (it != usages_.end()) {
      Usage& usage = it->second;
      if (usage.viewerSerial == session.serial) usage.viewerSerial = 0;
      if (usage.hostSerial == session.serial) usage.hostSerial = 0;
      // Kept while the other side is online: this one may come back with a
      // new server session and go on with the same partner session.
      if (!sideOnline(usage.viewerSerial, usage.viewerID) && !sideOnline(usage.hostSerial, usage.hostID)) {
        closeUsage(ended.usage);
      }
    }
  }
}

void Rendezvous::sessionRemoved(uint64_t serial) { limits_.erase(serial); }

}  // namespace plimo
