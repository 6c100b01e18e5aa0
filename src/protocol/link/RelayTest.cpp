#include "protocol/link/RelayTest.h"

#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/link/ServerSession.h"

namespace plimo {

namespace {

constexpr size_t kTokenBytes = 4;

}  // namespace

PlimoClient::RelayTest::RelayTest(PlimoClient& link) : link_(link), start_(link.loop_.now()) {}

bool PlimoClient::RelayTest::start() {
  if (running()) return false;
  token_ = PlimoCrypto::hex(PlimoCrypto::randomBytes(kTokenBytes));
  start_ = link_.loop_.now();
  return true;
}

void PlimoClient::RelayTest::checkTimeout() {
  if (!running() || link_.loop_.now() - start_ <= timeout) return;
  const ServerAddress& server = link_.server_->address();
  finish(false, !server.known() ? "Cannot find server " + server.host()
                                : "No answer from the server. Check that it runs and that UDP port " +
                                      std::to_string(server.port()) + " is open in its firewall.");
}

void PlimoClient::RelayTest::handlePong(const std::vector<std::string>& words) {
  if (!running() || words[1] != token_) return;
  finish(true, "server " + words[2] + ", " + words[3] + " online, up " + words[4]);
}

void PlimoClient::RelayTest::finish(bool ok, const std::string& text) {
  if (!running()) return;
  token_.clear();
  auto milliseconds = int64_t((link_.loop_.now() - start_) * 1000.0);
  link_.tell(&LinkEvents::onRelayTest, ok, milliseconds, text);
}

}  // namespace plimo
