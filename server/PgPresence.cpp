#include "server/PgStore.h"

namespace plimo {

namespace {

Result<void> done(const Result<PgConnection::Rows>& rows) {
  if (!rows) return Failed{rows.error()};
  return {};
}

}  // namespace

Result<void> PgStore::heartbeat(const std::string& server, int64_t when, int64_t clients, int64_t sessions) {
  return done(db_->run("INSERT INTO servers (name, heartbeat, clients, sessions) VALUES ($1, $2, $3, $4) "
                       "ON CONFLICT (name) DO UPDATE SET heartbeat = EXCLUDED.heartbeat, clients = EXCLUDED.clients, "
                       "sessions = EXCLUDED.sessions",
                       {server, when, clients, sessions}));
}

Result<void> PgStore::announce(const std::string& server, const std::string& relay, const std::string& relayKey) {
  return done(db_->run("INSERT INTO servers (name, heartbeat, clients, sessions, relay, relay_key) "
                       "VALUES ($1, 0, 0, 0, $2, $3) "
                       "ON CONFLICT (name) DO UPDATE SET relay = EXCLUDED.relay, relay_key = EXCLUDED.relay_key",
                       {server, relay, relayKey}));
}

Result<void> PgStore::clearPresence(const std::string& server) {
  return done(db_->run("DELETE FROM presence WHERE server = $1", {server}));
}

Result<void> PgStore::setPresence(const std::string& id, const std::string& server, const std::string& address,
                                  int64_t when) {
  return done(db_->run("INSERT INTO presence (id, server, address, since) VALUES ($1, $2, $3, $4) "
                       "ON CONFLICT (id) DO UPDATE SET server = EXCLUDED.server, address = EXCLUDED.address, "
                       "since = EXCLUDED.since",
                       {id, server, address, when}));
}

Result<void> PgStore::dropPresence(const std::string& id, const std::string& server) {
  return done(db_->run("DELETE FROM presence WHERE id = $1 AND server = $2", {id, server}));
}

Result<std::optional<std::string>> PgStore::presentOn(const std::string& id, int64_t now) {
  auto rows = db_->run(
      "SELECT p.server FROM presence p JOIN servers s ON s.name = p.server WHERE p.id = $1 AND s.heartbeat >= $2",
      {id, now - staleAfter_});
  if (!rows) return Failed{rows.error()};
  if (rows->count() == 0) return std::optional<std::string>();
  return std::optional<std::string>(rows->text(0, 0));
}

Result<std::vector<PresenceStore::Server>> PgStore::servers() {
  auto rows = db_->run("SELECT name, heartbeat, clients, sessions, relay, relay_key FROM servers ORDER BY name");
  if (!rows) return Failed{rows.error()};
  std::vector<Server> all;
  for (int i = 0; i < rows->count(); ++i) {
    all.push_back({rows->text(i, 0), rows->number(i, 1), rows->number(i, 2), rows->number(i, 3), rows->text(i, 4),
                   rows->text(i, 5)});
  }
  return all;
}

}  // namespace plimo
