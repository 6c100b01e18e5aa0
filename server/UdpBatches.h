#pragma once
// UDP datagrams in and out in batches: one recvmmsg takes up to kBatch
// messages that wait on the socket (a message may be a coalesced run of
// datagrams from one sender), and what the server sends while it handles
// them leaves with one sendmmsg. Datagrams of one size to one address (a
// partner's relayed stream) leave as one segmented send (UDP_SEGMENT), which
// the kernel routes once and cuts into datagrams that are each what a single
// send would have made. The buffers are made once: nothing is allocated per
// datagram.
//
// One thread (the server loop's).

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "core/Bytes.h"
#include "protocol/wire/LinkLimits.h"
#include "server/Endpoint.h"

namespace plimo {

class UdpBatches {
 public:
  static constexpr size_t kBatch = 64;
  // The largest datagram taken whole; a longer one is dropped, never cut.
  // Also the largest coalesced run the kernel hands over at once.
  static constexpr size_t kMaxDatagram = link::kMaxDatagram;
  // Datagrams and bytes queued before they are sent at once: what a full
  // batch of coalesced runs may make.
  static constexpr size_t kQueue = 1024;
  static constexpr size_t kSendBytes = 1024 * 1024;

  // Makes `h` one send of a run of `size`-byte datagrams (the last may be
  // shorter), its control message kept in `control`.
  using SegmentControl = std::array<uint8_t, CMSG_SPACE(sizeof(uint16_t))>;
  static void setSegmentSize(msghdr& h, SegmentControl& control, uint16_t size);

  UdpBatches();
  UdpBatches(const UdpBatches&) = delete;
  UdpBatches& operator=(const UdpBatches&) = delete;

  // Asks the kernel of the socket `fd` for what it can do: segmented sends,
  // and coalesced receives (a run of datagrams of one size from one sender
  // handed over as one, the way a network card's receive offload joins
  // them). Each stays off where the kernel does not know it.
  void prepare(int fd);

  // Takes up to kBatch messages waiting on the nonblocking socket `fd` and
  // hands each datagram in them to `each(from, bytes)` (the bytes live
  // until it returns). How many messages it took: fewer than kBatch means
  // the socket is empty.
  template <typename Each>
  size_t receive(int fd, Each&& each) {
    int n = takeWaiting(fd);
    for (int i = 0; i < n; ++i) {
      const mmsghdr& m = in_[size_t(i)];
      if (m.msg_hdr.msg_flags & MSG_TRUNC) continue;
      const sockaddr_in& a = inFrom_[size_t(i)];
      if (a.sin_family != AF_INET) continue;
      Endpoint from = Endpoint::udp(ntohl(a.sin_addr.s_addr), ntohs(a.sin_port));
      const uint8_t* bytes = inBytes_.get() + size_t(i) * kMaxDatagram;
      size_t segment = segmentSize(m.msg_hdr);
      if (segment == 0) segment = m.msg_len;
      size_t offset = 0;
      do {
        size_t size = std::min<size_t>(segment, m.msg_len - offset);
        each(from, ByteView(bytes + offset, size));
        offset += size;
      } while (offset < m.msg_len);
    }
    return n > 0 ? size_t(n) : 0;
  }

  // Queues a datagram to `to`; sends the queue first when it is full.
  void queue(int fd, const Endpoint& to, ByteView packet);
  // Sends what is queued, each address's datagrams in the order queued. A
  // datagram the kernel does not take now is dropped, as a single send
  // would drop it.
  void flush(int fd);

 private:
  int takeWaiting(int fd);
  // The size of each datagram of a coalesced message; 0: one datagram.
  static size_t segmentSize(const msghdr& h);

  // Not zeroed: pages the kernel never writes to stay out of memory.
  std::unique_ptr<uint8_t[]> inBytes_;
  std::array<mmsghdr, kBatch> in_{};
  std::array<iovec, kBatch> inVec_{};
  std::array<sockaddr_in, kBatch> inFrom_{};
  static constexpr size_t kControl = CMSG_SPACE(sizeof(int));
  std::array<std::array<uint8_t, kControl>, kBatch> inControl_{};

  // Makes out_ from the queue: each address's datagrams together, runs of
  // equal sizes as one segmented message each. How many messages.
  size_t gather();
  // Links each queued datagram to the next one to the same address.
  void chainByAddress();

  struct Queued {
    uint32_t offset;
    uint32_t size;
    uint32_t next;  // the next one to the same address; kQueue: none
    bool first;     // the first to its address
  };
  // Open addressing over the queue's addresses, twice its size; a slot
  // belongs to the current flush when its round matches.
  struct Slot {
    uint64_t round;
    uint32_t ip;
    uint16_t port;
    uint32_t last;
  };
  std::unique_ptr<Slot[]> slots_;
  uint64_t round_ = 0;
  std::unique_ptr<uint8_t[]> outBytes_;
  size_t outUsed_ = 0;
  size_t outCount_ = 0;
  std::array<Queued, kQueue> queued_{};
  std::array<sockaddr_in, kQueue> outTo_{};
  std::array<mmsghdr, kQueue> out_{};
  std::array<iovec, kQueue> outVec_{};
  // The segment size of each message, in its control data; none: one datagram.
  std::array<SegmentControl, kQueue> outControl_{};
  std::array<size_t, kQueue> outDatagrams_{};
  // Off where the kernel refused a segmented send (an old kernel, a device
  // without checksum offload): datagrams then go one by one.
  bool segmenting_ = false;
  bool coalescing_ = false;
};

}  // namespace plimo
