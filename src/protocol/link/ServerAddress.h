#pragma once
// Where the server is, inside the ServerSession (threads and lifetime as
// there): its name and UDP port as configured, and the looked-up IPv4
// addresses, looked up again while unknown. A name with several addresses
// (the servers of a fleet) is one server to the client: the first address
// is used, and when it stops answering the next, then the name is looked up
// again and the turn goes on after the address that failed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/link/PlimoClient.h"

namespace plimo {

class PlimoClient::ServerAddress {
 public:
  ServerAddress(PlimoClient& link, ServerSession& server, std::string host, uint16_t port);

  // Looks the name up, unless it is known or a look-up runs.
  void resolve();
  // The tick's share while unknown: a new look-up once the last is old.
  void keepResolving();
  // The next keepResolving looks up at once.
  void retryNow() { lastResolve_.reset(); }
  // The address in use gave no welcome for long: the next one, or the name
  // looked up again. True when another address is in use now.
  bool failOver();

  bool known() const { return !ip_.empty(); }
  // The server's UDP address; TCP packets count as from there too.
  bool isServer(const Address& from) const { return known() && from == endpoint(); }
  Address endpoint() const { return {ip_, port_}; }
  const std::string& host() const { return host_; }
  const std::string& ip() const { return ip_; }  // empty until resolved
  uint16_t port() const { return port_; }
  std::string text() const;  // "203.0.113.5:47800", or "(not resolved)"

 private:
  static constexpr double resolveRetry = 10.0;  // seconds

  void lookUp();
  void resolved(std::vector<std::string> ips);
  void use(const std::string& ip);

  PlimoClient& link_;
  ServerSession& server_;
  const std::string host_;
  const uint16_t port_;
  std::string ip_;
  std::vector<std::string> ips_;  // the name's addresses, as last looked up
  std::optional<double> lastResolve_;
  bool resolving_ = false;
};

}  // namespace plimo
