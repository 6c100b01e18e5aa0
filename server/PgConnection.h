#pragma once
// One libpq connection of the PostgreSQL store: statements with text
// parameters, their rows read as text, and a connection lost and made again.
//
// A lost connection is made again on a thread of its own, started at most
// once every kRetryPause, so that a database that is down or cut off costs
// the loop a failed read, never a wait for a connect. A connection told to
// wait without limit (the writes, which must not be lost) instead retries a
// statement that failed because the connection went, until the database is
// back.
//
// One thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/Result.h"

struct pg_conn;
struct pg_result;

namespace plimo {

class PgConnection {
 public:
  static constexpr std::chrono::seconds kRetryPause{2};

  // A statement's parameter: text, a number, or NULL. PostgreSQL's text
  // holds valid UTF-8 without NUL: anything else becomes U+FFFD, as the
  // exports show it from either store.
  struct Param {
    Param(std::string_view text);
    Param(const std::string& text) : Param(std::string_view(text)) {}
    Param(const char* text) : Param(std::string_view(text)) {}
    Param(int64_t number) : value(std::to_string(number)) {}
    static Param null() { return Param(std::string(), true); }
    std::string value;
    bool isNull = false;

   private:
    Param(std::string text, bool none) : value(std::move(text)), isNull(none) {}
  };

  // What a statement answered.
  class Rows {
   public:
    explicit Rows(pg_result* result) : result_(result) {}
    int count() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    // 0 for NULL or anything but a decimal number.
    int64_t number(int row, int column) const;
    bool flag(int row, int column) const { return text(row, column) == "t"; }
    // Rows an INSERT, UPDATE or DELETE touched.
    int64_t changed() const;

   private:
    friend class PgConnection;
    pg_result* raw() const { return result_.get(); }
    struct Clear {
      void operator()(pg_result* r) const;
    };
    std::unique_ptr<pg_result, Clear> result_;
  };

  // `conninfo`: a connection string or URI; libpq takes what it leaves out
  // from the PG* variables.
  static Result<std::unique_ptr<PgConnection>> open(const std::string& conninfo);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  Result<Rows> run(const char* sql, std::initializer_list<Param> params = {});
  // Several statements without parameters.
  Result<void> script(const char* sql);

  // Statements this process ran on any connection, for the server's figures
  // (queries per registration, none per keep-alive).
  static uint64_t statementsRun() { return statements_; }

  // How long a statement may wait for a lock (0: without limit).
  void waitForLocks(int milliseconds);
  // Waits out a lost connection too; `waiting` runs once a statement has
  // waited about a second.
  void waitWithoutLimit(std::function<void()> waiting);

 private:
  PgConnection(pg_conn* conn, std::string conninfo) : conn_(conn), conninfo_(std::move(conninfo)) {}
  static pg_conn* connect(const std::string& conninfo);
  // The connection is up, or was made again now.
  bool usable();
  Result<void> applySettings();
  Failed lastError() const;
  Result<Rows> runOnce(const char* sql, std::initializer_list<Param> params);

  static inline std::atomic<uint64_t> statements_{0};

  pg_conn* conn_;
  const std::string conninfo_;
  std::future<pg_conn*> reconnecting_;
  int lockWait_ = 2000;
  bool withoutLimit_ = false;
  std::function<void()> waiting_;
  std::chrono::steady_clock::time_point lastTry_{};
};

}  // namespace plimo
