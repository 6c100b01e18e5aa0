#pragma once
// The relay test, inside the ServerSession (threads and lifetime as there):
// one PING with a fresh token at a time, its PONG or its timeout, and the
// outcome told once (LinkEvents::onRelayTest).

#include <string>
#include <vector>

#include "protocol/link/PlimoClient.h"

namespace plimo {

class PlimoClient::RelayTest {
 public:
  explicit RelayTest(PlimoClient& link);

  // A new token; false while a test runs already.
  bool start();
  bool running() const { return !token_.empty(); }
  // The line that asks the server; for a running test only.
  std::string ping() const { return "PING " + token_; }
  // The tick's share: a test that ran out fails, saying where it stopped.
  void checkTimeout();
  // The server's PONG line; a stale or foreign token is ignored.
  void handlePong(const std::vector<std::string>& words);
  // Tells the outcome, once; nothing when no test runs.
  void finish(bool ok, const std::string& text);

 private:
  friend class testkit::PlimoClientTestKit;

  static constexpr double timeout = 5.0;  // seconds

  PlimoClient& link_;
  std::string token_;  // empty when no test runs
  double start_;
};

}  // namespace plimo
