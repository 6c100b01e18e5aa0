#pragma once
// plimo-server answers STUN Binding Requests on its UDP port, so that a
// company's own server can be one of the connection test's two STUN servers
// where public ones are blocked. STUN's first byte (0x00 or 0x01) is no
// Plimo packet type, so the two share the port without confusion.

#include <optional>

#include "core/Bytes.h"
#include "server/Endpoint.h"
#include "server/RateLimiter.h"

namespace plimo {

// The Binding Success Response that tells `from` its address, for a
// well-formed Binding Request that came over UDP; nothing for anything else
// (over TCP the address is no NAT mapping worth reporting). The answer is
// the smallest that carries it: the header and XOR-MAPPED-ADDRESS, 32 bytes
// for a request of at least 20 (the client reads MAPPED-ADDRESS only from
// servers without the XOR form).
std::optional<Bytes> stunAnswer(const Endpoint& from, ByteView packet);

// Answers to one source address. A connection test asks each server twice at
// most (the second two seconds later), and a few PCs behind one NAT address
// may test at once; a sender that forges its source to aim the answers at
// someone else gets no more than this for any number of requests.
inline constexpr Rate kStunAnswersPerAddress{5, 20};

}  // namespace plimo
