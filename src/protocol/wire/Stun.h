#pragma once
// The STUN Binding exchange (RFC 5389), the only part of STUN Plimo speaks:
// the connection test asks a server under which public address it sees this
// PC, and plimo-server answers such requests on its UDP port. Bytes in, bytes
// out; pure functions, safe from any thread. STUN is big-endian throughout.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/Bytes.h"

namespace plimo::Stun {

inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kTransactionIdSize = 12;
// A Binding answer carries a few short attributes; a datagram longer than
// this is not read past it (and costs no allocation: the reader walks it).
inline constexpr size_t kMaxAnswerSize = 1024;

using TransactionId = std::array<uint8_t, kTransactionIdSize>;

// An IPv4 address and port as a server saw them.
struct Mapped {
  uint32_t ip = 0;    // host order
  uint16_t port = 0;  // host order
  bool operator==(const Mapped&) const = default;
  // "203.0.113.7:40000", the form the connection report shows.
  std::string text() const;
};

TransactionId randomTransactionId();

// The 20-byte Binding Request: no attributes.
Bytes bindingRequest(const TransactionId& id);

// The address of a Binding Success Response to `id`: XOR-MAPPED-ADDRESS when
// present, else MAPPED-ADDRESS (an old server's), IPv4 only. Nothing for
// anything else: another message type, another transaction, no usable
// address. Only the first kMaxAnswerSize bytes are looked at.
std::optional<Mapped> mappedAddress(ByteView answer, const TransactionId& id);

// The transaction ID of a Binding Request whose header is well formed (the
// magic cookie, a length that matches the datagram), else nothing.
std::optional<TransactionId> bindingRequestId(ByteView packet);

// The Binding Success Response to `id`, carrying `seen` as XOR-MAPPED-ADDRESS.
Bytes bindingSuccess(const TransactionId& id, const Mapped& seen);

}  // namespace plimo::Stun
