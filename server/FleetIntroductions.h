#pragma once
// Introductions across the servers of a fleet. A helper's CONNECT for an ID
// that another live server holds online (the store's directory says so)
// becomes an ASK to that server; there its PC gets the helper's PEER line
// exactly as from one server, and the answer brings the PC's PEER line back
// to the helper. The PC's server lets a helper into a PC with unattended
// access through its own UnattendedGate, on what the asking server vouches
// for (the helper's ID and whether it kept it with its secret); the asking
// server has already spent the helper's CONNECT budgets.
//
// What comes in is checked before anything is done with it: a line for
// another server, from a server not alive in the store, beyond the budget of
// asks, or an answer to nothing this server asked of that server is dropped,
// and logged within a budget of its own.
//
// One thread (the server loop). Owned by the RelayServer.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/TokenBucket.h"
#include "server/FleetLine.h"
#include "server/FleetMail.h"
#include "server/HandlerContext.h"

namespace plimo {

class UnattendedGate;

class FleetIntroductions {
 public:
  // An answer takes two notifications through the store: well under a
  // second unless a server is gone.
  static constexpr double kAnswerWait = 5.0;
  // Asks from all the other servers together: far above what their helpers'
  // CONNECT budgets let through, far below what would load this server.
  static constexpr Rate kAsks{50, 200};
  static constexpr size_t kMaxWaiting = 4096;
  // Lines dropped are logged this often at most (counted between).
  static constexpr Rate kDropLogs{0.1, 10};

  // What came of an ask of `server` for `pcID` made for the session
  // `serial`: the PC's PEER line, or nothing (not there for this helper, or
  // no answer in time).
  using Answered = std::function<void(uint64_t serial, const std::string& pcID, const std::string& server,
                                      const std::optional<std::string>& peerLine)>;
  // The PC of the session `serial` here was introduced to `helperID` on `server`.
  using Introduced = std::function<void(uint64_t serial, const std::string& helperID, const std::string& server)>;

  FleetIntroductions(HandlerContext& server, UnattendedGate& gate, std::string self, Answered answered,
                     Introduced introduced);

  void join(FleetMail& mail) { mail_ = &mail; }
  // The live server other than this one holding `id` online, if this one
  // belongs to a fleet.
  std::optional<std::string> holderElsewhere(const std::string& id);
  // Asks `server` for `pcID` on behalf of `helper`; false when it cannot be
  // asked now (the answer is then the caller's).
  bool ask(const ClientSession& helper, const std::string& pcID, const std::string& server);
  // Whether an ask of `server` for `pcID` made for the session `serial`
  // still waits for its answer.
  bool awaiting(uint64_t serial, const std::string& pcID, const std::string& server) const;
  // A line from another server's FleetMail.
  void received(std::string_view text);
  // Gives up on asks unanswered for kAnswerWait; the server calls it each second.
  void sweep();

 private:
  struct Waiting {
    uint64_t serial;
    std::string helperID;
    std::string pcID;
    std::string server;
    double since;
  };

  void asked(const FleetLine& line);
  void answer(const FleetLine& line);
  bool alive(const std::string& server);
  void reply(const FleetLine& ask, FleetLine::Kind kind, const PeerAbout& about = {});
  void drop(const std::string& why, std::string_view text);

  HandlerContext& server_;
  UnattendedGate& gate_;
  const std::string self_;
  Answered answered_;
  Introduced introduced_;
  FleetMail* mail_ = nullptr;
  std::unordered_map<uint64_t, Waiting> waiting_;  // by nonce
  TokenBucket asks_;
  TokenBucket dropLogs_;
  uint64_t unlogged_ = 0;
};

}  // namespace plimo
