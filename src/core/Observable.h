#pragma once
// A value the windows watch. Observers hear of a change only when the new
// value differs from the old one.

#include <functional>
#include <utility>
#include <vector>

namespace plimo {

template <typename T>
class Observable {
 public:
  using Observer = std::function<void(const T&)>;

  Observable() = default;
  explicit Observable(T initial) : value_(std::move(initial)) {}

  const T& get() const { return value_; }
  operator const T&() const { return value_; }  // NOLINT: reads like the value

  // Returns true when the value changed (and observers were told).
  bool set(T value) {
    if (value == value_) return false;
    value_ = std::move(value);
    // Copy: an observer may add another while we walk the list.
    auto observers = observers_;
    for (auto& observer : observers) observer(value_);
    return true;
  }
  Observable& operator=(T value) {
    set(std::move(value));
    return *this;
  }

  // Observers live as long as the value; they run on the thread that sets it.
  void observe(Observer observer) { observers_.push_back(std::move(observer)); }

 private:
  T value_{};
  std::vector<Observer> observers_;
};

}  // namespace plimo
