#include <sqlite3.h>

#include "server/SqliteStore.h"

namespace plimo {

Result<void> SqliteStore::preparePresence() {
  return prepareKept(
      db_, {
               {&heartbeat_,
                "INSERT INTO servers (name, heartbeat, clients, sessions) VALUES (?1, ?2, ?3, ?4) "
                "ON CONFLICT(name) DO UPDATE SET heartbeat = excluded.heartbeat, clients = excluded.clients, "
                "sessions = excluded.sessions"},
               {&announce_,
                "INSERT INTO servers (name, heartbeat, clients, sessions, relay, relay_key) "
                "VALUES (?1, 0, 0, 0, ?2, ?3) "
                "ON CONFLICT(name) DO UPDATE SET relay = excluded.relay, relay_key = excluded.relay_key"},
               {&clearPresence_, "DELETE FROM presence WHERE server = ?1"},
               {&setPresence_,
                "INSERT INTO presence (id, server, address, since) VALUES (?1, ?2, ?3, ?4) ON CONFLICT(id) "
                "DO UPDATE SET server = excluded.server, address = excluded.address, since = excluded.since"},
               {&dropPresence_, "DELETE FROM presence WHERE id = ?1 AND server = ?2"},
               {&presentOn_,
                "SELECT p.server FROM presence p JOIN servers s ON s.name = p.server WHERE p.id = ?1 AND "
                "s.heartbeat >= ?2"},
               {&servers_, "SELECT name, heartbeat, clients, sessions, relay, relay_key FROM servers ORDER BY name"},
           });
}

Result<void> SqliteStore::heartbeat(const std::string& server, int64_t when, int64_t clients, int64_t sessions) {
  Use s(heartbeat_.get());
  bindText(*s, 1, server);
  sqlite3_bind_int64(*s, 2, when);
  sqlite3_bind_int64(*s, 3, clients);
  sqlite3_bind_int64(*s, 4, sessions);
  return stepped(db_, sqlite3_step(*s));
}

Result<void> SqliteStore::announce(const std::string& server, const std::string& relay, const std::string& relayKey) {
  Use s(announce_.get());
  bindText(*s, 1, server);
  bindText(*s, 2, relay);
  bindText(*s, 3, relayKey);
  return stepped(db_, sqlite3_step(*s));
}

Result<void> SqliteStore::clearPresence(const std::string& server) {
  Use s(clearPresence_.get());
  bindText(*s, 1, server);
  return stepped(db_, sqlite3_step(*s));
}

Result<void> SqliteStore::setPresence(const std::string& id, const std::string& server, const std::string& address,
                                      int64_t when) {
  Use s(setPresence_.get());
  bindText(*s, 1, id);
  bindText(*s, 2, server);
  bindText(*s, 3, address);
  sqlite3_bind_int64(*s, 4, when);
  return stepped(db_, sqlite3_step(*s));
}

Result<void> SqliteStore::dropPresence(const std::string& id, const std::string& server) {
  Use s(dropPresence_.get());
  bindText(*s, 1, id);
  bindText(*s, 2, server);
  return stepped(db_, sqlite3_step(*s));
}

Result<std::optional<std::string>> SqliteStore::presentOn(const std::string& id, int64_t now) {
  Use s(presentOn_.get());
  bindText(*s, 1, id);
  sqlite3_bind_int64(*s, 2, now - staleAfter_);
  int rc = sqlite3_step(*s);
  if (rc == SQLITE_DONE) return std::optional<std::string>();
  if (rc != SQLITE_ROW) return lastError(db_);
  return std::optional<std::string>(columnText(*s, 0));
}

Result<std::vector<PresenceStore::Server>> SqliteStore::servers() {
  Use s(servers_.get());
  std::vector<Server> all;
  int rc;
  while ((rc = sqlite3_step(*s)) == SQLITE_ROW) {
    all.push_back({columnText(*s, 0), sqlite3_column_int64(*s, 1), sqlite3_column_int64(*s, 2),
                   sqlite3_column_int64(*s, 3), columnText(*s, 4), columnText(*s, 5)});
  }
  if (rc != SQLITE_DONE) return lastError(db_);
  return all;
}

}  // namespace plimo
