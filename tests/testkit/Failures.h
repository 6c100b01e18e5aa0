#pragma once
// Which failure a call throws, for tests that check it.

#include <optional>
#include <ostream>

#include "core/Failure.h"

namespace plimo {

// GoogleTest prints kinds by number in its messages.
inline void PrintTo(Failure::Kind kind, std::ostream* out) { *out << "Failure::Kind(" << int(kind) << ")"; }

namespace testkit {

// The Failure `run` throws; nothing when it returns.
template <typename Run>
std::optional<Failure> failureOf(Run&& run) {
  try {
    run();
  } catch (const Failure& failure) {
    return failure;
  }
  return std::nullopt;
}

// Its kind alone, for EXPECT_EQ.
template <typename Run>
std::optional<Failure::Kind> failureKind(Run&& run) {
  const auto failure = failureOf(run);
  return failure ? std::optional(failure->kind()) : std::nullopt;
}

}  // namespace testkit
}  // namespace plimo
