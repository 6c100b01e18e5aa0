#include "protocol/net/NetIoThread.h"

namespace plimo {

NetIoThread::NetIoThread()
    : work_(asio::make_work_guard(context_)), thread_([this] { context_.run(); }) {}

NetIoThread::~NetIoThread() { stop(); }

void NetIoThread::stop() {
  work_.reset();
  context_.stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace plimo
