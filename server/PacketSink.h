#pragma once
// Where the server's packets leave: the UDP socket or a TCP connection.

#include "core/Bytes.h"
#include "server/Endpoint.h"

namespace plimo {

// Called on the server loop's thread. Sending never blocks and never fails
// loudly: a packet that cannot leave now is dropped, as on any datagram path.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  // `droppable`: relayed partner traffic, which a congested TCP connection
  // may drop so that its control packets still get through.
  virtual void send(const Endpoint& to, ByteView packet, bool droppable) = 0;
  // Ends a TCP connection; nothing for a UDP endpoint. The receiver is not
  // told of a close it asked for.
  virtual void close(const Endpoint& to) = 0;
};

}  // namespace plimo
