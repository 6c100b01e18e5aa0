#include "server/PgFleetMail.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cctype>

#include "protocol/crypto/PlimoCrypto.h"
#include "server/FleetLine.h"
#include "server/PgConnection.h"

namespace plimo {

std::string PgFleetMail::channel(const std::string& server) {
  // LISTEN folds an unquoted name to lower case; pg_notify takes it as it is.
  std::string name = "plimo_fleet_" + PlimoCrypto::hex(PlimoCrypto::sha256(toBytes(server))).substr(0, 32);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

PgFleetMail::PgFleetMail(EventLoop& loop, std::string conninfo, const std::string& self, Text heard, Text log)
    : loop_(loop),
      conninfo_(std::move(conninfo)),
      channel_(channel(self)),
      heard_(std::move(heard)),
      log_(std::move(log)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  thread_ = std::thread([this] { run(); });
}

PgFleetMail::~PgFleetMail() {
  stop_ = true;
  uint64_t one = 1;
  (void)!::write(wake_, &one, sizeof one);
  thread_.join();
  ::close(wake_);
}

void PgFleetMail::send(const std::string& server, const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    if (queued_.size() >= kMaxQueued) return;
    queued_.emplace_back(channel(server), line);
  }
  uint64_t one = 1;
  (void)!::write(wake_, &one, sizeof one);
}

void PgFleetMail::log(std::string text) {
  loop_.post([to = log_, text = std::move(text)] { to(text); });
}

void PgFleetMail::pause(int milliseconds) {
  pollfd wake{wake_, POLLIN, 0};
  ::poll(&wake, 1, milliseconds);
}

pg_conn* PgFleetMail::open() {
  pg_conn* conn = PQconnectdb(conninfo_.c_str());
  std::string error;
  if (PQstatus(conn) != CONNECTION_OK) {
    error = PQerrorMessage(conn);
  } else {
    pg_result* listening = PQexec(conn, ("LISTEN " + channel_).c_str());
    if (PQresultStatus(listening) != PGRES_COMMAND_OK) error = PQerrorMessage(conn);
    PQclear(listening);
  }
  if (error.empty()) {
    if (failing_) log("The fleet's channel is back");
    failing_ = false;
    return conn;
  }
  PQfinish(conn);
  if (!failing_) log("Cannot listen on the fleet's channel: " + error);
  failing_ = true;
  return nullptr;
}

void PgFleetMail::run() {
  pg_conn* conn = nullptr;
  while (!stop_) {
    if (conn && PQstatus(conn) != CONNECTION_OK) {
      PQfinish(conn);
      conn = nullptr;
    }
    if (!conn && !(conn = open())) {
      pause(int(std::chrono::milliseconds(PgConnection::kRetryPause).count()));
      {
        std::lock_guard lock(mutex_);
        queued_.clear();
      }
      continue;
    }
    pollfd fds[2] = {{PQsocket(conn), POLLIN, 0}, {wake_, POLLIN, 0}};
    ::poll(fds, 2, 1000);
    uint64_t count;
    (void)!::read(wake_, &count, sizeof count);
    if (stop_) break;
    sendQueued(conn);
    hear(conn);
  }
  if (conn) PQfinish(conn);
}

void PgFleetMail::sendQueued(pg_conn* conn) {
  std::vector<std::pair<std::string, std::string>> lines;
  {
    std::lock_guard lock(mutex_);
    lines.swap(queued_);
  }
  for (auto& [to, line] : lines) {
    const char* values[2] = {to.c_str(), line.c_str()};
    pg_result* sent = PQexecParams(conn, "SELECT pg_notify($1, $2)", 2, nullptr, values, nullptr, nullptr, 0);
    bool ok = PQresultStatus(sent) == PGRES_TUPLES_OK;
    PQclear(sent);
    if (!ok) {
      // The connection is gone, most likely: the next round makes it again.
      log(std::string("Cannot send on the fleet's channel: ") + PQerrorMessage(conn));
      return;
    }
  }
}

void PgFleetMail::hear(pg_conn* conn) {
  if (!PQconsumeInput(conn)) return;
  while (PGnotify* note = PQnotifies(conn)) {
    std::string text(note->extra);
    PQfreemem(note);
    // Longer is no line of ours; FleetIntroductions reads the rest strictly.
    if (text.size() > FleetLine::kMaxLength) text.resize(FleetLine::kMaxLength + 1);
    loop_.post([to = heard_, text = std::move(text)] { to(text); });
  }
}

}  // namespace plimo
