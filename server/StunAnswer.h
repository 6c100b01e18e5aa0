#pragma once
// plimo-server answers STUN Binding Requests on its UDP port, so that a
// company's own server can be one of the connection test's two STUN servers
// where public ones are blocked. STUN's first byte (0x00 or 0x01) is no
// Plimo packet type, so the two share the port without confusion.

#include <optional>

#include "core/Bytes.h"
#include "server/Endpoint.h"

namespace plimo {

// The Binding Success Response that tells `from` its address, for a
// well-formed Binding Request that came over UDP; nothing for anything else
// (over TCP the address is no NAT mapping worth reporting). The answer is
// 32 bytes for a request of at least 20: little to gain for a sender that
// forges its address.
std::optional<Bytes> stunAnswer(const Endpoint& from, ByteView packet);

}  // namespace plimo
