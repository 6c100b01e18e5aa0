#include "protocol/wire/ChatLine.h"

#include "protocol/crypto/PlimoCrypto.h"

namespace plimo {

std::string newChatLineID() {
  Bytes b = PlimoCrypto::randomBytes(16);
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);
  std::string hex = PlimoCrypto::hex(b);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

}  // namespace plimo
