#include "server/RelayServer.h"

#include <algorithm>

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/wire/ServerPackets.h"
#include "server/FleetIntroductions.h"
#include "server/FleetRelay.h"
#include "server/HandshakeWorker.h"
#include "server/Registration.h"
#include "server/Rendezvous.h"
#include "server/Reports.h"
#include "server/StunAnswer.h"
#include "server/TextLine.h"
#include "server/UnattendedGate.h"

namespace plimo {

RelayServer::RelayServer(EventLoop& loop, ServerStore& store, SigningKey key, PacketSink& sink,
                         RelayConfig config, Log log, ServerStore* loopReads)
    : loop_(loop),
      reads_(loopReads ? *loopReads : store),
      key_(std::move(key)),
      sink_(sink),
      config_(std::move(config)),
      log_(std::move(log), loop.now()),
      table_(config_.maxSessions, config_.unconfirmedCapacity()),
      admission_(config_),
      stunAnswers_(kStunAnswersPerAddress, RateLimiter::kTrackedAddresses),
      unattendedGate_(std::make_unique<UnattendedGate>(context())),
      registration_(std::make_unique<Registration>(context(), *unattendedGate_, config_.udpPort, config_.tcpPorts,
                                                   config_.serverName)),
      fleet_(std::make_unique<FleetIntroductions>(
          context(), *unattendedGate_, config_.serverName,
          [this](uint64_t serial, const std::string& pcID, const std::string& server,
                 const std::optional<std::string>& peerLine) {
            rendezvous_->fleetAnswer(serial, pcID, server, peerLine);
          },
          [this](uint64_t serial, const std::string& helperID, const std::string& server) {
            rendezvous_->fleetIntroduced(serial, helperID, server);
          })),
      fleetRelay_(std::make_unique<FleetRelay>(
          context(), key_, config_.serverName,
          [this](const std::string& server, const FleetPacket& packet) {
            return rendezvous_->fromFleet(server, packet);
          })),
      rendezvous_(std::make_unique<Rendezvous>(context(), *unattendedGate_, *fleet_, *fleetRelay_)),
      reports_(std::make_unique<Reports>(context())) {
  sweepTimer_ = loop_.every(1.0, [this] { sweep(); });
  storeWorker_ =
      std::make_unique<StoreWorker>(loop_, store, config_.storeWork, [this](const std::string& t) { log_.line(t); });
  handshakeWorker_ = std::make_unique<HandshakeWorker>(
      loop_, key_, config_.handshakeThread, [this](const HandshakeResult& result) { welcome(result); });
  if (config_.serverName.empty()) return;
  // What an earlier run of this server left in the directory is stale: its
  // clients register again.
  storeWorker_->submit([name = config_.serverName](ServerStore& db) { return db.clearPresence(name); },
                       [this](const Result<void>& cleared) {
                         if (!cleared) log_.line("Cannot clear this server's directory entries: " + cleared.error());
                       });
  heartbeat();
  heartbeatTimer_ = loop_.every(config_.heartbeat, [this] { heartbeat(); });
}

void RelayServer::heartbeat() {
  std::vector<std::string> lost = fleetRelay_->refresh();
  rendezvous_->fleetServersGone([&](const std::string& server) {
    return !fleetRelay_->live(server) || std::find(lost.begin(), lost.end(), server) != lost.end();
  });
  storeWorker_->submit(
      [name = config_.serverName, when = int64_t(loop_.wallNow()), clients = int64_t(ids().onlineCount()),
       sessions = int64_t(rendezvous_->openUsages())](ServerStore& store) {
        return store.heartbeat(name, when, clients, sessions);
      },
      [this](const Result<void>& beat) {
        // Once per failing stretch: the directory counts this server gone meanwhile.
        if (!beat && !heartbeatFailing_) log_.line("Cannot write this server's heartbeat: " + beat.error());
        heartbeatFailing_ = !beat;
      });
}

RelayServer::~RelayServer() {
  // A server that stops gives its IDs up at once, not after kStaleAfter.
  if (!config_.serverName.empty()) {
    storeWorker_->submit(
        [name = config_.serverName](ServerStore& store) {
          Result<void> cleared = store.clearPresence(name);
          return cleared ? store.heartbeat(name, 0, 0, 0) : cleared;
        },
        [](const Result<void>&) {});
  }
  // First: no result may reach a half-destroyed server. The store's queue
  // is written out before the store goes.
  handshakeWorker_.reset();
  storeWorker_.reset();
}

void RelayServer::stop() {
  if (fleetRelay_->opened()) rendezvous_->leaveFleet();
}

void RelayServer::joinFleet(FleetMail& mail) {
  if (!config_.serverName.empty()) fleet_->join(mail);
}

void RelayServer::fleetLine(std::string_view text) { fleet_->received(text); }

void RelayServer::relayThroughFleet(PacketSink& sink, const std::string& address) {
  if (config_.serverName.empty()) return;
  fleetRelay_->open(sink, address);
  storeWorker_->submit(
      [name = config_.serverName, address, key = fleetRelay_->announcedKey()](ServerStore& store) {
        return store.announce(name, address, key);
      },
      [this](const Result<void>& announced) {
        if (!announced) log_.line("Cannot announce this server's relay address: " + announced.error());
      });
}

void RelayServer::fleetPacket(const Endpoint& from, ByteView packet) { fleetRelay_->received(from, packet); }

const IdRegistry& RelayServer::ids() const { return registration_->ids(); }

size_t RelayServer::queuedWrites() const { return storeWorker_->queued(); }

const Registrant& RelayServer::registrant(const ClientSession& session) const { return registration_->of(session); }

void RelayServer::noteLanAndKey(const ClientSession& session, const std::string& ip, const std::string& port,
                                const std::string& keyHex) {
  registration_->noteLanAndKey(session, ip, port, keyHex);
}

uint64_t RelayServer::holderOf(const std::string& id) const { return registration_->ids().holder(id); }

void RelayServer::receive(const Endpoint& from, ByteView packet) {
  bool stranger = from.isTcp() && !table_.find(from);
  route(from, packet);
  // A connection exists for a client's session; one whose packet made none
  // would hold a descriptor and a slot for nothing (a garbage frame, then a
  // byte now and then).
  if (stranger && !table_.find(from)) sink_.close(from);
}

void RelayServer::route(const Endpoint& from, ByteView packet) {
  if (packet.empty()) {
    ++stats_.dropped;
    return;
  }
  switch (packet[0]) {
    case ServerPacket::kHandshake:
      handshake(from, packet);
      return;
    case ServerPacket::kSealed:
      sealed(from, packet);
      return;
    case ServerPacket::kRelayed: {
      ClientSession* session = table_.find(from);
      bool passed = session && session->confirmed && packet.size() >= 2 && rendezvous_->relay(*session, packet);
      ++(passed ? stats_.relayed : stats_.dropped);
      return;
    }
    default:
      if (auto answer = stunAnswer(from, packet)) {
        if (!stunAnswers_.allow(from.ip, loop_.now())) {
          ++stats_.rateLimited;
          return;
        }
        return sink_.send(from, *answer, false);
      }
      ++stats_.dropped;
  }
}

void RelayServer::connectionClosed(const Endpoint& from) {
  if (ClientSession* session = table_.find(from)) endSession(*session, "connection closed", false);
}

void RelayServer::handshake(const Endpoint& from, ByteView packet) {
  if (packet.size() != ServerPacket::kHandshakeSize || packet[1] != ServerPacket::kVersion) {
    ++stats_.dropped;
    return;
  }
  double now = loop_.now();
  ClientSession* session = table_.find(from);
  auto verdict = admission_.admit(from, session, table_.countAt(from.ip), now);
  if (verdict != HandshakeAdmission::Verdict::admitted) {
    ++(verdict == HandshakeAdmission::Verdict::rateLimited ? stats_.rateLimited : stats_.overBudget);
    return;
  }
  bool preferred = HandshakeAdmission::preferred(from, session);
  // The session is made now, so that what follows (a TCP stranger's
  // connection, the per-address count) sees it while the keys are made.
  bool made = !session;
  if (made) {
    makeRoom(false);
    session = &table_.add(from, now);
  }
  uint64_t serial = session->serial;
  if (!handshakeWorker_->submit(from, packet, preferred)) {
    ++stats_.overBudget;
    if (made) table_.remove(serial);
  }
}

void RelayServer::welcome(const HandshakeResult& result) {
  admission_.spent(result.seconds);
  ClientSession* session = table_.find(result.from);
  if (!session) return;  // gone while its keys were made: the client tries again
  if (!result.valid) {
    ++stats_.dropped;  // not a point on the curve
    // A session made for this handshake alone holds nothing.
    if (!session->channel && !session->pending) endSession(*session, "bad handshake");
    return;
  }
  // A client re-handshaking keeps its session (ID, partner) and swaps keys
  // once a packet proves it holds the new ones.
  session->pending = SecureChannel::serverToClient(result.keys);
  if (!session->confirmed) table_.touch(*session, loop_.now());
  ++stats_.welcomes;
  sink_.send(result.from, result.welcome, false);
}

void RelayServer::sealed(const Endpoint& from, ByteView packet) {
  ClientSession* session = table_.find(from);
  if (!session) {
    // The client believes in a session this server does not have (a restart,
    // an eviction): ask it for a new handshake. One byte back for at least 26
    // in, so a forged source gains nothing.
    ++stats_.resets;
    const uint8_t reset = ServerPacket::kReset;
    sink_.send(from, ByteView(&reset, 1), false);
    return;
  }
  std::optional<Bytes> plain;
  if (session->channel) plain = session->channel->open(packet);
  if (!plain && session->pending) {
    plain = session->pending->open(packet);
    if (plain) {
      if (session->channel) registration_->rekeyed(*session);
      session->channel = std::move(session->pending);
    }
  }
  if (!plain) {
    ++stats_.dropped;
    return;
  }
  if (!session->confirmed) {
    makeRoom(true);
    table_.confirm(*session);
  }
  table_.touch(*session, loop_.now());
  dispatch(*session, trimmed(*plain));
}

void RelayServer::written(uint64_t serial, bool queued) {
  held_.writeDone(serial, queued, [this, serial](const std::string& line) {
    const ClientSession* session = table_.find(serial);
    if (session) dispatch(*session, line);
    return session != nullptr;
  });
}

void RelayServer::dispatch(const ClientSession& session, const std::string& line) {
  std::vector<std::string> words = splitWords(line);
  const std::string& command = words[0];
  if (held_.waiting(session.serial) && command != "PING" && command != "BYE") {
    if (!held_.hold(session.serial, line)) ++stats_.dropped;
    return;
  }
  if (command == "HELLO") {
    registration_->hello(session, words);
  } else if (command == "PIN") {
    registration_->pin(session, words);
  } else if (command == "UNPIN") {
    registration_->unpin(session);
  } else if (command == "PING") {
    registration_->ping(session, words);
  } else if (command == "CONNECT") {
    rendezvous_->connect(session, words);
  } else if (command == "SESSION") {
    rendezvous_->sessionLine(session, words);
  } else if (command == "REPORT") {
    reports_->report(session, words);
  } else if (command == "BYE") {
    endSession(session, "said goodbye");
  }
  // Anything else is from a newer client or garbage; it gets no answer.
}

void RelayServer::say(const ClientSession& session, std::string_view line) {
  if (!session.channel) return;
  Bytes packet = session.channel->seal(ByteView(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
  sink_.send(session.endpoint, packet, false);
}

void RelayServer::endSession(const ClientSession& session, const std::string& why, bool closeConnection) {
  forgetClient(session, why);
  Endpoint endpoint = session.endpoint;
  uint64_t serial = session.serial;
  rendezvous_->sessionRemoved(serial);
  registration_->sessionRemoved(serial);
  held_.forget(serial);
  table_.remove(serial);
  if (endpoint.isTcp() && closeConnection) sink_.close(endpoint);
}

void RelayServer::forgetClient(const ClientSession& session, const std::string& why) {
  rendezvous_->sessionEnded(session);
  reports_->sessionEnded(session);
  registration_->sessionEnded(session, why);
}

void RelayServer::makeRoom(bool confirmed) {
  while (table_.full(confirmed)) {
    ClientSession* victim = table_.idlest(confirmed);
    if (!victim) return;
    ++stats_.evicted;
    endSession(*victim, "evicted for a newer client (the server is full)");
  }
}

void RelayServer::sweep() {
  double now = loop_.now();
  reports_->expire(now);
  fleet_->sweep();
  log_.summarize(now);
  for (uint64_t serial : table_.silentSince(true, now - kSilenceTimeout)) {
    if (ClientSession* s = table_.find(serial)) endSession(*s, "silent for 65 s");
  }
  for (uint64_t serial : table_.silentSince(false, now - kWelcomeTimeout)) {
    if (ClientSession* s = table_.find(serial)) endSession(*s, "no answer to the welcome");
  }
}

}  // namespace plimo
