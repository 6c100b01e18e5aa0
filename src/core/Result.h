#pragma once
// What an operation that may fail in the ordinary course returns: its value,
// or that it failed and why. The store, files and parsers that both programs
// use answer with it, so that "absent" (an empty optional inside an ok
// Result) never reads the same as "failed" (a read that did not run).
//
// The other way to fail is a thrown Failure (core/Failure.h), for work deep
// below the boundary that alone can act on it.

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace plimo {

// Why an operation failed, in the words of the place that failed, for the log.
struct Failed {
  std::string text;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failed failed) : state_(std::in_place_index<1>, std::move(failed)) {}

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & {
    assert(ok());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(ok());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(ok());
    return std::get<0>(std::move(state_));
  }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }

  // The value, or `otherwise` when the operation failed.
  T valueOr(T otherwise) const& { return ok() ? value() : std::move(otherwise); }

  // Only when !ok().
  const std::string& error() const {
    assert(!ok());
    return std::get<1>(state_).text;
  }

 private:
  std::variant<T, Failed> state_;
};

// An operation with nothing to return but whether it ran.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Failed failed) : failed_(std::move(failed)) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const {
    assert(!ok());
    return failed_->text;
  }

 private:
  std::optional<Failed> failed_;
};

}  // namespace plimo
