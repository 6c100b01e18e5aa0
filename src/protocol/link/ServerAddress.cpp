#include "protocol/link/ServerAddress.h"

#include <algorithm>

#include "core/Weakly.h"
#include "protocol/link/ServerSession.h"

namespace plimo {

PlimoClient::ServerAddress::ServerAddress(PlimoClient& link, ServerSession& server, std::string host, uint16_t port)
    : link_(link), server_(server), host_(std::move(host)), port_(port) {}

void PlimoClient::ServerAddress::resolve() {
  if (known()) return;
  lookUp();
}

void PlimoClient::ServerAddress::lookUp() {
  if (resolving_) return;
  resolving_ = true;
  lastResolve_ = link_.loop_.now();
  // The session owns this object as long as the link lives, so `this` is
  // there whenever the link is.
  link_.sockets_.resolveAllIPv4(
      host_, weakly<std::vector<std::string>>(link_.weak_from_this(), [this](PlimoClient&, std::vector<std::string> ips) {
        resolved(std::move(ips));
      }));
}

void PlimoClient::ServerAddress::keepResolving() {
  if (!lastResolve_ || link_.loop_.now() - *lastResolve_ >= resolveRetry) resolve();
}

bool PlimoClient::ServerAddress::failOver() {
  if (!known()) return false;
  auto at = std::find(ips_.begin(), ips_.end(), ip_);
  if (at != ips_.end() && at + 1 != ips_.end()) {
    link_.log("Server " + text() + " does not answer; trying " + *(at + 1));
    use(*(at + 1));
    return true;
  }
  // The last one: the name may point elsewhere by now. The address in use
  // stays until the answer names another.
  lookUp();
  return false;
}

std::string PlimoClient::ServerAddress::text() const {
  if (!known()) return "(not resolved)";
  return ip_ + ":" + std::to_string(port_);
}

void PlimoClient::ServerAddress::use(const std::string& ip) {
  ip_ = ip;
  server_.transport().restart();
}

void PlimoClient::ServerAddress::resolved(std::vector<std::string> ips) {
  resolving_ = false;
  if (!link_.socket_) return;  // stopped meanwhile
  if (ips.empty()) {
    if (known()) return;  // a look-up after a failure: the address in use stays
    link_.log("Cannot find server " + host_);
    server_.status("Server not found");
    return;
  }
  ips_ = std::move(ips);
  if (known()) {
    // Looked up again because the last address failed: the turn goes on
    // after it (from the first when it is gone from the name).
    auto at = std::find(ips_.begin(), ips_.end(), ip_);
    const std::string& next = at == ips_.end() || at + 1 == ips_.end() ? ips_.front() : *(at + 1);
    if (next == ip_) return;
    link_.log("Server " + text() + " does not answer; trying " + next);
    use(next);
    return;
  }
  ip_ = ips_.front();
  link_.log("Socket open on " + server_.localIP() + ":" + std::to_string(server_.localPort()) + ", server " + host_ +
            " (" + text() + ")");
  link_.tick();
}

}  // namespace plimo
