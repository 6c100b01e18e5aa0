#pragma once
// A value the windows watch. Observers hear of a change only when the new
// value differs from the old one.

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace plimo {

// Keeps one observer subscribed; dropping it (or reset) unsubscribes, so a
// window that closes leaves nothing behind. It may outlive the value it
// watches. Same thread as the value.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  ~Subscription() { reset(); }
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  void reset() {
    if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
  }

 private:
  std::function<void()> cancel_;
};

template <typename T>
class Observable {
 public:
  using Observer = std::function<void(const T&)>;

  Observable() = default;
  explicit Observable(T initial) : value_(std::move(initial)) {}
  Observable(const Observable&) = delete;
  Observable& operator=(const Observable&) = delete;

  const T& get() const { return value_; }
  operator const T&() const { return value_; }  // NOLINT: reads like the value

  // Returns true when the value changed (and observers were told).
  bool set(const T& value) {
    if (value == value_) return false;
    value_ = value;
    // Copy: an observer may add or drop observers while we walk the list; one
    // dropped meanwhile is not called.
    auto observers = *observers_;
    for (auto& entry : observers) {
      if (entry->subscribed) entry->observer(value_);
    }
    return true;
  }
  Observable& operator=(const T& value) {
    set(value);
    return *this;
  }

  // Observers run on the thread that sets the value, until the subscription
  // is dropped or the value is gone.
  [[nodiscard]] Subscription observe(Observer observer) const {
    auto entry = std::make_shared<Entry>(Entry{std::move(observer), true});
    observers_->push_back(entry);
    std::weak_ptr<List> list = observers_;
    return Subscription([list, entry] {
      entry->subscribed = false;
      if (auto observers = list.lock()) std::erase(*observers, entry);
    });
  }

 private:
  struct Entry {
    Observer observer;
    bool subscribed;
  };
  using List = std::vector<std::shared_ptr<Entry>>;

  T value_{};
  std::shared_ptr<List> observers_ = std::make_shared<List>();
};

}  // namespace plimo
