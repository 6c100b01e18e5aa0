#pragma once
// The server's protocol core: handshakes and welcomes, the sealed text
// session of every client, resets for strangers, relayed partner packets, and
// the session table's lifecycle (silence, eviction, goodbye). It holds no
// socket: packets come in through `receive` and leave through a PacketSink,
// so tests drive it on a ManualLoop with a recording sink. Text commands go
// to Registration (HELLO, PIN, UNPIN, PING), Rendezvous (CONNECT, SESSION,
// relaying, PARTNER GONE) and Reports (REPORT); each keeps its own state per
// session serial and hears of a session's end through endSession.
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
#include <vector>

#include "core/Bytes.h"
#include "core/EventLoop.h"
#include "protocol/crypto/SigningKey.h"
#include "protocol/wire/LinkLimits.h"
#include "server/IdRegistry.h"
#include "server/PacketSink.h"
#include "server/RateLimiter.h"
#include "server/ServerStore.h"
#include "server/SessionTable.h"
#include "server/StoreWorker.h"

namespace plimo {

class HandshakeWorker;
struct HandshakeResult;
class Registration;
class Rendezvous;
class Reports;
class UnattendedGate;

struct RelayConfig {
  uint16_t udpPort = link::kDefaultServerPort;
  // The TCP fallback ports clients are told about (the ones listening).
  std::vector<uint16_t> tcpPorts;
  size_t maxSessions = 100000;
  // Sessions that have had a welcome but sent nothing under its keys yet;
  // 0: a quarter of maxSessions, at least 4096 (clients reconnecting at once
  // after a restart).
  size_t maxUnconfirmed = 0;
  // Sessions one source address may hold; 0: an eighth of maxSessions, at
  // most 1024 (an office of PCs behind one NAT address), so that one
  // address never evicts the clients of others.
  size_t maxSessionsPerAddress = 0;
  double handshakeRate = 50;  // per source address and second
  // The share of the server thread's time handshakes may take, measured.
  // Each costs a key, an agreement and a signature (about 0.2 ms on a quiet
  // core, far more on a busy or slow one); the rest is for relaying and the
  // clients' lines, whatever the machine.
  double handshakeShare = 0.25;
  // The key work of handshakes on a worker thread (the server process);
  // else inside receive (tests on virtual time).
  bool handshakeThread = false;
  // Where the database writes run: on a thread of their own (the server
  // process), or on the loop (tests on virtual time).
  StoreWorker::Mode storeWork = StoreWorker::Mode::inlined;
};

class RelayServer {
 public:
  // A client says HELLO every 20 s; three lost in a row end its session (the
  // client gives up on the server after the same 65 s).
  static constexpr double kSilenceTimeout = link::kServerSilence;
  // A client answers a welcome at once with HELLO; a welcome unanswered for
  // this long was lost or its handshake forged.
  static constexpr double kWelcomeTimeout = 10.0;

  using Log = std::function<void(const std::string&)>;

  // Source addresses whose rates are tracked at once (a few MB at most).
  static constexpr size_t kTrackedAddresses = 65536;
  // Log lines about one source address: a client's day makes a handful; a
  // flood from one address must not roll the log away.
  static constexpr Rate kLogLinesPerAddress{0.2, 20};
  // How often the server says how many lines it left out.
  static constexpr double kLogSummaryPeriod = 60.0;

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

  // ----- for the command handlers -----
  // Seals one text line to the client (nothing before its session is up).
  void say(ClientSession& session, std::string_view line);
  // Ends a session: its ID goes offline, its partner hears of it, a TCP
  // connection is closed (unless it is already). `session` is invalid
  // afterwards.
  void endSession(ClientSession& session, const std::string& why, bool closeConnection = true);
  // Ends what the session stands for (ID, partner, usage) but keeps the
  // session itself: another client now speaks from its endpoint.
  void forgetClient(ClientSession& session, const std::string& why);
  void sendRaw(const ClientSession& session, ByteView packet, bool droppable);
  void log(const std::string& text) { log_(text); }
  // A line about what one client did, within its address's budget.
  void log(const ClientSession& about, const std::string& text);

  EventLoop& loop() { return loop_; }
  // Reads, on the loop. A pin is relied on only once its write committed.
  ServerStore& reads() { return reads_; }
  // Every write, in order.
  StoreWorker& writes() { return *storeWorker_; }
  // A write whose answer the client's next lines may depend on (PIN,
  // UNPIN): those lines (but PING and BYE) wait until `done` has run. False,
  // with nothing queued, when the store is too busy for the client's work
  // (StoreWorker::submitFor): the caller answers that it is.
  template <class Work, class Done>
  [[nodiscard]] bool writeBeforeNextLines(ClientSession& session, Work work, Done done) {
    ++session.writesAwaited;
    if (writes().submitFor(session.serial, std::move(work),
                           [this, serial = session.serial, done = std::move(done)](auto result) mutable {
                             done(std::move(result));
                             written(serial);
                           }))
      return true;
    --session.writesAwaited;
    return false;
  }
  SessionTable& sessions() { return table_; }
  IdRegistry& ids() { return ids_; }
  const RelayConfig& config() const { return config_; }
  const SigningKey& key() const { return key_; }
  const Stats& stats() const { return stats_; }
  const Rendezvous& rendezvous() const { return *rendezvous_; }
  UnattendedGate& unattendedGate() { return *unattendedGate_; }
  // Seconds since the server started.
  double uptime() const;

 private:
  void route(const Endpoint& from, ByteView packet);
  void handshake(const Endpoint& from, ByteView packet);
  void welcome(const HandshakeResult& result);
  void sealed(const Endpoint& from, ByteView packet);
  void dispatch(ClientSession& session, const std::string& line);
  // Runs the lines held for the session `serial` once no write is awaited.
  void written(uint64_t serial);
  void sweep();
  void makeRoom(bool confirmed);
  void summarizeLeftOutLines();

  EventLoop& loop_;
  ServerStore& reads_;
  SigningKey key_;
  PacketSink& sink_;
  RelayConfig config_;
  Log log_;
  double started_;

  SessionTable table_;
  IdRegistry ids_;
  RateLimiter handshakes_;
  TokenBucket handshakeBudget_;
  RateLimiter stunAnswers_;
  RateLimiter logLines_;
  uint64_t leftOutLines_ = 0;
  double lastSummary_;
  size_t maxPerAddress_;
  Stats stats_;
  std::unique_ptr<UnattendedGate> unattendedGate_;
  std::unique_ptr<Registration> registration_;
  std::unique_ptr<Rendezvous> rendezvous_;
  std::unique_ptr<Reports> reports_;
  Timer sweepTimer_;
  // Last: their results reach the rest.
  std::unique_ptr<StoreWorker> storeWorker_;
  std::unique_ptr<HandshakeWorker> handshakeWorker_;
};

}  // namespace plimo
