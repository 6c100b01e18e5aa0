// Reading ufw's status: on or off, and whether a rule names Plimo.

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/Firewall.h"

using namespace plimo;

namespace {

TEST(UfwStatus, ReadsStateAndPlimoRules) {
  struct Case {
    const char* output;
    FirewallState expected;
  };
  const Case cases[] = {
      {"", {}},
      {"Status: inactive\n", {}},
      {"ERROR: You need to be root to run this script\n", {}},
      {"Status: active\n", {true, false, false}},
      {"Status: active\n\nTo                         Action      From\n--                         ------      ----\n"
       "22/tcp                     ALLOW       Anywhere\nPlimo                      ALLOW       Anywhere\n",
       {true, true, false}},
      {"Status: active\n\nPlimo                      ALLOW       Anywhere\n"
       "Plimo (v6)                 DENY IN     Anywhere (v6)\n",
       {true, true, true}},
      {"Status: active\nPlimo                      REJECT      Anywhere\n", {true, true, true}},
      // Another profile whose name starts the same is not Plimo.
      {"Status: active\nPlimoServer                DENY        Anywhere\n", {true, false, false}},
      {"Status: inactive\nPlimo                      DENY        Anywhere", {false, true, true}},
  };
  for (const auto& c : cases) EXPECT_EQ(parseUfwStatus(c.output), c.expected) << c.output;
}

TEST(UfwStatus, WithoutUfwTheFirewallReadsAsOff) {
  if (access("/usr/sbin/ufw", X_OK) == 0 || access("/sbin/ufw", X_OK) == 0) GTEST_SKIP() << "ufw is installed here";
  EXPECT_EQ(firewallState(), FirewallState{});
}

}  // namespace
