#include "server/UdpBatches.h"

#include <cerrno>
#include <cstring>

#include <netinet/udp.h>

namespace plimo {

namespace {

constexpr uint32_t kNone = UdpBatches::kQueue;
constexpr size_t kSlots = 2 * UdpBatches::kQueue;

// One datagram's header: its address and its buffers.
msghdr headerFor(sockaddr_in& address, iovec* buffers, size_t count) {
  msghdr h{};
  h.msg_name = &address;
  h.msg_namelen = sizeof address;
  h.msg_iov = buffers;
  h.msg_iovlen = count;
  return h;
}

}  // namespace

UdpBatches::UdpBatches()
    : inBytes_(new uint8_t[kBatch * kMaxDatagram]),
      slots_(new Slot[kSlots]()),
      outBytes_(new uint8_t[kSendBytes]) {}

void UdpBatches::prepare(int fd) {
  // Kernels before 4.18 do not know segmented sends (and would send one
  // long datagram): the option is readable only where they are known.
  int value = 0;
  socklen_t length = sizeof value;
  segmenting_ = ::getsockopt(fd, SOL_UDP, UDP_SEGMENT, &value, &length) == 0;
  // Before 5.0 there are no coalesced receives; the option is refused.
  int on = 1;
  coalescing_ = ::setsockopt(fd, SOL_UDP, UDP_GRO, &on, sizeof on) == 0;
}

int UdpBatches::takeWaiting(int fd) {
  for (size_t i = 0; i < kBatch; ++i) {
    inVec_[i] = {inBytes_.get() + i * kMaxDatagram, kMaxDatagram};
    in_[i].msg_hdr = headerFor(inFrom_[i], &inVec_[i], 1);
    if (coalescing_) {
      in_[i].msg_hdr.msg_control = inControl_[i].data();
      in_[i].msg_hdr.msg_controllen = kControl;
    }
  }
  for (;;) {
    int n = ::recvmmsg(fd, in_.data(), kBatch, MSG_DONTWAIT, nullptr);
    // An error that concerns one datagram (an ICMP answer to an earlier
    // send) does not end the batch.
    if (n >= 0 || (errno != ECONNREFUSED && errno != EHOSTUNREACH && errno != ENETUNREACH)) return n;
  }
}

size_t UdpBatches::segmentSize(const msghdr& h) {
  for (const cmsghdr* c = CMSG_FIRSTHDR(&h); c; c = CMSG_NXTHDR(const_cast<msghdr*>(&h), const_cast<cmsghdr*>(c))) {
    if (c->cmsg_level != SOL_UDP || c->cmsg_type != UDP_GRO || c->cmsg_len < CMSG_LEN(sizeof(int))) continue;
    int size = 0;
    std::memcpy(&size, CMSG_DATA(c), sizeof size);
    return size > 0 ? size_t(size) : 0;
  }
  return 0;
}

void UdpBatches::queue(int fd, const Endpoint& to, ByteView packet) {
  if (packet.size() > kMaxDatagram) return;
  if (outCount_ == kQueue || outUsed_ + packet.size() > kSendBytes) flush(fd);
  if (!packet.empty()) std::memcpy(outBytes_.get() + outUsed_, packet.data(), packet.size());
  queued_[outCount_] = {uint32_t(outUsed_), uint32_t(packet.size()), kNone, false};
  outUsed_ += packet.size();
  sockaddr_in& a = outTo_[outCount_];
  a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(to.ip);
  a.sin_port = htons(to.port);
  ++outCount_;
}

void UdpBatches::chainByAddress() {
  ++round_;
  for (uint32_t i = 0; i < outCount_; ++i) {
    const sockaddr_in& a = outTo_[i];
    uint64_t key = uint64_t(a.sin_addr.s_addr) << 16 | a.sin_port;
    size_t at = size_t((key * 0x9e3779b97f4a7c15ULL) >> 40) % kSlots;
    for (;; at = (at + 1) % kSlots) {
      Slot& slot = slots_[at];
      if (slot.round != round_) {
        slot = {round_, a.sin_addr.s_addr, a.sin_port, i};
        queued_[i].first = true;
        break;
      }
      if (slot.ip == a.sin_addr.s_addr && slot.port == a.sin_port) {
        queued_[slot.last].next = i;
        slot.last = i;
        break;
      }
    }
  }
}

size_t UdpBatches::gather() {
  // The kernel takes at most 64 segments and 64 KB in one send.
  constexpr size_t kMaxSegments = 64;
  constexpr size_t kMaxSegmentedBytes = 60000;
  // A segment must fit the path's MTU or the send fails: only sizes that
  // fit the smallest common one (1280, less the IPv6 and UDP headers) are
  // joined. Relayed screen chunks are 1183 bytes.
  constexpr size_t kMaxSegment = 1232;
  chainByAddress();
  size_t messages = 0;
  size_t vectors = 0;
  for (size_t first = 0; first < outCount_; ++first) {
    if (!queued_[first].first) continue;
    for (uint32_t at = uint32_t(first); at != kNone;) {
      size_t start = at;
      size_t size = queued_[at].size;
      size_t run = 0, bytes = 0;
      // Equal sizes in a row (the last may be shorter, which ends the run).
      bool joinable = segmenting_ && size > 0 && size <= kMaxSegment;
      do {
        const Queued& q = queued_[at];
        bool shorter = q.size < size;
        outVec_[vectors + run] = {outBytes_.get() + q.offset, q.size};
        bytes += q.size;
        ++run;
        at = q.next;
        if (shorter || !joinable) break;
      } while (at != kNone && run < kMaxSegments && queued_[at].size <= size && queued_[at].size > 0 &&
               bytes + queued_[at].size <= kMaxSegmentedBytes);
      msghdr& h = out_[messages].msg_hdr;
      h = headerFor(outTo_[start], &outVec_[vectors], run);
      outDatagrams_[messages] = run;
      if (run > 1) setSegmentSize(h, outControl_[messages], uint16_t(size));
      vectors += run;
      ++messages;
    }
  }
  return messages;
}

void UdpBatches::setSegmentSize(msghdr& h, SegmentControl& control, uint16_t size) {
  h.msg_control = control.data();
  h.msg_controllen = control.size();
  cmsghdr* c = CMSG_FIRSTHDR(&h);
  c->cmsg_level = SOL_UDP;
  c->cmsg_type = UDP_SEGMENT;
  c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
  std::memcpy(CMSG_DATA(c), &size, sizeof size);
}

void UdpBatches::flush(int fd) {
  if (outCount_ == 0) return;
  size_t messages = gather();
  size_t sent = 0;
  while (sent < messages) {
    int n = ::sendmmsg(fd, out_.data() + sent, unsigned(messages - sent), MSG_DONTWAIT);
    if (n > 0) {
      sent += size_t(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)) {
      break;  // the kernel's buffer is full: the rest is lost, as datagrams are
    } else {
      // This one cannot go: a bad address, or segmenting that the device
      // does not do (without checksum offload; it is not tried again).
      if (outDatagrams_[sent] > 1 && errno == EIO) segmenting_ = false;
      ++sent;
    }
  }
  outCount_ = 0;
  outUsed_ = 0;
}

}  // namespace plimo
