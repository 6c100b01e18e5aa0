#include "protocol/wire/Stun.h"

#include <algorithm>

#include "protocol/crypto/PlimoCrypto.h"

namespace plimo::Stun {

namespace {

constexpr uint16_t kBindingRequest = 0x0001;
constexpr uint16_t kBindingSuccess = 0x0101;
constexpr uint32_t kMagicCookie = 0x2112A442;
constexpr uint16_t kMappedAddress = 0x0001;
constexpr uint16_t kXorMappedAddress = 0x0020;
constexpr uint8_t kFamilyIPv4 = 1;
// Reserved byte, family, port, four address bytes.
constexpr size_t kIPv4AddressValue = 8;
constexpr size_t kAttributeHeader = 4;
constexpr size_t kCookieAt = 4;
constexpr size_t kTransactionAt = 8;

void appendHeader(Bytes& out, uint16_t type, uint16_t length, const TransactionId& id) {
  appendBE<uint16_t>(out, type);
  appendBE<uint16_t>(out, length);
  appendBE<uint32_t>(out, kMagicCookie);
  out.insert(out.end(), id.begin(), id.end());
}

bool sameTransaction(ByteView packet, const TransactionId& id) {
  return std::equal(id.begin(), id.end(), packet.begin() + kTransactionAt);
}

std::optional<Mapped> readAddress(ByteView value, bool xored) {
  if (value.size() < kIPv4AddressValue || value[1] != kFamilyIPv4) return std::nullopt;
  Mapped m{readBE<uint32_t>(value, 4), readBE<uint16_t>(value, 2)};
  if (xored) {
    m.ip ^= kMagicCookie;
    m.port ^= uint16_t(kMagicCookie >> 16);
  }
  return m;
}

}  // namespace

std::string Mapped::text() const {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." + std::to_string((ip >> 8) & 0xFF) +
         "." + std::to_string(ip & 0xFF) + ":" + std::to_string(port);
}

TransactionId randomTransactionId() {
  Bytes random = PlimoCrypto::randomBytes(kTransactionIdSize);
  TransactionId id{};
  std::copy(random.begin(), random.end(), id.begin());
  return id;
}

Bytes bindingRequest(const TransactionId& id) {
  Bytes out;
  appendHeader(out, kBindingRequest, 0, id);
  return out;
}

std::optional<Mapped> mappedAddress(ByteView answer, const TransactionId& id) {
  answer = answer.first(std::min(answer.size(), kMaxAnswerSize));
  if (answer.size() < kHeaderSize || readBE<uint16_t>(answer, 0) != kBindingSuccess ||
      !sameTransaction(answer, id))
    return std::nullopt;
  // The walk trusts the datagram's own size, not the header's length field:
  // an attribute that runs past the bytes received ends it, and what was
  // found before still counts.
  std::optional<Mapped> plain;
  size_t at = kHeaderSize;
  while (answer.size() - at >= kAttributeHeader) {
    uint16_t type = readBE<uint16_t>(answer, at);
    size_t length = readBE<uint16_t>(answer, at + 2);
    if (!inRange(answer.size(), at + kAttributeHeader, length)) break;
    ByteView value = answer.subspan(at + kAttributeHeader, length);
    if (type == kXorMappedAddress) {
      if (auto m = readAddress(value, true)) return m;
    } else if (type == kMappedAddress && !plain) {
      plain = readAddress(value, false);
    }
    // Values are padded to a multiple of four bytes.
    size_t padded = (length + 3) & ~size_t(3);
    if (!inRange(answer.size(), at + kAttributeHeader, padded)) break;
    at += kAttributeHeader + padded;
  }
  return plain;
}

std::optional<TransactionId> bindingRequestId(ByteView packet) {
  if (packet.size() < kHeaderSize || readBE<uint16_t>(packet, 0) != kBindingRequest ||
      readBE<uint32_t>(packet, kCookieAt) != kMagicCookie ||
      readBE<uint16_t>(packet, 2) != packet.size() - kHeaderSize)
    return std::nullopt;
  TransactionId id{};
  std::copy_n(packet.begin() + kTransactionAt, kTransactionIdSize, id.begin());
  return id;
}

Bytes bindingSuccess(const TransactionId& id, const Mapped& seen) {
  Bytes out;
  appendHeader(out, kBindingSuccess, uint16_t(kAttributeHeader + kIPv4AddressValue), id);
  appendBE<uint16_t>(out, kXorMappedAddress);
  appendBE<uint16_t>(out, uint16_t(kIPv4AddressValue));
  out.push_back(0);
  out.push_back(kFamilyIPv4);
  appendBE<uint16_t>(out, uint16_t(seen.port ^ (kMagicCookie >> 16)));
  appendBE<uint32_t>(out, seen.ip ^ kMagicCookie);
  return out;
}

}  // namespace plimo::Stun
