#pragma once
// The server's protocol core: handshakes and welcomes, the sealed text
// session of every client, resets for strangers, relayed partner packets, and
// the session table's lifecycle (silence, eviction, goodbye). It holds no
// socket: packets come in through `receive` and leave through a PacketSink,
// so tests drive it on a ManualLoop with a recording sink. Text commands go
// to Registration (HELLO, PIN, UNPIN, PING), Rendezvous (CONNECT, SESSION,
// relaying, PARTNER GONE) and Reports (REPORT); each keeps its own state per
// session serial, reaches the server only through the HandlerContext, and
// hears of a session's end through sessionEnded and sessionRemoved.
//
// One thread: the loop's; the key work of handshakes may run on a worker
// (HandshakeWorker), the database writes of pins, usage records and reports
// on another (StoreWorker). The loop itself only reads the database, in WAL
// mode, where readers never wait for a writer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/crypto/SigningKey.h"
#include "server/BudgetedLog.h"
#include "server/HandlerContext.h"
#include "server/HandshakeAdmission.h"
#include "server/HeldLines.h"
#include "server/IdRegistry.h"
#include "server/PacketSink.h"
#include "server/RateLimiter.h"
#include "server/RelayConfig.h"
#include "server/SessionTable.h"

namespace plimo {

class FleetIntroductions;
class FleetMail;
class FleetRelay;
class HandshakeWorker;
struct HandshakeResult;
class Registration;
class Rendezvous;
class Reports;
class UnattendedGate;

class RelayServer final : private HandlerContext {
 public:
  // A client says HELLO every 20 s; three lost in a row end its session (the
  // client gives up on the server after the same 65 s).
  static constexpr double kSilenceTimeout = link::kServerSilence;
  // A client answers a welcome at once with HELLO; a welcome unanswered for
  // this long was lost or its handshake forged.
  static constexpr double kWelcomeTimeout = 10.0;

  using Log = std::function<void(const std::string&)>;

  struct Stats {
    uint64_t welcomes = 0;
    uint64_t rateLimited = 0;  // handshakes and STUN requests refused for their source address
    uint64_t overBudget = 0;  // handshakes dropped for the global budget
    uint64_t resets = 0;
    uint64_t dropped = 0;  // packets that were garbage or did not open
    uint64_t relayed = 0;
    uint64_t evicted = 0;
  };

  // `store` takes every write (on the store thread when config.storeWork
  // says so); the loop reads through `loopReads`, its own connection to the
  // same database, or else through `store` (a reader sharing the writer's
  // connection waits for its writes).
  RelayServer(EventLoop& loop, ServerStore& store, SigningKey key, PacketSink& sink,
              RelayConfig config, Log log, ServerStore* loopReads = nullptr);
  ~RelayServer();
  RelayServer(const RelayServer&) = delete;
  RelayServer& operator=(const RelayServer&) = delete;

  // One packet (a UDP datagram, or one frame of a TCP connection). A TCP
  // connection whose packet leaves it without a session is closed.
  void receive(const Endpoint& from, ByteView packet);
  // The peer closed a TCP connection, or it failed.
  void connectionClosed(const Endpoint& from);
  // The other servers of the fleet (config.serverName) are reached through
  // `mail`, which outlives this server; what they send comes in as fleetLine.
  void joinFleet(FleetMail& mail);
  void fleetLine(std::string_view text);
  // Partners introduced across servers relay through `sink`, the fleet
  // socket at `address` ("ip:port"), which this server announces in the
  // directory; what other servers send to it comes in as fleetPacket.
  void relayThroughFleet(PacketSink& sink, const std::string& address);
  void fleetPacket(const Endpoint& from, ByteView packet);
  // The server is about to stop (SIGTERM): its clients' partners on other
  // servers of the fleet hear PARTNER GONE at once.
  void stop();

  const Stats& stats() const { return stats_; }
  const SessionTable& sessions() const { return table_; }
  const IdRegistry& ids() const;
  const Rendezvous& rendezvous() const { return *rendezvous_; }
  const FleetRelay& fleetRelay() const { return *fleetRelay_; }
  // Database jobs submitted whose work has not started.
  size_t queuedWrites() const;

 private:
  // What the handlers see of the server.
  HandlerContext& context() { return *this; }
  double now() const override { return loop_.now(); }
  double wallNow() const override { return loop_.wallNow(); }
  const ClientSession* session(uint64_t serial) override { return table_.find(serial); }
  void say(const ClientSession& session, std::string_view line) override;
  void pass(const ClientSession& to, ByteView packet) override { sink_.send(to.endpoint, packet, true); }
  void forgetClient(const ClientSession& session, const std::string& why) override;
  void log(const std::string& text) override { log_.line(text); }
  void log(const ClientSession& about, const std::string& text) override { logFrom(about.endpoint.ip, text); }
  void logFrom(uint32_t ip, const std::string& text) override { log_.about(ip, loop_.now(), text); }
  ServerStore& reads() override { return reads_; }
  StoreWorker& writes() override { return *storeWorker_; }
  const Registrant& registrant(const ClientSession& session) const override;
  void noteLanAndKey(const ClientSession& session, const std::string& ip, const std::string& port,
                     const std::string& keyHex) override;
  uint64_t holderOf(const std::string& id) const override;
  void holdLines(uint64_t serial) override { held_.awaitWrite(serial); }
  // Runs the lines held for the session `serial` once no write is awaited.
  void written(uint64_t serial, bool queued) override;

  void route(const Endpoint& from, ByteView packet);
  void handshake(const Endpoint& from, ByteView packet);
  void welcome(const HandshakeResult& result);
  void sealed(const Endpoint& from, ByteView packet);
  void dispatch(const ClientSession& session, const std::string& line);
  // Ends a session: its ID goes offline, its partner hears of it, a TCP
  // connection is closed (unless it is already). `session` is invalid
  // afterwards.
  void endSession(const ClientSession& session, const std::string& why, bool closeConnection = true);
  void sweep();
  // This server is alive, in the directory of the fleet (PresenceStore).
  void heartbeat();
  void makeRoom(bool confirmed);

  EventLoop& loop_;
  ServerStore& reads_;
  SigningKey key_;
  PacketSink& sink_;
  RelayConfig config_;
  BudgetedLog log_;

  SessionTable table_;
  HeldLines held_;
  HandshakeAdmission admission_;
  RateLimiter stunAnswers_;
  Stats stats_;
  std::unique_ptr<UnattendedGate> unattendedGate_;
  std::unique_ptr<Registration> registration_;
  std::unique_ptr<FleetIntroductions> fleet_;
  std::unique_ptr<FleetRelay> fleetRelay_;
  std::unique_ptr<Rendezvous> rendezvous_;
  std::unique_ptr<Reports> reports_;
  Timer sweepTimer_;
  Timer heartbeatTimer_;
  bool heartbeatFailing_ = false;
  // Last: their results reach the rest.
  std::unique_ptr<StoreWorker> storeWorker_;
  std::unique_ptr<HandshakeWorker> handshakeWorker_;
};

}  // namespace plimo
