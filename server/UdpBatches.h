#pragma once
// UDP datagrams in and out in batches: one recvmmsg takes up to kBatch
// datagrams that wait on the socket, and what the server sends while it
// handles them leaves with one sendmmsg. Datagrams of one size in a row to
// one address (a partner's relayed stream) leave as one segmented send
// (UDP_SEGMENT), which the kernel routes once and cuts into datagrams that
// are each what a single send would have made. The buffers are made once:
// nothing is allocated per datagram.
//
// One thread (the server loop's).

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <memory>

#include "core/Bytes.h"
#include "server/Endpoint.h"

namespace plimo {

class UdpBatches {
 public:
  static constexpr size_t kBatch = 64;
  // The largest datagram taken whole; a longer one is dropped, never cut.
  static constexpr size_t kMaxDatagram = 65536;
  // Bytes of queued outgoing datagrams before they are sent at once.
  static constexpr size_t kSendBytes = 1024 * 1024;

  UdpBatches();
  UdpBatches(const UdpBatches&) = delete;
  UdpBatches& operator=(const UdpBatches&) = delete;

  // Takes up to kBatch datagrams waiting on the nonblocking socket `fd` and
  // hands each to `each(from, bytes)` (the bytes live until it returns).
  // How many it took: fewer than kBatch means the socket is empty.
  template <typename Each>
  size_t receive(int fd, Each&& each) {
    int n = takeWaiting(fd);
    for (int i = 0; i < n; ++i) {
      const mmsghdr& m = in_[size_t(i)];
      if (m.msg_hdr.msg_flags & MSG_TRUNC) continue;
      const sockaddr_in& a = inFrom_[size_t(i)];
      if (a.sin_family != AF_INET) continue;
      each(Endpoint::udp(ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)),
           ByteView(inBytes_.get() + size_t(i) * kMaxDatagram, m.msg_len));
    }
    return n > 0 ? size_t(n) : 0;
  }

  // Queues a datagram to `to`; sends the queue first when it is full.
  void queue(int fd, const Endpoint& to, ByteView packet);
  // Sends what is queued. A datagram the kernel does not take now is
  // dropped, as a single send would drop it.
  void flush(int fd);

 private:
  int takeWaiting(int fd);

  // Not zeroed: pages the kernel never writes to stay out of memory.
  std::unique_ptr<uint8_t[]> inBytes_;
  std::array<mmsghdr, kBatch> in_{};
  std::array<iovec, kBatch> inVec_{};
  std::array<sockaddr_in, kBatch> inFrom_{};

  // Makes out_ from the queue: runs of datagrams to one address, as one
  // segmented message each. How many messages.
  size_t gather();

  struct Queued {
    size_t offset;
    size_t size;
  };
  std::unique_ptr<uint8_t[]> outBytes_;
  size_t outUsed_ = 0;
  size_t outCount_ = 0;
  std::array<Queued, kBatch> queued_{};
  std::array<sockaddr_in, kBatch> outTo_{};
  std::array<mmsghdr, kBatch> out_{};
  std::array<iovec, kBatch> outVec_{};
  // The segment size of each message, in its control data; 0: one datagram.
  std::array<std::array<uint8_t, CMSG_SPACE(sizeof(uint16_t))>, kBatch> outControl_{};
  std::array<size_t, kBatch> outDatagrams_{};
  // Off once the kernel refused a segmented send (an old kernel, a device
  // without checksum offload): datagrams then go one by one.
  bool segmenting_ = false;
  bool probed_ = false;
};

}  // namespace plimo
