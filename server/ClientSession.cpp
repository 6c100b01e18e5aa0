#include "server/ClientSession.h"

#include <charconv>

#include "protocol/crypto/PlimoCrypto.h"

namespace plimo {

void ClientSession::noteLanAndKey(const std::string& ip, const std::string& port, const std::string& keyHex) {
  uint32_t address = 0;
  if (parseIPv4(ip, address)) lanIP = ip;
  uint16_t value = 0;
  auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec == std::errc() && end == port.data() + port.size()) lanPort = value;
  if (auto key = PlimoCrypto::fromHex(keyHex); key && key->size() == PlimoCrypto::kPublicKeySize) {
    peerKeyHex = PlimoCrypto::hex(*key);
  }
}

}  // namespace plimo
