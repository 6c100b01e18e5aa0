#pragma once
// What the command handlers (Registration, Rendezvous, Reports and the
// UnattendedGate) may ask of the server: the loop's clocks, the sessions by
// serial, sealed lines to a client, the log, the store, and what each
// client's registration says. The RelayServer implements it; the handlers
// never see the rest of the server.
//
// One thread (the server loop).

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "server/ClientSession.h"
#include "server/StoreWorker.h"

namespace plimo {

struct Registrant;

class HandlerContext {
 public:
  // The loop's clocks: monotonic seconds, and Unix seconds.
  virtual double now() const = 0;
  virtual double wallNow() const = 0;

  // The session with that serial; nothing once it is gone.
  virtual const ClientSession* session(uint64_t serial) = 0;
  // Seals one text line to the client (nothing before its session is up).
  virtual void say(const ClientSession& session, std::string_view line) = 0;
  // Passes a partner packet on unopened; a congested TCP connection may drop it.
  virtual void pass(const ClientSession& to, ByteView packet) = 0;
  // Ends what the session stands for (ID, partner, usage) but keeps the
  // session itself: another client now speaks from its endpoint.
  virtual void forgetClient(const ClientSession& session, const std::string& why) = 0;

  virtual void log(const std::string& text) = 0;
  // A line about what one client did, within its address's budget.
  virtual void log(const ClientSession& about, const std::string& text) = 0;
  // A line about what came from `ip` (host order), within that address's budget.
  virtual void logFrom(uint32_t ip, const std::string& text) = 0;

  // Reads, on the loop. A pin is relied on only once its write committed.
  virtual ServerStore& reads() = 0;
  // Every write, in order.
  virtual StoreWorker& writes() = 0;
  // A write whose answer the client's next lines may depend on (PIN,
  // UNPIN): those lines (but PING and BYE) wait until `done` has run. False,
  // with nothing queued, when the store is too busy for the client's work
  // (StoreWorker::submitFor): the caller answers that it is.
  template <class Work, class Done>
  [[nodiscard]] bool writeBeforeNextLines(const ClientSession& session, Work work, Done done);

  // What the session's registration says (no ID before its HELLO).
  virtual const Registrant& registrant(const ClientSession& session) const = 0;
  // Takes what CONNECT says of the client's LAN address and partner key.
  virtual void noteLanAndKey(const ClientSession& session, const std::string& ip, const std::string& port,
                             const std::string& keyHex) = 0;
  // The session holding `id` online, 0 when none.
  virtual uint64_t holderOf(const std::string& id) const = 0;

 protected:
  ~HandlerContext() = default;
  // The client's next lines wait for one more write; `written` says it is
  // done (or was never queued, with `queued` false).
  virtual void holdLines(uint64_t serial) = 0;
  virtual void written(uint64_t serial, bool queued) = 0;
};

template <class Work, class Done>
bool HandlerContext::writeBeforeNextLines(const ClientSession& session, Work work, Done done) {
  uint64_t serial = session.serial;
  holdLines(serial);
  if (writes().submitFor(serial, std::move(work), [this, serial, done = std::move(done)](auto result) mutable {
        done(std::move(result));
        written(serial, true);
      }))
    return true;
  written(serial, false);
  return false;
}

}  // namespace plimo
