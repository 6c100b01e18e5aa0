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

class StoreEngineTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "sqlite") {
      where_ = (dir_ / "plimo-server.db").string();
    } else {
      const char* base = std::getenv("PLIMO_TEST_POSTGRES");
      if (!base || !*base) {
        if (std::getenv("PLIMO_REQUIRE_POSTGRES")) FAIL() << "PLIMO_TEST_POSTGRES is not set: no PostgreSQL started";
        GTEST_SKIP() << "no PostgreSQL: run under scripts/test-services (start_test_services) to test that store";
      }
      static std::atomic<int> made{0};
      schema_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(made++);
      auto admin = PgConnection::open(base);
      ASSERT_TRUE(admin) << admin.error();
      ASSERT_TRUE((*admin)->script(("CREATE SCHEMA " + schema_).c_str()));
      admin_ = std::move(*admin);
      std::string b = base;
      where_ = b + (b.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
    }
    store = connect();
    ASSERT_TRUE(store);
  }
  void TearDown() override {
    store.reset();
    if (admin_) (void)admin_->script(("DROP SCHEMA " + schema_ + " CASCADE").c_str());
  }
  // Another connection to the same store (another server's).
  std::unique_ptr<ServerStore> connect() {
    auto opened = ServerStore::open(where_);
    EXPECT_TRUE(opened) << (opened ? "" : opened.error());
    return opened ? std::move(*opened) : nullptr;
  }
  const std::string& where() const { return where_; }

  std::unique_ptr<ServerStore> store;

 private:
  TempDir dir_{"store"};
  std::string where_, schema_;
  std::unique_ptr<PgConnection> admin_;
};

#define PLIMO_ON_EVERY_STORE(Suite) \
  INSTANTIATE_TEST_SUITE_P(Engines, Suite, ::testing::Values("sqlite", "postgresql"), \
                           [](const auto& info) { return info.param; })

}  // namespace plimo::testkit
