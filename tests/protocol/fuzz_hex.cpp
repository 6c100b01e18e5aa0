// fromHex on arbitrary text: it either refuses or gives bytes that hex writes
// back as the same text in upper case. Text of key length then goes where a
// partner key from a PEER line goes.

#include <cctype>
#include <cstdlib>
#include <string>

#include "protocol/crypto/EcdhKey.h"
#include "protocol/crypto/PlimoCrypto.h"
#include "protocol/crypto/SigningKey.h"

using namespace plimo;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = PlimoCrypto::fromHex(text);
  if (parsed) {
    check(parsed->size() * 2 == size);
    std::string upper(text);
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    check(PlimoCrypto::hex(*parsed) == upper);
    if (parsed->size() == PlimoCrypto::kPublicKeySize) {
      static const EcdhKey mine;
      try {
        check(mine.sharedSecret(*parsed).size() == PlimoCrypto::kSecretSize);
      } catch (const Failure& e) {
        check(e.kind() == Failure::Kind::badKey);
      }
      check(!verifyEcdsa(*parsed, Bytes{1}, Bytes(64, 1)));
    }
  } else {
    bool allHex = size % 2 == 0;
    for (char c : text) allHex = allHex && std::isxdigit(static_cast<unsigned char>(c));
    check(!allHex);
  }
  // Any bytes survive the round trip the other way.
  check(PlimoCrypto::fromHex(PlimoCrypto::hex(ByteView(data, size))) == Bytes(data, data + size));
  return 0;
}
