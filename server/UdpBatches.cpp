#include "server/UdpBatches.h"

#include <cerrno>
#include <cstring>

#include <netinet/udp.h>

namespace plimo {

namespace {

// One datagram's header: its address and its one buffer.
msghdr headerFor(sockaddr_in& address, iovec& buffer) {
  msghdr h{};
  h.msg_name = &address;
  h.msg_namelen = sizeof address;
  h.msg_iov = &buffer;
  h.msg_iovlen = 1;
  return h;
}

}  // namespace

UdpBatches::UdpBatches()
    : inBytes_(new uint8_t[kBatch * kMaxDatagram]), outBytes_(new uint8_t[kSendBytes]) {}

int UdpBatches::takeWaiting(int fd) {
  for (size_t i = 0; i < kBatch; ++i) {
    inVec_[i] = {inBytes_.get() + i * kMaxDatagram, kMaxDatagram};
    in_[i].msg_hdr = headerFor(inFrom_[i], inVec_[i]);
  }
  for (;;) {
    int n = ::recvmmsg(fd, in_.data(), kBatch, MSG_DONTWAIT, nullptr);
    // An error that concerns one datagram (an ICMP answer to an earlier
    // send) does not end the batch.
    if (n >= 0 || (errno != ECONNREFUSED && errno != EHOSTUNREACH && errno != ENETUNREACH)) return n;
  }
}

void UdpBatches::queue(int fd, const Endpoint& to, ByteView packet) {
  if (packet.size() > kMaxDatagram) return;
  if (outCount_ == kBatch || outUsed_ + packet.size() > kSendBytes) flush(fd);
  if (!packet.empty()) std::memcpy(outBytes_.get() + outUsed_, packet.data(), packet.size());
  queued_[outCount_] = {outUsed_, packet.size()};
  outUsed_ += packet.size();
  sockaddr_in& a = outTo_[outCount_];
  a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(to.ip);
  a.sin_port = htons(to.port);
  ++outCount_;
}

size_t UdpBatches::gather() {
  // The kernel takes at most 64 segments and 64 KB in one send.
  constexpr size_t kMaxSegments = 64;
  constexpr size_t kMaxSegmentedBytes = 60000;
  // A segment must fit the path's MTU or the send fails: only sizes that
  // fit the smallest common one (1280, less the IPv6 and UDP headers) are
  // joined. Relayed screen chunks are 1183 bytes.
  constexpr size_t kMaxSegment = 1232;
  auto sameTo = [](const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
  };
  size_t messages = 0;
  for (size_t i = 0; i < outCount_;) {
    size_t size = queued_[i].size;
    size_t end = i + 1;
    size_t bytes = size;
    // Equal sizes in a row (the last may be shorter, which ends the run).
    bool joinable = segmenting_ && size > 0 && size <= kMaxSegment;
    while (joinable && end < outCount_ && end - i < kMaxSegments && sameTo(outTo_[end], outTo_[i]) &&
           queued_[end].size <= size && queued_[end].size > 0 && bytes + queued_[end].size <= kMaxSegmentedBytes) {
      bytes += queued_[end].size;
      bool shorter = queued_[end].size < size;
      ++end;
      if (shorter) break;
    }
    outVec_[messages] = {outBytes_.get() + queued_[i].offset, bytes};
    msghdr& h = out_[messages].msg_hdr;
    h = headerFor(outTo_[i], outVec_[messages]);
    outDatagrams_[messages] = end - i;
    if (end - i > 1) {
      h.msg_control = outControl_[messages].data();
      h.msg_controllen = outControl_[messages].size();
      cmsghdr* c = CMSG_FIRSTHDR(&h);
      c->cmsg_level = SOL_UDP;
      c->cmsg_type = UDP_SEGMENT;
      c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
      auto segment = uint16_t(size);
      std::memcpy(CMSG_DATA(c), &segment, sizeof segment);
    }
    ++messages;
    i = end;
  }
  return messages;
}

void UdpBatches::flush(int fd) {
  if (!probed_) {
    // Kernels before 4.18 do not know segmented sends (and would send one
    // long datagram): the option is readable only where they are known.
    probed_ = true;
    int value = 0;
    socklen_t length = sizeof value;
    segmenting_ = ::getsockopt(fd, SOL_UDP, UDP_SEGMENT, &value, &length) == 0;
  }
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
