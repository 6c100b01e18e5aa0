#pragma once
// One Asio io_context running on its own thread: the "own queue" on which a
// socket reads. Destroying it stops the context and joins the thread, so no
// handler runs after the owner is gone.

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <thread>

namespace plimo {

class NetIoThread {
 public:
  NetIoThread();
  ~NetIoThread();
  NetIoThread(const NetIoThread&) = delete;
  NetIoThread& operator=(const NetIoThread&) = delete;

  asio::io_context& context() { return context_; }
  // Stops the context and joins the thread; further handlers never run.
  // Never call it from the thread itself.
  void stop();

 private:
  asio::io_context context_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

}  // namespace plimo
