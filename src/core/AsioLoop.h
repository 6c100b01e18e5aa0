#pragma once
// The real main loop of the headless application and the server: an Asio
// io_context run on the calling thread.

#include <asio/io_context.hpp>
#include <asio/executor_work_guard.hpp>

#include "core/EventLoop.h"

namespace plimo {

class AsioLoop final : public EventLoop {
 public:
  AsioLoop();
  ~AsioLoop() override;

  double now() const override;
  double wallNow() const override;
  void post(std::function<void()> fn) override;
  Timer after(double seconds, std::function<void()> fn) override;
  Timer every(double seconds, std::function<void()> fn) override;

  // Runs until stop(); returns on the calling thread.
  void run();
  // Safe from any thread, also from a signal handler's posted task.
  void stop();

  asio::io_context& context() { return context_; }

 private:
  asio::io_context context_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
};

}  // namespace plimo
