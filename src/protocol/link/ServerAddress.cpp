#include "protocol/link/ServerAddress.h"

#include "core/Weakly.h"
#include "protocol/link/ServerSession.h"

namespace plimo {

PlimoClient::ServerAddress::ServerAddress(PlimoClient& link, ServerSession& server, std::string host, uint16_t port)
    : link_(link), server_(server), host_(std::move(host)), port_(port) {}

void PlimoClient::ServerAddress::resolve() {
  if (known() || resolving_) return;
  resolving_ = true;
  lastResolve_ = link_.loop_.now();
  // The session owns this object as long as the link lives, so `this` is
  // there whenever the link is.
  link_.sockets_.resolveIPv4(host_, weakly<std::optional<std::string>>(
                                        link_.weak_from_this(), [this](PlimoClient&, std::optional<std::string> ip) {
                                          resolved(std::move(ip));
                                        }));
}

void PlimoClient::ServerAddress::keepResolving() {
  if (!lastResolve_ || link_.loop_.now() - *lastResolve_ >= resolveRetry) resolve();
}

std::string PlimoClient::ServerAddress::text() const {
  if (!known()) return "(not resolved)";
  return ip_ + ":" + std::to_string(port_);
}

void PlimoClient::ServerAddress::resolved(std::optional<std::string> ip) {
  resolving_ = false;
  if (!link_.socket_) return;  // stopped meanwhile
  if (ip) {
    ip_ = *ip;
    link_.log("Socket open on " + server_.localIP() + ":" + std::to_string(server_.localPort()) + ", server " +
              host_ + " (" + text() + ")");
    link_.tick();
  } else {
    link_.log("Cannot find server " + host_);
    server_.status("Server not found");
  }
}

}  // namespace plimo
