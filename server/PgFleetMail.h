#pragma once
// FleetMail over PostgreSQL: a connection of its own, on a thread of its
// own, LISTENs on this server's channel and sends NOTIFY to the others'.
// What it hears goes to the loop. A lost connection is made again every
// PgConnection::kRetryPause and listens again; lines sent or due meanwhile
// are lost (the asking server's wait runs out), never queued without bound.
//
// `send` from the loop; the rest runs on the mail's thread.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/EventLoop.h"
#include "server/FleetMail.h"

struct pg_conn;

namespace plimo {

class PgFleetMail final : public FleetMail {
 public:
  static constexpr size_t kMaxQueued = 1024;
  // A server's channel. PostgreSQL names have at most 63 bytes and a
  // server's name (its host and port) may be longer: a hash of it fits.
  static std::string channel(const std::string& server);

  using Text = std::function<void(std::string)>;
  // `heard` and `log` run on `loop`.
  PgFleetMail(EventLoop& loop, std::string conninfo, const std::string& self, Text heard, Text log);
  ~PgFleetMail();
  PgFleetMail(const PgFleetMail&) = delete;
  PgFleetMail& operator=(const PgFleetMail&) = delete;

  void send(const std::string& server, const std::string& line) override;

 private:
  void run();
  // Connected and listening, or nothing (logged once per failing stretch).
  pg_conn* open();
  void sendQueued(pg_conn* conn);
  void hear(pg_conn* conn);
  void pause(int milliseconds);
  void log(std::string text);

  EventLoop& loop_;
  const std::string conninfo_;
  const std::string channel_;
  Text heard_;
  Text log_;
  int wake_;  // eventfd
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> queued_;  // channel, line
  bool failing_ = false;  // the mail thread's
  std::thread thread_;
};

}  // namespace plimo
