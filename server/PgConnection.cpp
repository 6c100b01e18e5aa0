#include "server/PgConnection.h"

#include <libpq-fe.h>

#include <charconv>
#include <thread>
#include <vector>

#include "core/Text.h"

namespace plimo {

namespace {

// A database that does not answer a new connection within this many seconds
// is taken as down (libpq's default waits forever). The connection string
// may set another.
constexpr const char* kConnectTimeout = "5";

}  // namespace

PgConnection::Param::Param(std::string_view text) {
  for (char c : utf8Lossy(text)) {
    if (c == '\0') {
      value += "\xEF\xBF\xBD";
    } else {
      value += c;
    }
  }
}

void PgConnection::Rows::Clear::operator()(pg_result* r) const { PQclear(r); }

int PgConnection::Rows::count() const { return PQntuples(result_.get()); }

bool PgConnection::Rows::isNull(int row, int column) const {
  return PQgetisnull(result_.get(), row, column) != 0;
}

std::string PgConnection::Rows::text(int row, int column) const {
  if (row >= count() || column >= PQnfields(result_.get())) return {};
  return std::string(PQgetvalue(result_.get(), row, column), size_t(PQgetlength(result_.get(), row, column)));
}

int64_t PgConnection::Rows::number(int row, int column) const {
  std::string t = text(row, column);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  return ec == std::errc() && end == t.data() + t.size() ? value : 0;
}

int64_t PgConnection::Rows::changed() const {
  const char* n = PQcmdTuples(result_.get());
  int64_t value = 0;
  std::from_chars(n, n + std::char_traits<char>::length(n), value);
  return value;
}

pg_conn* PgConnection::connect(const std::string& conninfo) {
  // The timeout first: the connection string's own settings come after it and win.
  const char* keys[] = {"connect_timeout", "dbname", "fallback_application_name", nullptr};
  const char* values[] = {kConnectTimeout, conninfo.c_str(), "plimo-server", nullptr};
  return PQconnectdbParams(keys, values, 1);
}

Result<std::unique_ptr<PgConnection>> PgConnection::open(const std::string& conninfo) {
  pg_conn* conn = connect(conninfo);
  if (!conn) return Failed{"out of memory"};
  std::unique_ptr<PgConnection> made(new PgConnection(conn, conninfo));
  if (PQstatus(conn) != CONNECTION_OK) return made->lastError();
  if (auto set = made->applySettings(); !set) return Failed{set.error()};
  return made;
}

PgConnection::~PgConnection() {
  // A connect under way ends within its timeout.
  if (reconnecting_.valid()) PQfinish(reconnecting_.get());
  PQfinish(conn_);
}

Failed PgConnection::lastError() const {
  std::string text = PQerrorMessage(conn_);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return Failed{text.empty() ? "database error" : text};
}

Result<void> PgConnection::applySettings() {
  // The server's notices ("already exists, skipping") are no news for the log.
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  std::string set = "SET client_min_messages = warning; SET lock_timeout = " + std::to_string(lockWait_);
  return script(set.c_str());
}

bool PgConnection::usable() {
  if (PQstatus(conn_) == CONNECTION_OK) return true;
  if (reconnecting_.valid()) {
    if (reconnecting_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return false;
    pg_conn* fresh = reconnecting_.get();
    if (fresh && PQstatus(fresh) == CONNECTION_OK) {
      PQfinish(conn_);
      conn_ = fresh;
      return bool(applySettings());
    }
    // The failed one keeps its reason for lastError until the next try.
    if (fresh) {
      PQfinish(conn_);
      conn_ = fresh;
    }
    return false;
  }
  auto now = std::chrono::steady_clock::now();
  if (now - lastTry_ >= kRetryPause) {
    lastTry_ = now;
    reconnecting_ = std::async(std::launch::async, [conninfo = conninfo_] { return connect(conninfo); });
  }
  return false;
}

Result<PgConnection::Rows> PgConnection::runOnce(const char* sql, std::initializer_list<Param> params) {
  if (!usable()) return lastError();
  ++statements_;
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const Param& p : params) values.push_back(p.isNull ? nullptr : p.value.c_str());
  Rows rows(PQexecParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
  ExecStatusType status = PQresultStatus(rows.raw());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return rows;
  return lastError();
}

Result<PgConnection::Rows> PgConnection::run(const char* sql, std::initializer_list<Param> params) {
  auto started = std::chrono::steady_clock::now();
  bool told = false;
  for (;;) {
    Result<Rows> rows = runOnce(sql, params);
    // Only a lost connection is waited out: a statement the database
    // refused would be refused again.
    if (rows || !withoutLimit_ || PQstatus(conn_) == CONNECTION_OK) return rows;
    if (!told && std::chrono::steady_clock::now() - started >= std::chrono::seconds(1)) {
      told = true;
      if (waiting_) waiting_();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
}

Result<void> PgConnection::script(const char* sql) {
  if (PQstatus(conn_) != CONNECTION_OK) return lastError();
  Rows rows(PQexec(conn_, sql));
  ExecStatusType status = PQresultStatus(rows.raw());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return {};
  return lastError();
}

void PgConnection::waitForLocks(int milliseconds) {
  lockWait_ = milliseconds;
  (void)script(("SET lock_timeout = " + std::to_string(milliseconds)).c_str());
}

void PgConnection::waitWithoutLimit(std::function<void()> waiting) {
  withoutLimit_ = true;
  waiting_ = std::move(waiting);
  waitForLocks(0);
}

}  // namespace plimo
