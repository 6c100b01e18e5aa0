#pragma once
// Store tests run on each engine: SQLite in a file of its own, PostgreSQL in
// a schema of its own on the cluster scripts/test-services starts
// (PLIMO_TEST_POSTGRES). Without that cluster the PostgreSQL half skips,
// unless PLIMO_REQUIRE_POSTGRES says it must run (scripts/test).

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "server/PgConnection.h"
#include "server/ServerStore.h"
#include "testkit/TempDir.h"

namespace plimo::testkit {

// A schema of its own on the test cluster, dropped at the end; `where` is
// empty when no cluster was started (`missing` says why).
class PgTestSchema {
 public:
  PgTestSchema() {
    const char* base = std::getenv("PLIMO_TEST_POSTGRES");
    if (!base || !*base) {
      missing_ = "no PostgreSQL: run under scripts/test-services (start_test_services) to test with it";
      return;
    }
    static std::atomic<int> made{0};
    schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(made++);
    auto admin = PgConnection::open(base);
    Result<void> created = admin ? (*admin)->script(("CREATE SCHEMA " + schema_).c_str()) : Failed{admin.error()};
    if (!created) {
      missing_ = "the test cluster refused a schema: " + created.error();
      return;
    }
    admin_ = std::move(*admin);
    std::string b = base;
    where_ = b + (b.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
  }
  ~PgTestSchema() {
    if (admin_) (void)admin_->script(("DROP SCHEMA " + schema_ + " CASCADE").c_str());
  }
  PgTestSchema(const PgTestSchema&) = delete;
  PgTestSchema& operator=(const PgTestSchema&) = delete;

  const std::string& where() const { return where_; }
  const std::string& missing() const { return missing_; }
  // Under scripts/test a missing cluster is a failure, elsewhere a skip.
  static bool required() { return std::getenv("PLIMO_REQUIRE_POSTGRES") != nullptr; }

 private:
  std::string where_, schema_, missing_;
  std::unique_ptr<PgConnection> admin_;
};

#define PLIMO_REQUIRE_TEST_POSTGRES(schema)                                \
  if ((schema).where().empty()) {                                          \
    if (testkit::PgTestSchema::required()) FAIL() << (schema).missing();   \
    GTEST_SKIP() << (schema).missing();                                    \
  }

class StoreEngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      where_ = (dir_ / "plimo-server.db").string();
    } else {
      pg_ = std::make_unique<PgTestSchema>();
      PLIMO_REQUIRE_TEST_POSTGRES(*pg_);
      where_ = pg_->where();
    }
    store = connect();
    ASSERT_TRUE(store);
  }
  void TearDown() override { store.reset(); }
  // Another connection to the same store (another server's).
  std::unique_ptr<ServerStore> connect() {
    auto opened = ServerStore::open(where_);
    EXPECT_TRUE(opened) << (opened ? "" : opened.error());
    return opened ? std::move(*opened) : nullptr;
  }

  std::unique_ptr<ServerStore> store;

 private:
  TempDir dir_{"store"};
  std::unique_ptr<PgTestSchema> pg_;
  std::string where_;
};

#define PLIMO_ON_EVERY_STORE(Suite) \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite, ::testing::Values("sqlite", "postgresql"), \
                           [](const ::testing::TestParamInfo<std::string>& engine) { return engine.param; })

}  // namespace plimo::testkit
