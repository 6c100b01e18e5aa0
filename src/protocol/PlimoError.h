#pragma once
// The one failure the security layer throws.

#include <cstdint>
#include <exception>

namespace plimo {

// Thrown by EcdhKey::sharedSecret and the SecureChannel constructor. Every
// other security function reports bad input as an empty optional or false.
// Callers catch it at the link boundary and turn it into their own failure
// text (a bad partner key, a failed handshake).
struct PlimoError : std::exception {
  enum Kind : uint8_t {
    // A key of the wrong length, or bytes that are not a point on P-256.
    badKey,
  };

  explicit PlimoError(Kind k) : kind(k) {}
  const char* what() const noexcept override { return "bad key"; }

  Kind kind;
};

}  // namespace plimo
