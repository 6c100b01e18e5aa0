#pragma once
// The one guard for callbacks that may outlive the object they call: timers,
// socket deliveries, posted tasks, answers that come at any later time, and
// another object's callbacks. Such a callback holds the object through a
// std::weak_ptr and does nothing once the object is gone; weakly() wraps the
// common case, a callback that only calls the object.
//
// Where the weak pointer comes from:
// - an object owned through std::shared_ptr hands out weak_from_this(); a
//   running callback then also keeps it alive until it returns;
// - any other object keeps a LifeGuard, declared after every member its
//   callbacks touch (last, or just before a thread that starts once the rest
//   is made), so that its callbacks stop before those members go. A
//   LifeGuard's pointer only tells that the object still lives: it cannot
//   keep it alive, so a callback that may destroy the object touches nothing
//   of it afterwards.
//
// Locking and dropping happen on the object's own thread; a weak pointer may
// be copied to another thread and handed back in a posted task.

#include <functional>
#include <memory>
#include <utility>

namespace plimo {

// fn(T&, args...) as a callable of (args...) that runs only while `object`
// lives.
template <typename... Args, typename T, typename Fn>
std::function<void(Args...)> weakly(std::weak_ptr<T> object, Fn fn) {
  return [object = std::move(object), fn = std::move(fn)](Args... args) {
    if (auto self = object.lock()) fn(*self, std::forward<Args>(args)...);
  };
}

template <typename T>
class LifeGuard {
 public:
  explicit LifeGuard(T* object) : alive_(std::make_shared<bool>(true), object) {}
  LifeGuard(const LifeGuard&) = delete;
  LifeGuard& operator=(const LifeGuard&) = delete;

  // Expires when the guard goes.
  std::weak_ptr<T> weak() const { return alive_; }

  template <typename... Args, typename Fn>
  std::function<void(Args...)> weakly(Fn fn) const {
    return plimo::weakly<Args...>(weak(), std::move(fn));
  }

 private:
  // Shares the life of a token, not of the object (so it never deletes it,
  // nor takes over a weak_from_this of its own).
  std::shared_ptr<T> alive_;
};

}  // namespace plimo
